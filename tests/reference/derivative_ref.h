// The gradient and convolution sums written out per pixel, every neighbour
// folded on its own, to check the fast kernels against byte for byte.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

void GradientMagnitude(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int size,
                       const int8_t* a, const int8_t* b);
void Convolve(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int cols, int rows,
              const double* k);

}  // namespace lumadrift::ref
