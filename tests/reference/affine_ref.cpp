#include "reference/affine_ref.h"

#include <cmath>
#include <cstddef>

namespace lumadrift::ref {

void AffineTransform(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double angle,
                     double centerX, double centerY, double zoomX, double zoomY, double shiftX,
                     double shiftY)
{
    auto S = [&](int x, int y) { return src[static_cast<size_t>(y) * stride + x]; };
    const double theta = angle * 3.141592654 / 180;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        for (int x = r.x0; x < r.x0 + r.w; ++x) {
            uint8_t& d = dst[static_cast<size_t>(y) * stride + x];
            const double u = x - centerX - shiftX;
            const double v = y - centerY - shiftY;
            const double X = (u * c - v * s + centerX) / zoomX;
            const double Y = (u * s + v * c + centerY) / zoomY;
            if (!std::isfinite(X) || !std::isfinite(Y) || std::fabs(X) > 1e9 || std::fabs(Y) > 1e9) {
                d = 0;  // far outside, or a zero zoom
                continue;
            }
            const int J = static_cast<int>(X + 0.5);
            const int K = static_cast<int>(Y + 0.5);
            if (J < r.x0 || J >= r.x0 + r.w || K < r.y0 || K >= r.y0 + r.h) {
                d = 0;
                continue;
            }
            const double fx = X - J;
            const double fy = Y - K;
            const bool colStep = J < r.x0 + r.w - 1;
            const bool rowStep = K < r.y0 + r.h - 1;
            const int p00 = S(J, K);
            const int p01 = colStep ? S(J + 1, K) : p00;
            const int p10 = rowStep ? S(J, K + 1) : p00;
            int p11;
            if (colStep && rowStep)
                p11 = S(J + 1, K + 1);
            else if (colStep)
                p11 = p01;
            else if (rowStep)
                p11 = p10;
            else
                p11 = p00;
            double L = (1 - fy) * ((1 - fx) * p00 + fx * p01) + fy * ((1 - fx) * p10 + fx * p11);
            if (L < 0)
                L = 0;
            if (L > 255)
                L = 255;
            d = static_cast<uint8_t>(static_cast<int>(L));
        }
    }
}

}  // namespace lumadrift::ref
