// Smoothing over an X x Y window: moving average, and the rank filter (the
// value at a given position of the sorted window; the median is the rank
// filter at position X * Y / 2).
//
// Common contract of the kernels: src and dst point at pixel (0, 0) of planes
// whose rows are `stride` bytes apart; pixel (x, y) is byte y * stride + x.
// Only the pixels of the range r (x0 <= x < x0 + w, y0 <= y < y0 + h) are read
// and written; every pixel outside it is left as it was. The window is centred
// on the pixel (offsets -X/2..X/2 across, -Y/2..Y/2 down) and every offset
// outside the range is folded back into it with FoldIntoRange, separately in
// x and y, so a window larger than the range is fine. src and dst must not
// overlap. Sizes or positions that CheckKernelSizes / CheckRankKernel refuse
// write nothing.
//
// The bank-level entries read the bank's source plane and write its
// destination plane over the bank's range, and do nothing on an empty bank.
// When source and destination are the same plane they work from a copy of it.
#pragma once

#include <cstdint>

#include "filters/border.h"

namespace lumadrift {

class PlaneBank;

// The input rules of the kernel dialog, shared by the dialog and by replay.
enum class KernelCheck {
    kOk,
    kSizeBelowOne,     // a size below 1 after raising even sizes
    kWindowTooLarge,   // X * Y above kMaxWindowPixels
    kRankOutOfRange,   // rank < 0 or rank >= X * Y
};

// The window sum of 255s must fit a 32-bit signed integer.
constexpr long long kMaxWindowPixels = 2147483647LL / 255;

// Even sizes are raised by one (4 -> 5, 0 -> 1, -2 -> -1); odd ones stay.
int RaiseEvenSize(int size);

// Raises even sizes in place, then refuses a size below 1 or a window of more
// than kMaxWindowPixels pixels. x and y are corrected even when refused.
KernelCheck CheckKernelSizes(int& x, int& y);

// CheckKernelSizes, then the rank position against the corrected window:
// 0 <= rank < X * Y.
KernelCheck CheckRankKernel(int& x, int& y, int rank);

// The position the rank dialog's choice stands for: 0 lowest, 1 highest,
// 2 median (X * Y / 2), 3 the specified position as given. Sizes must have
// passed CheckKernelSizes.
enum RankChoice : int { kRankLowest = 0, kRankHighest = 1, kRankMedian = 2, kRankSpecified = 3 };
int RankPosition(int choice, int x, int y, int specified);

inline int MedianRank(int x, int y) { return x * y / 2; }

// D = (integer sum of the X * Y folded window values) / (X * Y), truncated.
void MovingAverageKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x,
                         int y);

// D = element `rank` (0-based) of the X * Y folded window values sorted
// ascending.
void RankFilterKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y,
                      int rank);

// Window sizes of the moving average and the median.
struct KernelSizeParams {
    int x = 3;
    int y = 3;
};
// The rank filter: window, position, and the choice that gave the position.
struct RankParams {
    int x = 3;
    int y = 3;
    int rank = 0;
    int choice = kRankLowest;
};

void MovingAverage(PlaneBank& bank, int x, int y);
void RankFilter(PlaneBank& bank, int x, int y, int rank);

}  // namespace lumadrift
