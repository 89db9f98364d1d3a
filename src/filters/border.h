// The border rule of every neighbourhood filter, and the view of a plane
// that filter kernels work on.
#pragma once

#include <cstdint>

namespace lumadrift {

// The rectangle a filter works on, in plane pixels (in this system always the
// whole plane: x0 = y0 = 0).
struct FilterRange {
    int x0 = 0;
    int y0 = 0;
    int w = 0;
    int h = 0;
};

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
