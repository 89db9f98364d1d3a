// The border rule of every neighbourhood filter, and the view of a plane
// that filter kernels work on.
#pragma once

#include <cstdint>

#include "core/plane_bank.h"

namespace lumadrift {

// The rectangle a filter works on, in plane pixels (in this system always the
// whole plane: x0 = y0 = 0).
struct FilterRange {
    int x0 = 0;
    int y0 = 0;
    int w = 0;
    int h = 0;
};

// The bank's source and destination planes and its range, as the kernels
// take them.
struct BankView {
    const uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    int stride = 0;
    FilterRange range;
    bool HasPixels() const { return range.w > 0 && range.h > 0; }
};

inline FilterRange BankRange(const PlaneBank& bank)
{
    return {bank.QueryPlaneBank(kBankRangeLeft), bank.QueryPlaneBank(kBankRangeTop),
            bank.QueryPlaneBank(kBankRangeWidth), bank.QueryPlaneBank(kBankRangeHeight)};
}

// false on an empty bank or when a plane is missing.
inline bool ResolveBank(PlaneBank& bank, BankView& view)
{
    if (bank.empty())
        return false;
    view.src = bank.SourcePlane();
    view.dst = bank.DestinationPlane();
    view.stride = bank.width();
    view.range = BankRange(bank);
    return view.src && view.dst;
}

// Maps a coordinate outside [start, start + length) back inside by mirror
// reflection that repeats the edge pixel: start - 1 -> start, start - 2 ->
// start + 1, start + length -> start + length - 1. Beyond one length of
// overshoot the mirror repeats with period 2 * length, so every read stays
// inside the range, even for a range one pixel wide or a window larger than
// the range. length must be positive.
inline int FoldIntoRange(int v, int start, int length)
{
    const long long period = 2LL * length;
    long long m = (static_cast<long long>(v) - start) % period;
    if (m < 0)
        m += period;
    if (m >= length)
        m = period - 1 - m;
    return start + static_cast<int>(m);
}

}  // namespace lumadrift
