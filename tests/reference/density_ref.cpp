#include "reference/density_ref.h"

#include <cmath>

namespace lumadrift::ref {

void Histogram(const uint8_t* src, int stride, FilterRange r, int32_t counts[256])
{
    for (int v = 0; v < 256; ++v)
        counts[v] = 0;
    for (int y = r.y0; y < r.y0 + r.h; ++y)
        for (int x = r.x0; x < r.x0 + r.w; ++x)
            counts[src[y * stride + x]] += 1;
}

void Contrast(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double factor)
{
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            const double t = src[y * stride + x] * factor + 0.5;
            double n = std::trunc(t);
            if (std::isnan(n))
                n = 0;
            if (n > 255)
                n = 255;
            if (n < 0)
                n = 0;
            dst[y * stride + x] = static_cast<uint8_t>(n);
        }
    }
}

void Gamma(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double gamma)
{
    const double e = 1.0 / gamma;
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(static_cast<int>(std::pow(i / 255.0, e) * 255.0));
    for (int y = r.y0; y < r.y0 + r.h; ++y)
        for (int x = r.x0; x < r.x0 + r.w; ++x)
            dst[y * stride + x] = table[src[y * stride + x]];
}

void Lookup(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256])
{
    for (int y = r.y0; y < r.y0 + r.h; ++y)
        for (int x = r.x0; x < r.x0 + r.w; ++x)
            dst[y * stride + x] = table[src[y * stride + x]];
}

void Equalize(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    int32_t count[256];
    Histogram(src, stride, r, count);
    double c[256];
    double cum = 0;
    double cmin = 255.0;
    for (int v = 0; v < 256; ++v) {
        if (count[v] > 0) {
            cum = cum + count[v];
            c[v] = cum / (static_cast<double>(r.w) * r.h);
            if (c[v] < cmin)
                cmin = c[v];
        }
    }
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            if (cmin == 1.0) {
                dst[y * stride + x] = 0;
                continue;
            }
            const double g = (c[src[y * stride + x]] - cmin) * (255.0 / (1.0 - cmin));
            dst[y * stride + x] = g > 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(g));
        }
    }
}

}  // namespace lumadrift::ref
