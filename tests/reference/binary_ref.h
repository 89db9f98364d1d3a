// Literal per-pixel loops of the binary filters, written as plainly as the
// arithmetic reads, to check the fast kernels against byte for byte.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

void Binarize(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int low, int high,
              int invert);
void Dilate(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);
void Erode(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);
void Thin(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

}  // namespace lumadrift::ref
