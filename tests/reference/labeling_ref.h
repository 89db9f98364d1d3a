// The labeling steps written out literally: a label map of one value per
// pixel, an equivalence table that is relabelled whole on every merge, and a
// renumbering pass. The table grows as needed, so it labels any image
// exactly and serves as the yardstick for the fast kernel.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

struct LabelResult {
    int count = 1;
    int overflow = 0;
    int provisional = 0;  // provisional labels the first scan handed out
};

LabelResult Label(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

}  // namespace lumadrift::ref
