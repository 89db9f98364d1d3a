#include "filters/affine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lumadrift {

namespace {

// The integers a double truncates to without leaving the int range.
inline bool TruncatesToInt(double t) { return t > -2147483648.0 && t < 2147483648.0; }

struct Mapping {
    const uint8_t* src;
    int stride;
    int x0, y0, x1, y1;  // range, x1 and y1 one past the end
    double c, s;
    AffineParams p;
};

// The four samples around (J, K), which must lie in the range: a step past
// the last column or row repeats the sample before it, which is the same as
// stepping by 0.
inline void Samples(const Mapping& m, int J, int K, int& p00, int& p01, int& p10, int& p11)
{
    const uint8_t* row = m.src + static_cast<size_t>(K) * m.stride;
    const uint8_t* below = K < m.y1 - 1 ? row + m.stride : row;
    const int right = J < m.x1 - 1 ? J + 1 : J;
    p00 = row[J];
    p01 = row[right];
    p10 = below[J];
    p11 = below[right];
}

// One pixel exactly as the contract reads; vs and vc are v * sin and v * cos
// of the row.
inline uint8_t MapPixel(const Mapping& m, int x, double vs, double vc)
{
    const double u = x - m.p.centerX - m.p.shiftX;
    const double X = (u * m.c - vs + m.p.centerX) / m.p.zoomX;
    const double Y = (u * m.s + vc + m.p.centerY) / m.p.zoomY;
    const double tx = X + 0.5;
    const double ty = Y + 0.5;
    if (!TruncatesToInt(tx) || !TruncatesToInt(ty))
        return 0;
    const int J = static_cast<int>(tx);
    const int K = static_cast<int>(ty);
    if (J < m.x0 || J >= m.x1 || K < m.y0 || K >= m.y1)
        return 0;
    const double fx = X - J;
    const double fy = Y - K;
    int p00, p01, p10, p11;
    Samples(m, J, K, p00, p01, p10, p11);
    const double L = (1 - fy) * ((1 - fx) * p00 + fx * p01) + fy * ((1 - fx) * p10 + fx * p11);
    return L < 0 ? 0 : L > 255 ? 255 : static_cast<uint8_t>(L);
}

// Source position of (x, y) by the same formula, for the tile test below.
inline void MapCoords(const Mapping& m, int x, int y, double& X, double& Y)
{
    const double u = x - m.p.centerX - m.p.shiftX;
    const double v = y - m.p.centerY - m.p.shiftY;
    X = (u * m.c - v * m.s + m.p.centerX) / m.p.zoomX;
    Y = (u * m.s + v * m.c + m.p.centerY) / m.p.zoomY;
}

// True when the tile certainly maps outside the range. The exact mapping is
// affine, so the tile's source positions lie within the parallelogram of
// its four corners; when all four lie more than two pixels beyond one edge,
// rounding (a tiny fraction of a pixel) cannot bring any pixel back inside.
bool TileOutside(const Mapping& m, int xa, int xb, int ya, int yb)
{
    const int xs[2] = {xa, xb - 1}, ys[2] = {ya, yb - 1};
    bool left = true, right = true, above = true, below = true;
    for (int y : ys) {
        for (int x : xs) {
            double X, Y;
            MapCoords(m, x, y, X, Y);
            left = left && X < m.x0 - 2.0;
            right = right && X > m.x1 + 2.0;
            above = above && Y < m.y0 - 2.0;
            below = below && Y > m.y1 + 2.0;
        }
    }
    return left || right || above || below;
}

void MapSegmentScalar(const Mapping& m, int xa, int xb, double vs, double vc, uint8_t* out)
{
    for (int x = xa; x < xb; ++x)
        out[x] = MapPixel(m, x, vs, vc);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define LUMADRIFT_AFFINE_AVX2 1
// Two neighbouring bytes, the first in the low byte.
inline int Pair(const uint8_t* p) { return p[0] | (p[1] << 8); }

// Four pixels at a time: coordinates and interpolation in double vectors,
// each lane doing its pixel's operations in the scalar order (no FMA is
// enabled here), the samples read as byte pairs at (J, K) and (J, K + 1),
// which hold p00, p01 and p10, p11. (Plain loads: hardware gathers are
// slower than that on current processors.)
__attribute__((target("avx2"))) void MapSegmentAvx2(const Mapping& m, int xa, int xb, double vs,
                                                    double vc, uint8_t* out)
{
    const __m256d cx = _mm256_set1_pd(m.p.centerX), cy = _mm256_set1_pd(m.p.centerY);
    const __m256d sx = _mm256_set1_pd(m.p.shiftX);
    const __m256d zx = _mm256_set1_pd(m.p.zoomX), zy = _mm256_set1_pd(m.p.zoomY);
    const __m256d c = _mm256_set1_pd(m.c), s = _mm256_set1_pd(m.s);
    const __m256d vsv = _mm256_set1_pd(vs), vcv = _mm256_set1_pd(vc);
    const __m256d half = _mm256_set1_pd(0.5), one = _mm256_set1_pd(1.0);
    const __m256d zero = _mm256_setzero_pd(), top = _mm256_set1_pd(255.0);
    const __m128i x0m1 = _mm_set1_epi32(m.x0 - 1), y0m1 = _mm_set1_epi32(m.y0 - 1);
    const __m128i x1v = _mm_set1_epi32(m.x1), y1v = _mm_set1_epi32(m.y1);
    const __m128i lastCol = _mm_set1_epi32(m.x1 - 1), lastRow = _mm_set1_epi32(m.y1 - 1);
    const __m128i stride = _mm_set1_epi32(m.stride);
    const __m128i safe = _mm_set1_epi32(m.y0 * m.stride + m.x0);
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    // A pair read at the range's very last byte would step past it and
    // perhaps past the plane, so such pixels take the scalar path.
    const __m128i lastGather = _mm_set1_epi32((m.y1 - 1) * m.stride + m.x1 - 1 - 1);
    const __m128i step = _mm_setr_epi32(0, 1, 2, 3);

    int x = xa;
    for (; x + 4 <= xb; x += 4) {
        const __m256d xv = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(x), step));
        const __m256d u = _mm256_sub_pd(_mm256_sub_pd(xv, cx), sx);
        const __m256d X = _mm256_div_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(u, c), vsv), cx), zx);
        const __m256d Y = _mm256_div_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(u, s), vcv), cy), zy);
        // Out of the int range and NaN convert to INT_MIN: outside.
        const __m128i J = _mm256_cvttpd_epi32(_mm256_add_pd(X, half));
        const __m128i K = _mm256_cvttpd_epi32(_mm256_add_pd(Y, half));
        const __m128i inside = _mm_and_si128(
            _mm_and_si128(_mm_cmpgt_epi32(J, x0m1), _mm_cmpgt_epi32(x1v, J)),
            _mm_and_si128(_mm_cmpgt_epi32(K, y0m1), _mm_cmpgt_epi32(y1v, K)));
        if (_mm_testz_si128(inside, inside)) {
            std::memset(out + x, 0, 4);
            continue;
        }
        const __m128i idx = _mm_blendv_epi8(safe, _mm_add_epi32(_mm_mullo_epi32(K, stride), J), inside);
        const __m128i down = _mm_and_si128(_mm_cmpgt_epi32(lastRow, K), stride);
        const __m128i idxBelow = _mm_add_epi32(idx, _mm_and_si128(down, inside));
        if (!_mm_testz_si128(_mm_cmpgt_epi32(idxBelow, lastGather), _mm_set1_epi32(-1)) ||
            !_mm_testz_si128(_mm_cmpgt_epi32(idx, lastGather), _mm_set1_epi32(-1))) {
            MapSegmentScalar(m, x, x + 4, vs, vc, out);
            continue;
        }
        alignas(16) int at[4], atBelow[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(at), idx);
        _mm_store_si128(reinterpret_cast<__m128i*>(atBelow), idxBelow);
        const __m128i g0 = _mm_setr_epi32(Pair(m.src + at[0]), Pair(m.src + at[1]), Pair(m.src + at[2]),
                                          Pair(m.src + at[3]));
        const __m128i g1 = _mm_setr_epi32(Pair(m.src + atBelow[0]), Pair(m.src + atBelow[1]),
                                          Pair(m.src + atBelow[2]), Pair(m.src + atBelow[3]));
        const __m128i right = _mm_cmpgt_epi32(lastCol, J);
        const __m128i p00 = _mm_and_si128(g0, lowByte);
        const __m128i p01 = _mm_blendv_epi8(p00, _mm_and_si128(_mm_srli_epi32(g0, 8), lowByte), right);
        const __m128i p10 = _mm_and_si128(g1, lowByte);
        const __m128i p11 = _mm_blendv_epi8(p10, _mm_and_si128(_mm_srli_epi32(g1, 8), lowByte), right);

        const __m256d fx = _mm256_sub_pd(X, _mm256_cvtepi32_pd(J));
        const __m256d fy = _mm256_sub_pd(Y, _mm256_cvtepi32_pd(K));
        const __m256d gx = _mm256_sub_pd(one, fx);
        const __m256d gy = _mm256_sub_pd(one, fy);
        const __m256d upper = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_cvtepi32_pd(p00)),
                                            _mm256_mul_pd(fx, _mm256_cvtepi32_pd(p01)));
        const __m256d lower = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_cvtepi32_pd(p10)),
                                            _mm256_mul_pd(fx, _mm256_cvtepi32_pd(p11)));
        __m256d L = _mm256_add_pd(_mm256_mul_pd(gy, upper), _mm256_mul_pd(fy, lower));
        // Outside lanes may hold NaN; max_pd then yields 0 and the mask
        // clears them anyway.
        L = _mm256_min_pd(_mm256_max_pd(L, zero), top);
        const __m128i v = _mm_and_si128(_mm256_cvttpd_epi32(L), inside);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), v);
        const int word = _mm_cvtsi128_si32(bytes);
        std::memcpy(out + x, &word, 4);
    }
    MapSegmentScalar(m, x, xb, vs, vc, out);
}

bool HaveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

}  // namespace

void AffineTransformKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range,
                           const AffineParams& p)
{
    if (!src || !dst || range.w <= 0 || range.h <= 0)
        return;
    const double theta = p.angle * 3.141592654 / 180.0;
    const Mapping m{src, stride, range.x0, range.y0, range.x0 + range.w, range.y0 + range.h,
                    std::cos(theta), std::sin(theta), p};

    // Square tiles: a rotated row sweeps across many source rows, and a
    // tile keeps the source pixels it needs in the first-level cache. The
    // order of the destination pixels does not change any result.
    constexpr int kTile = 64;
#if LUMADRIFT_AFFINE_AVX2
    // Gathers use 32-bit byte offsets.
    const bool avx2 = HaveAvx2() && static_cast<long long>(m.y1) * stride < (1LL << 31) - 4;
#endif
    // A zero zoom maps every pixel to an infinite or undefined position.
    const bool black = p.zoomX == 0.0 || p.zoomY == 0.0;
    for (int ty = m.y0; ty < m.y1; ty += kTile) {
        const int tyEnd = std::min(ty + kTile, m.y1);
        for (int tx = m.x0; tx < m.x1; tx += kTile) {
            const int txEnd = std::min(tx + kTile, m.x1);
            if (black || TileOutside(m, tx, txEnd, ty, tyEnd)) {
                for (int y = ty; y < tyEnd; ++y)
                    std::memset(dst + static_cast<size_t>(y) * stride + tx, 0, static_cast<size_t>(txEnd - tx));
                continue;
            }
            for (int y = ty; y < tyEnd; ++y) {
                // v and its products depend on the row only; they are the
                // values the per-pixel formula computes.
                const double v = y - p.centerY - p.shiftY;
                uint8_t* out = dst + static_cast<size_t>(y) * stride;
#if LUMADRIFT_AFFINE_AVX2
                if (avx2) {
                    MapSegmentAvx2(m, tx, txEnd, v * m.s, v * m.c, out);
                    continue;
                }
#endif
                MapSegmentScalar(m, tx, txEnd, v * m.s, v * m.c, out);
            }
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
