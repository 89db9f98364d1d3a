// Literal per-pixel loops of the smoothing filters: every window gathered
// pixel by pixel through FoldIntoRange, summed or exchange-sorted anew.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

// Odd sizes of at least 1 only.
void MovingAverage(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y);
void RankFilter(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y,
                int rank);

}  // namespace lumadrift::ref
