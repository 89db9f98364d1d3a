#include "filters/affine.h"

#include <cmath>
#include <cstddef>

namespace lumadrift {

namespace {

// The integers a double truncates to without leaving the int range.
inline bool TruncatesToInt(double t) { return t > -2147483648.0 && t < 2147483648.0; }

}  // namespace

void AffineTransformKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range,
                           const AffineParams& p)
{
    if (!src || !dst || range.w <= 0 || range.h <= 0)
        return;
    const double theta = p.angle * 3.141592654 / 180.0;
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const int x0 = range.x0, y0 = range.y0;
    const int x1 = range.x0 + range.w;  // one past the last column
    const int y1 = range.y0 + range.h;

    for (int y = y0; y < y1; ++y) {
        uint8_t* out = dst + static_cast<size_t>(y) * stride;
        // v and its products depend on the row only; they are the same
        // values the per-pixel formula would compute.
        const double v = y - p.centerY - p.shiftY;
        const double vs = v * s;
        const double vc = v * c;
        for (int x = x0; x < x1; ++x) {
            const double u = x - p.centerX - p.shiftX;
            const double X = (u * c - vs + p.centerX) / p.zoomX;
            const double Y = (u * s + vc + p.centerY) / p.zoomY;
            const double tx = X + 0.5;
            const double ty = Y + 0.5;
            if (!TruncatesToInt(tx) || !TruncatesToInt(ty)) {
                out[x] = 0;
                continue;
            }
            const int J = static_cast<int>(tx);
            const int K = static_cast<int>(ty);
            if (J < x0 || J >= x1 || K < y0 || K >= y1) {
                out[x] = 0;
                continue;
            }
            const double fx = X - J;
            const double fy = Y - K;
            const uint8_t* row = src + static_cast<size_t>(K) * stride;
            const bool right = J < x1 - 1;
            const bool down = K < y1 - 1;
            const int p00 = row[J];
            const int p01 = right ? row[J + 1] : p00;
            const uint8_t* below = down ? row + stride : row;
            const int p10 = below[J];
            const int p11 = right ? below[J + 1] : p10;
            const double L = (1 - fy) * ((1 - fx) * p00 + fx * p01) + fy * ((1 - fx) * p10 + fx * p11);
            out[x] = L < 0 ? 0 : L > 255 ? 255 : static_cast<uint8_t>(L);
        }
    }
}

void AffineTransform(PlaneBank& bank, double angle, double centerX, double centerY, double zoomX,
                     double zoomY, double shiftX, double shiftY)
{
    if (bank.empty())
        return;
    const uint8_t* src = bank.SourcePlane();
    uint8_t* dst = bank.DestinationPlane();
    if (!src || !dst)
        return;
    const FilterRange range{bank.QueryPlaneBank(kBankRangeLeft), bank.QueryPlaneBank(kBankRangeTop),
                            bank.QueryPlaneBank(kBankRangeWidth), bank.QueryPlaneBank(kBankRangeHeight)};
    AffineTransformKernel(src, dst, bank.width(), range,
                          {angle, centerX, centerY, zoomX, zoomY, shiftX, shiftY});
}

}  // namespace lumadrift
