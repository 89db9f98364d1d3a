#include "reference/derivative_ref.h"

#include <cmath>
#include <cstddef>

namespace lumadrift::ref {

namespace {

uint8_t S(const uint8_t* src, int stride, FilterRange r, int x, int y)
{
    const int fx = FoldIntoRange(x, r.x0, r.w);
    const int fy = FoldIntoRange(y, r.y0, r.h);
    return src[static_cast<size_t>(fy) * stride + fx];
}

}  // namespace

void GradientMagnitude(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int size,
                       const int8_t* A, const int8_t* B)
{
    const int h = size / 2;
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            // 32-bit arithmetic that wraps, as the machine's int does.
            uint32_t a = 0, b = 0;
            for (int dy = -h; dy <= h; ++dy) {
                for (int dx = -h; dx <= h; ++dx) {
                    const int v = S(src, stride, r, x + dx, y + dy);
                    a += static_cast<uint32_t>(v * A[(h + dx) + size * (h + dy)]);
                    b += static_cast<uint32_t>(v * B[(h + dx) + size * (h + dy)]);
                }
            }
            const int32_t sq = static_cast<int32_t>(a * a + b * b);
            const double root = std::sqrt(static_cast<double>(sq));
            // The root of a negative sum is not a number; converting it gives
            // the smallest int on this machine, which the clamp turns into 0.
            int g = std::isnan(root) ? -2147483647 - 1 : static_cast<int>(root);
            if (g < 0)
                g = 0;
            if (g > 255)
                g = 255;
            dst[static_cast<size_t>(y) * stride + x] = static_cast<uint8_t>(g);
        }
    }
}

void Convolve(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int cols, int rows,
              const double* k)
{
    double sum = 0.0;
    for (int i = 0; i < cols * rows; ++i)
        sum += k[i];
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            double t = 0.0;
            for (int dy = -(rows / 2); dy <= rows / 2; ++dy)
                for (int dx = -(cols / 2); dx <= cols / 2; ++dx)
                    t += S(src, stride, r, x + dx, y + dy) * k[(cols / 2 + dx) + cols * (rows / 2 + dy)];
            if (sum > 0)
                t = t / sum;
            if (t < 0)
                t = 0;
            if (t > 255)
                t = 255;
            // Not a number converts to the smallest int, whose low byte is 0.
            dst[static_cast<size_t>(y) * stride + x] = std::isnan(t) ? 0 : static_cast<uint8_t>(static_cast<int>(t));
        }
    }
}

}  // namespace lumadrift::ref
