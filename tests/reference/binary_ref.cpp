#include "reference/binary_ref.h"

namespace lumadrift::ref {
namespace {

template <bool kOr>
void Combine9(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            int v = kOr ? 0 : 255;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int sx = FoldIntoRange(x + dx, r.x0, r.w);
                    const int sy = FoldIntoRange(y + dy, r.y0, r.h);
                    const int s = src[sy * stride + sx];
                    v = kOr ? (v | s) : (v & s);
                }
            }
            dst[y * stride + x] = static_cast<uint8_t>(v);
        }
    }
}

}  // namespace

void Binarize(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int low, int high,
              int invert)
{
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            const int v = src[y * stride + x];
            const bool inside = low < v && v < high;
            if (!invert)
                dst[y * stride + x] = inside ? 255 : 0;
            else
                dst[y * stride + x] = inside ? 0 : 255;
        }
    }
}

void Dilate(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    Combine9<true>(src, dst, stride, r);
}

void Erode(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    Combine9<false>(src, dst, stride, r);
}

void Thin(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    const int x0 = r.x0, y0 = r.y0, w = r.w, h = r.h;
    auto D = [&](int x, int y) -> uint8_t& { return dst[y * stride + x]; };
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            D(x, y) = src[y * stride + x];

    int phase = 1;
    int mark = 21;
    for (;;) {
        bool changed = false;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                if (D(x, y) != 255)
                    continue;
                // The opposite neighbour stands in at the edge; folded, so a
                // range one pixel across reads the pixel itself.
                const int up = y == y0 ? D(x, FoldIntoRange(y + 1, y0, h)) : D(x, y - 1);
                const int down = y == y0 + h - 1 ? D(x, FoldIntoRange(y - 1, y0, h)) : D(x, y + 1);
                const int left = x == x0 ? D(FoldIntoRange(x + 1, x0, w), y) : D(x - 1, y);
                const int right = x == x0 + w - 1 ? D(FoldIntoRange(x - 1, x0, w), y) : D(x + 1, y);
                bool candidate;
                if (phase == 1)
                    candidate = ((up == 0 && down == 255) || (up == 255 && down == 0)) && left + right > 0;
                else
                    candidate = ((left == 0 && right == 255) || (left == 255 && right == 0)) && up + down > 0;
                if (candidate) {
                    D(x, y) = static_cast<uint8_t>(mark);
                    changed = true;
                }
            }
        }
        if (phase == 1 && !changed)
            break;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                if (D(x, y) != mark)
                    continue;
                auto n = [&](int dx, int dy) {
                    return D(FoldIntoRange(x + dx, x0, w), FoldIntoRange(y + dy, y0, h)) & 1;
                };
                const int x1 = n(-1, -1), x2 = n(0, -1), x3 = n(1, -1), x4 = n(-1, 0);
                const int x5 = n(1, 0), x6 = n(-1, 1), x7 = n(0, 1), x8 = n(1, 1);
                const int s4 = x2 + x4 + x5 + x7;
                const int s8 = s4 + x1 + x3 + x6 + x8;
                if (s8 > 6 || s8 < 2) {
                    D(x, y) = 41;
                    continue;
                }
                const int c = s4 - x1 * x2 * x4 - x2 * x3 * x5 - x4 * x6 * x7 - x5 * x7 * x8;
                D(x, y) = c == 1 ? 0 : 41;
            }
        }
        if (phase == 1) {
            phase = 2;
            mark = 31;
        } else {
            phase = 1;
            mark = 21;
        }
    }
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            if (D(x, y) != 0)
                D(x, y) = 255;
}

}  // namespace lumadrift::ref
