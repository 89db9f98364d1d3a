// The affine mapping and four-sample interpolation written out per pixel.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

void AffineTransform(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double angle,
                     double centerX, double centerY, double zoomX, double zoomY, double shiftX,
                     double shiftY);

}  // namespace lumadrift::ref
