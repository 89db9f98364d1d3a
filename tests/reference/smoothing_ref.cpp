#include "reference/smoothing_ref.h"

#include <cstddef>
#include <vector>

namespace lumadrift::ref {

void MovingAverage(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y)
{
    const int hx = X / 2, hy = Y / 2;
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            int sum = 0;
            for (int dy = -hy; dy <= hy; ++dy)
                for (int dx = -hx; dx <= hx; ++dx)
                    sum += src[FoldIntoRange(y + dy, r.y0, r.h) * stride +
                               FoldIntoRange(x + dx, r.x0, r.w)];
            dst[y * stride + x] = static_cast<uint8_t>(sum / (X * Y));
        }
    }
}

void RankFilter(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y, int rank)
{
    const int hx = X / 2, hy = Y / 2, n = X * Y;
    std::vector<uint8_t> buffer(static_cast<size_t>(n));
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            int i = 0;
            for (int dy = -hy; dy <= hy; ++dy)
                for (int dx = -hx; dx <= hx; ++dx)
                    buffer[i++] = src[FoldIntoRange(y + dy, r.y0, r.h) * stride +
                                      FoldIntoRange(x + dx, r.x0, r.w)];
            bool swapped = true;
            while (swapped) {
                swapped = false;
                for (int j = 0; j + 1 < n; ++j) {
                    if (buffer[j] > buffer[j + 1]) {
                        const uint8_t t = buffer[j];
                        buffer[j] = buffer[j + 1];
                        buffer[j + 1] = t;
                        swapped = true;
                    }
                }
            }
            dst[y * stride + x] = buffer[rank];
        }
    }
}

}  // namespace lumadrift::ref
