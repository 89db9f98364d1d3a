// Density conversion: histogram, contrast, gamma correction, equalization.
//
// Common contract of the kernels: src and dst point at pixel (0, 0) of planes
// whose rows are `stride` bytes apart; pixel (x, y) is byte y * stride + x.
// Only the pixels of the range r (x0 <= x < x0 + w, y0 <= y < y0 + h) are read
// and written; a range with w or h below 1 does nothing. These are point
// operations, so src may equal dst.
//
// The bank-level entries read the bank's source plane and write its
// destination plane over the bank's range, and do nothing on an empty bank.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift {

class PlaneBank;

// counts[v] = number of range pixels of density v; all 256 counters are
// cleared first.
void HistogramKernel(const uint8_t* src, int stride, FilterRange r, int32_t counts[256]);

// D = trunc(S * factor + 0.5) in double arithmetic, then 255 when above 255
// and 0 when below 0: half up for positive results, 0 for any factor <= 0.
// A factor that makes the product NaN (NaN itself, or infinity times 0) gives
// 0 for those pixels. Never refuses.
void ContrastTable(double factor, uint8_t table[256]);
void ContrastKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double factor);

// Gamma must be greater than 0; 0, negatives and NaN would make an infinite
// or negative exponent and are refused: the caller shows a message or fails
// the replayed step, and nothing is written.
bool IsGammaAccepted(double gamma);
// T[i] = trunc(pow(i / 255.0, 1.0 / gamma) * 255.0), always 0..255 for an
// accepted gamma. Returns false (table untouched) for a refused one.
bool GammaTable(double gamma, uint8_t table[256]);
// D = T[S]; a refused gamma writes nothing.
void GammaKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double gamma);

// With c[v] the cumulative fraction of range pixels at density <= v (for the
// densities present) and cmin the fraction of the smallest density present:
// D = trunc((c[S] - cmin) * (255.0 / (1.0 - cmin))), 255 where that exceeds
// 255.0. The smallest density present becomes 0 and the largest 255 (254
// where the double product falls just below). A range of one single density
// becomes all 0.
void EqualizeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

// D = table[S]: the look-up every table filter here ends in.
void LookupKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256]);

// How the table filters (contrast, gamma, equalization's mapping and
// LookupKernel) look their bytes up, by core/isa.h's active level: at
// Avx512, 64-byte byte permutes (kVbmi) when the processor also has VBMI,
// else as at Avx2; at Avx2, 32-byte shuffles over sixteen 16-entry rows
// (kAvx2); below, one load per byte (kScalar). Every path gives the same
// bytes.
enum class TableLookupPath { kScalar, kAvx2, kVbmi };
// False when the processor or the build lacks the path's instructions.
bool TableLookupPathAvailable(TableLookupPath path);
// The path the next call will take.
TableLookupPath ActiveTableLookupPath();

struct ContrastParams {
    double factor = 1.0;
};
struct GammaParams {
    double value = 1.0;
};

// Over the bank's source plane; counts are left untouched on an empty bank.
void Histogram(const PlaneBank& bank, int32_t counts[256]);
void Contrast(PlaneBank& bank, double factor);
// Does nothing for a refused gamma (see IsGammaAccepted).
void GammaCorrect(PlaneBank& bank, double gamma);
void Equalize(PlaneBank& bank);

}  // namespace lumadrift
