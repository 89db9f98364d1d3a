// Rotation, scaling and shift of the range's content by inverse mapping
// with interpolation from four source pixels.
//
// Pixel contract, for every destination pixel (x, y) of the range, in plane
// coordinates and row order:
// - theta = angle * 3.141592654 / 180 (that constant, not a closer pi);
//   u = x - centreX - shiftX, v = y - centreY - shiftY;
//   X = (u cos - v sin + centreX) / zoomX, Y = (u sin + v cos + centreY) / zoomY.
// - J = X + 0.5 and K = Y + 0.5, each truncated toward zero. When (J, K) lies
//   outside the range, or X or Y is not finite (a zero zoom), the pixel is 0.
// - Otherwise fx = X - J, fy = Y - K (down to -1 just left of or above the
//   range's origin), samples p00 = S(J, K), p01 = S(J + 1, K), p10 =
//   S(J, K + 1), p11 = S(J + 1, K + 1), where a step past the range's last
//   column or row repeats the sample before it; L = (1 - fy)((1 - fx) p00 +
//   fx p01) + fy((1 - fx) p10 + fx p11) in double, clamped to 0..255 and
//   truncated toward zero.
// - Only range pixels are read; only the destination range is written.
//   Source and destination must be different planes.
// - The work runs on the widest vector instructions the processor has;
//   every path gives the same bytes, the quotients included (see
//   AffineQuotients).
#pragma once

#include <cstdint>

#include "core/plane_bank.h"
#include "filters/border.h"

namespace lumadrift {

struct AffineParams {
    double angle = 0.0;  // degrees
    double centerX = 0.0, centerY = 0.0;
    double zoomX = 0.0, zoomY = 0.0;
    double shiftX = 0.0, shiftY = 0.0;
};

// Paths: scalar, Avx2 and Avx512 (core/isa.h picks; the Sse2 level takes
// the scalar one). Every path gives the same bytes.

// q[i] = n[i] / d for i < count, computed the way the widest allowed path
// computes source positions; open to tests that hold it to the division
// bit for bit.
void AffineQuotients(const double* n, double d, double* q, int count);

void AffineTransformKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range,
                           const AffineParams& p);

// The bank's source plane into its destination plane over the bank's range;
// nothing on an empty bank.
void AffineTransform(PlaneBank& bank, const AffineParams& p);

}  // namespace lumadrift
