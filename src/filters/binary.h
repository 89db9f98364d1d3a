// Binarization, 3 x 3 dilation and erosion, and thinning.
//
// Common contract of the kernels: src and dst point at pixel (0, 0) of planes
// whose rows are `stride` bytes apart; pixel (x, y) is byte y * stride + x.
// Only the pixels of the range r (x0 <= x < x0 + w, y0 <= y < y0 + h, w and h
// at least 1) are read and written; every pixel outside it is left as it was.
// A range with w or h below 1 does nothing. Reads past the range edge are
// folded back into it with FoldIntoRange, separately in x and y.
//
// The bank-level entries read the bank's source plane and write its
// destination plane over the bank's range, and do nothing on an empty bank.
// When source and destination are the same plane, the neighbourhood filters
// work from a copy of it, so the result is the one two planes would give.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift {

class PlaneBank;

// D = 255 where low < S < high (both strict), 0 elsewhere; the other way
// round with invert != 0. low >= high gives an empty band: all 0 (all 255
// inverted). Any int thresholds are accepted. src may equal dst.
void BinarizeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r,
                    int low, int high, int invert);

// D = bitwise OR (dilate) / AND (erode) of the nine folded neighbours of S,
// centre included. On 0/255 pictures this is the 3 x 3 square dilation and
// erosion; on other values it stays a bitwise combination (1 OR 2 = 3).
// src and dst must not overlap.
void DilateKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);
void ErodeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

// Copies the range of src into dst, then thins the white (255) objects in
// place in dst: alternating marking scans (phase 1 marks 21 on pixels with a
// 0/255 pair above and below, phase 2 marks 31 with the pair left and right)
// and deletion scans that remove a marked pixel (0) when it has 2..6 odd
// neighbours and connectivity number 1, otherwise keep it for good (41).
// Every scan runs in row order and sees the changes of earlier pixels of the
// same scan; it stops at the first phase-1 scan that marks nothing, and every
// non-zero pixel of the range ends as 255. A missing marking neighbour at the
// range edge is the opposite neighbour (folded: in a range one pixel wide or
// high, the pixel itself). src may equal dst.
void ThinKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r);

// low <= high is expected from the caller, who orders the two thresholds of
// the dialog and sets invert when they were given the other way round.
void Binarize(PlaneBank& bank, int low, int high, int invert);

// The two thresholds as the operator gives them: MIN <= v <= MAX gives 255;
// with MIN > MAX the band between them is inverted.
struct BinarizeParams {
    int min = 128;
    int max = 128;
};
void Binarize(PlaneBank& bank, const BinarizeParams& p);
void Dilate(PlaneBank& bank);
void Erode(PlaneBank& bank);
void Thin(PlaneBank& bank);

}  // namespace lumadrift
