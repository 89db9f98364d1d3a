// Literal per-pixel loops of the density conversions, to check the fast
// kernels against byte for byte.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift::ref {

void Histogram(const uint8_t* src, int stride, FilterRange r, int32_t counts[256]);
void Contrast(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double factor);
// gamma > 0 only.
void Gamma(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double gamma);
// dst = table[src] over the range.
void Lookup(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256]);
void Equalize(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

}  // namespace lumadrift::ref
