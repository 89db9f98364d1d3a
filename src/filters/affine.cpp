#include "filters/affine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/isa.h"
#include "core/parallel.h"

#if defined(__GNUC__) && defined(__x86_64__)
#define LUMADRIFT_AFFINE_X86 1
#include "core/intrinsics.h"
#endif

namespace lumadrift {

namespace {

// The kernel's paths; Chosen() picks one.
enum class AffineSimd { Scalar, Avx2, Avx512 };

// Square destination tiles: a rotated row sweeps across many source rows,
// and a tile keeps the source pixels it needs in the first-level cache. The
// order of the destination pixels does not change any result.
constexpr int kTile = 64;

// A destination tile [xa, xb) x [ya, yb).
struct TileRect {
    int xa, xb, ya, yb;
};

// The integers a double truncates to without leaving the int range.
inline bool TruncatesToInt(double t) { return t > -2147483648.0 && t < 2147483648.0; }

// A zoom factor prepared for the vector quotient below. fast is false for
// zooms so small, large or undefined that its intermediate values could
// leave the normal doubles; such zooms divide.
struct Divisor {
    double d = 0.0;
    double inverse = 0.0;  // 1 / d, correctly rounded
    bool fast = false;
};

Divisor PrepareDivisor(double d)
{
    Divisor v;
    v.d = d;
    const double size = std::fabs(d);
    v.fast = size >= 0x1p-100 && size <= 0x1p100;
    if (v.fast)
        v.inverse = 1.0 / d;
    return v;
}

struct Mapping {
    const uint8_t* src;
    int stride;
    int x0, y0, x1, y1;  // range, x1 and y1 one past the end
    double c, s;
    AffineParams p;
    Divisor zoomX, zoomY;
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

#if LUMADRIFT_AFFINE_X86
// Every processor with AVX2 that we run on has FMA3 as well; the fused
// multiply-adds appear only in the exact quotient below, never in a
// pixel's own arithmetic.
#define LUMADRIFT_AFFINE_TARGET_AVX2 __attribute__((target("avx2,fma")))

// The lanes of n for which the corrected reciprocal product below equals
// the division: +0 and sizes in [2^-500, 2^500]. -0, tiny, huge, infinite
// and undefined lanes fail.
LUMADRIFT_AFFINE_TARGET_AVX2 inline __m256d NumeratorOk(__m256d n)
{
    const __m256d size = _mm256_andnot_pd(_mm256_set1_pd(-0.0), n);
    const __m256d plusZero = _mm256_castsi256_pd(_mm256_cmpeq_epi64(_mm256_castpd_si256(n), _mm256_setzero_si256()));
    return _mm256_or_pd(plusZero, _mm256_and_pd(_mm256_cmp_pd(size, _mm256_set1_pd(0x1p-500), _CMP_GE_OQ),
                                                _mm256_cmp_pd(size, _mm256_set1_pd(0x1p500), _CMP_LE_OQ)));
}

// n / d in four lanes, bit for bit the double the division gives, at a
// fraction of its cost: the division unit is otherwise busy longer than
// the rest of the pixels' work takes.
//
// With y = 1 / d correctly rounded, q0 = n y, and two corrections
// q' = q + (n - d q) y, each a fused multiply-add over the residual that
// another fused multiply-add gives. Why the last one lands exactly on the
// rounded quotient t = n / d (scale n and d into [1, 2), which changes
// nothing while every value stays a normal double; signs do not matter):
// - q0 is within 2 ulp of t, since d y = 1 + e with |e| < 2^-53. The first
//   correction gives t + (t - q0)(about 2^-52) before rounding, so q1 is
//   one of the two doubles around t.
// - Then n - d q1 is a multiple of 2^-105 (2^-104 when q1 >= 1) below
//   2^-52 (2^-51) in size: it fits in 53 bits, so the residual is exact,
//   and the second correction before rounding is z = t + (t - q1)(d y - 1).
// - z rounds like t unless a midpoint m between two doubles lies between
//   them. n - d m is a nonzero multiple of ulp(m) 2^-53 (n = d m is
//   impossible: d times an odd 54-bit number needs more than 53 bits), so
//   |t - m| >= ulp(m) 2^-53 / d. Only the midpoints next to q1 are near,
//   so |t - q1| <= ulp(m) / 2 + |t - m|, and with |d y - 1| <= d 2^-54,
//   |z - t| < |t - m| follows from d^2 + d 2^-52 < 4.
// The window on |n| (and on |d|, see Divisor) keeps every intermediate a
// normal double. n = +0 gives q0 = +0 or -0 with the sign of d, both
// residuals +0, and so the right zero; -0 would come out as +0. -0, tiny,
// huge, infinite and undefined numerators take the division.
LUMADRIFT_AFFINE_TARGET_AVX2 inline __m256d CorrectedQuotient(__m256d n, __m256d d, __m256d inverse)
{
    const __m256d q0 = _mm256_mul_pd(n, inverse);
    const __m256d q1 = _mm256_fmadd_pd(_mm256_fnmadd_pd(q0, d, n), inverse, q0);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q1, d, n), inverse, q1);
}

LUMADRIFT_AFFINE_TARGET_AVX2 inline __m256d Quotient(__m256d n, const Divisor& div)
{
    const __m256d d = _mm256_set1_pd(div.d);
    if (div.fast && _mm256_movemask_pd(NumeratorOk(n)) == 0xF)
        return CorrectedQuotient(n, d, _mm256_set1_pd(div.inverse));
    return _mm256_div_pd(n, d);
}

// Two neighbouring bytes, the first in the low byte.
inline int Pair(const uint8_t* p) { return p[0] | (p[1] << 8); }

// Four pixels at a time reading the plane itself, for tiles whose source
// area is too large for a pair tile (strong reductions): coordinates and
// interpolation in double vectors, each lane doing its pixel's operations
// in the scalar order, the samples read as byte pairs at (J, K) and
// (J, K + 1), which hold p00, p01 and p10, p11. (Plain loads: the two
// gathers would cost more than these eight reads.)
LUMADRIFT_AFFINE_TARGET_AVX2 void MapSegmentAvx2(const Mapping& m, int xa, int xb, double vs, double vc,
                                                 uint8_t* out)
{
    const __m256d cx = _mm256_set1_pd(m.p.centerX), cy = _mm256_set1_pd(m.p.centerY);
    const __m256d sx = _mm256_set1_pd(m.p.shiftX);
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
        const __m256d X = Quotient(_mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(u, c), vsv), cx), m.zoomX);
        const __m256d Y = Quotient(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(u, s), vcv), cy), m.zoomY);
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

#define LUMADRIFT_AFFINE_TARGET_512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq")))

// n / d in eight lanes, bit for bit the double the division gives: the
// same reciprocal product and two corrections as the four-lane quotient
// above, whose argument holds lane by lane.
LUMADRIFT_AFFINE_TARGET_512 inline __m512d Quotient(__m512d n, const Divisor& div)
{
    const __m512d d = _mm512_set1_pd(div.d);
    if (div.fast) {
        const __m512d inv = _mm512_set1_pd(div.inverse);
        const __m512d q0 = _mm512_mul_pd(n, inv);
        const __m512d q1 = _mm512_fmadd_pd(_mm512_fnmadd_pd(q0, d, n), inv, q0);
        const __m512d q = _mm512_fmadd_pd(_mm512_fnmadd_pd(q1, d, n), inv, q1);
        const __m512d size = _mm512_abs_pd(n);
        __mmask8 ok = _mm512_cmp_pd_mask(size, _mm512_set1_pd(0x1p-500), _CMP_GE_OQ);
        ok = _mm512_mask_cmp_pd_mask(ok, size, _mm512_set1_pd(0x1p500), _CMP_LE_OQ);
        if (ok == 0xFF)
            return q;
    }
    return _mm512_div_pd(n, d);
}

// Constants of one destination row for the eight-pixel steps below.
struct Row512 {
    __m512d cx, cy, sx, c, s, vs, vc;
    __m256i x0, y0, x1, y1;
};

LUMADRIFT_AFFINE_TARGET_512 inline Row512 MakeRow512(const Mapping& m, double vs, double vc)
{
    return {_mm512_set1_pd(m.p.centerX), _mm512_set1_pd(m.p.centerY), _mm512_set1_pd(m.p.shiftX),
            _mm512_set1_pd(m.c),         _mm512_set1_pd(m.s),         _mm512_set1_pd(vs),
            _mm512_set1_pd(vc),          _mm256_set1_epi32(m.x0),     _mm256_set1_epi32(m.y0),
            _mm256_set1_epi32(m.x1),     _mm256_set1_epi32(m.y1)};
}

// Source positions of the eight pixels whose x are the lanes of xv, each
// lane doing its pixel's operations in the scalar order, and which of them
// lie in the range.
struct Where512 {
    __m512d X, Y;
    __m256i J, K;
    __mmask8 inside;
};

LUMADRIFT_AFFINE_TARGET_512 inline Where512 Locate(const Mapping& m, const Row512& r, __m512d xv)
{
    Where512 w;
    const __m512d u = _mm512_sub_pd(_mm512_sub_pd(xv, r.cx), r.sx);
    w.X = Quotient(_mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(u, r.c), r.vs), r.cx), m.zoomX);
    w.Y = Quotient(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(u, r.s), r.vc), r.cy), m.zoomY);
    // Out of the int range and NaN convert to INT_MIN: outside.
    const __m512d half = _mm512_set1_pd(0.5);
    w.J = _mm512_cvttpd_epi32(_mm512_add_pd(w.X, half));
    w.K = _mm512_cvttpd_epi32(_mm512_add_pd(w.Y, half));
    w.inside = _mm256_cmpge_epi32_mask(w.J, r.x0) & _mm256_cmplt_epi32_mask(w.J, r.x1) &
               _mm256_cmpge_epi32_mask(w.K, r.y0) & _mm256_cmplt_epi32_mask(w.K, r.y1);
    return w;
}

// The interpolation of eight pixels from their samples, clamped and
// truncated; lanes outside the range give 0.
LUMADRIFT_AFFINE_TARGET_512 inline void Interpolate(const Where512& w, __m256i p00, __m256i p01,
                                                    __m256i p10, __m256i p11, uint8_t* out)
{
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d fx = _mm512_sub_pd(w.X, _mm512_cvtepi32_pd(w.J));
    const __m512d fy = _mm512_sub_pd(w.Y, _mm512_cvtepi32_pd(w.K));
    const __m512d gx = _mm512_sub_pd(one, fx);
    const __m512d gy = _mm512_sub_pd(one, fy);
    const __m512d upper = _mm512_add_pd(_mm512_mul_pd(gx, _mm512_cvtepi32_pd(p00)),
                                        _mm512_mul_pd(fx, _mm512_cvtepi32_pd(p01)));
    const __m512d lower = _mm512_add_pd(_mm512_mul_pd(gx, _mm512_cvtepi32_pd(p10)),
                                        _mm512_mul_pd(fx, _mm512_cvtepi32_pd(p11)));
    __m512d L = _mm512_add_pd(_mm512_mul_pd(gy, upper), _mm512_mul_pd(fy, lower));
    L = _mm512_min_pd(_mm512_max_pd(L, _mm512_setzero_pd()), _mm512_set1_pd(255.0));
    const __m256i v = _mm256_maskz_mov_epi32(w.inside, _mm512_cvttpd_epi32(L));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_cvtepi32_epi8(v));
}

// Eight pixels at a time reading the plane itself. Masked gathers read
// only the lanes that map inside; each reads four bytes at (J, K) and
// (J, K + 1), of which the low two are the samples.
LUMADRIFT_AFFINE_TARGET_512 void MapSegmentAvx512(const Mapping& m, int xa, int xb, double vs,
                                                  double vc, uint8_t* out)
{
    const Row512 r = MakeRow512(m, vs, vc);
    const __m256i lastCol = _mm256_set1_epi32(m.x1 - 1), lastRow = _mm256_set1_epi32(m.y1 - 1);
    const __m256i stride = _mm256_set1_epi32(m.stride);
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    // A four-byte read must end at the range's last byte at the latest;
    // pixels reading later take the scalar path.
    const __m256i lastRead = _mm256_set1_epi32((m.y1 - 1) * m.stride + m.x1 - 1 - 3);

    int x = xa;
    // Whole numbers far below 2^53: the running sum is exactly x + lane.
    __m512d xv = _mm512_add_pd(_mm512_set1_pd(x), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    for (; x + 8 <= xb; x += 8, xv = _mm512_add_pd(xv, _mm512_set1_pd(8.0))) {
        const Where512 w = Locate(m, r, xv);
        if (w.inside == 0) {
            std::memset(out + x, 0, 8);
            continue;
        }
        const __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(w.K, stride), w.J);
        const __m256i idxBelow = _mm256_mask_add_epi32(idx, _mm256_cmplt_epi32_mask(w.K, lastRow), idx, stride);
        if (_mm256_mask_cmpgt_epi32_mask(w.inside, idxBelow, lastRead) != 0) {
            MapSegmentScalar(m, x, x + 8, vs, vc, out);
            continue;
        }
        const __m256i g0 = _mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), w.inside, idx, m.src, 1);
        const __m256i g1 = _mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), w.inside, idxBelow, m.src, 1);
        const __mmask8 right = _mm256_cmplt_epi32_mask(w.J, lastCol);
        const __m256i p00 = _mm256_and_si256(g0, lowByte);
        const __m256i p01 = _mm256_mask_and_epi32(p00, right, _mm256_srli_epi32(g0, 8), lowByte);
        const __m256i p10 = _mm256_and_si256(g1, lowByte);
        const __m256i p11 = _mm256_mask_and_epi32(p10, right, _mm256_srli_epi32(g1, 8), lowByte);
        Interpolate(w, p00, p01, p10, p11, out + x);
    }
    MapSegmentScalar(m, x, xb, vs, vc, out);
}

// The source pixels a tile can reach, rearranged so that one gather lane
// fetches all four samples: entry (j, k) holds S(j, k) and below it
// S(j, k + 1), so the four bytes at entry (J, K) are p00, p10, p01, p11.
// The rule for the range's edges is built in: the row below the last row
// repeats it and the entry right of the last column repeats that column.
// This halves the gathers, the costliest part of a pixel here, and reads
// no byte outside the range.
struct PairTile {
    static constexpr int kCapacity = 16384;  // entries: 32 KB, within the first-level cache
    int ja = 0, ka = 0;                      // range position of entry (0, 0)
    int width = 0, height = 0;               // entries per row (one past the last column), rows
    alignas(64) uint16_t pairs[kCapacity];
};

// Columns or rows [lo, hi] of the range that the positions between a and b
// (any order) can round into, with a margin far above the rounding of the
// position arithmetic; false when none.
bool Span(double a, double b, int first, int end, int& lo, int& hi)
{
    if (!std::isfinite(a) || !std::isfinite(b))
        return false;
    const double from = std::floor(std::min(a, b)) - 2.0, to = std::ceil(std::max(a, b)) + 2.0;
    if (to < first || from > end - 1)
        return false;
    lo = from < first ? first : static_cast<int>(from);
    hi = to > end - 1 ? end - 1 : static_cast<int>(to);
    return true;
}

// Columns [ja, jb] and rows [ka, kb] of the range that destination tile
// [xa, xb) x [ya, yb) can read from; false when none. The mapping is
// affine, so the corners bound the tile's positions.
bool SourceSpan(const Mapping& m, int xa, int xb, int ya, int yb, int& ja, int& jb, int& ka, int& kb)
{
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    const int xs[2] = {xa, xb - 1}, ys[2] = {ya, yb - 1};
    bool first = true;
    for (int y : ys) {
        for (int x : xs) {
            double X, Y;
            MapCoords(m, x, y, X, Y);
            if (first || !(X >= minX))
                minX = X;
            if (first || !(X <= maxX))
                maxX = X;
            if (first || !(Y >= minY))
                minY = Y;
            if (first || !(Y <= maxY))
                maxY = Y;
            first = false;
        }
    }
    return Span(minX, maxX, m.x0, m.x1, ja, jb) && Span(minY, maxY, m.y0, m.y1, ka, kb);
}

// Places the pair tile for destination tile [xa, xb) x [ya, yb) and gives
// the number of range columns each entry row reads (ja onwards); false when
// its source area does not fit. Past those columns, the one entry left
// repeats the last (the range ends there).
bool PlanPairTile(const Mapping& m, int xa, int xb, int ya, int yb, PairTile& t, int& count)
{
    int ja, jb, ka, kb;
    if (!SourceSpan(m, xa, xb, ya, yb, ja, jb, ka, kb))
        return false;
    const long long width = static_cast<long long>(jb) - ja + 2, height = static_cast<long long>(kb) - ka + 1;
    if (width * height > PairTile::kCapacity)
        return false;
    t.ja = ja;
    t.ka = ka;
    t.width = static_cast<int>(width);
    t.height = static_cast<int>(height);
    count = std::min(jb + 1, m.x1 - 1) - ja + 1;
    return true;
}

// Fills the pair tile for destination tile [xa, xb) x [ya, yb); false when
// its source area does not fit.
LUMADRIFT_AFFINE_TARGET_512 bool BuildPairTile(const Mapping& m, int xa, int xb, int ya, int yb, PairTile& t)
{
    int count;
    if (!PlanPairTile(m, xa, xb, ya, yb, t, count))
        return false;
    for (int k = t.ka; k < t.ka + t.height; ++k) {
        const uint8_t* upper = m.src + static_cast<size_t>(k) * m.stride + t.ja;
        const uint8_t* lower = k < m.y1 - 1 ? upper + m.stride : upper;
        uint16_t* row = t.pairs + static_cast<size_t>(k - t.ka) * t.width;
        for (int j = 0; j < count; j += 32) {
            const __mmask32 keep = count - j >= 32 ? ~0u : (1u << (count - j)) - 1;
            const __m512i a = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(keep, upper + j));
            const __m512i b = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(keep, lower + j));
            _mm512_mask_storeu_epi16(row + j, keep, _mm512_or_si512(a, _mm512_slli_epi16(b, 8)));
        }
        if (count < t.width)
            row[count] = row[count - 1];
    }
    return true;
}

// Eight pixels at a time reading the pair tile: one gather per eight
// pixels. A lane whose position the tile does not cover (it cannot happen
// with the margins above, but the tile is never read outside) sends its
// eight pixels down the scalar path.
LUMADRIFT_AFFINE_TARGET_512 void MapSegmentPairs(const Mapping& m, const PairTile& t, int xa, int xb,
                                                 double vs, double vc, uint8_t* out)
{
    const Row512 r = MakeRow512(m, vs, vc);
    const __m256i ja = _mm256_set1_epi32(t.ja), ka = _mm256_set1_epi32(t.ka);
    const __m256i lastJ = _mm256_set1_epi32(t.width - 2), lastK = _mm256_set1_epi32(t.height - 1);
    const __m256i width = _mm256_set1_epi32(t.width);
    const __m256i lowByte = _mm256_set1_epi32(0xFF);

    int x = xa;
    __m512d xv = _mm512_add_pd(_mm512_set1_pd(x), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    for (; x + 8 <= xb; x += 8, xv = _mm512_add_pd(xv, _mm512_set1_pd(8.0))) {
        const Where512 w = Locate(m, r, xv);
        if (w.inside == 0) {
            std::memset(out + x, 0, 8);
            continue;
        }
        const __m256i dj = _mm256_sub_epi32(w.J, ja), dk = _mm256_sub_epi32(w.K, ka);
        const __mmask8 covered = _mm256_cmple_epu32_mask(dj, lastJ) & _mm256_cmple_epu32_mask(dk, lastK);
        if ((w.inside & ~covered) != 0) {
            MapSegmentScalar(m, x, x + 8, vs, vc, out);
            continue;
        }
        const __m256i idx = _mm256_add_epi32(_mm256_mullo_epi32(dk, width), dj);
        const __m256i g = _mm256_mmask_i32gather_epi32(_mm256_setzero_si256(), w.inside, idx, t.pairs, 2);
        const __m256i p00 = _mm256_and_si256(g, lowByte);
        const __m256i p10 = _mm256_and_si256(_mm256_srli_epi32(g, 8), lowByte);
        const __m256i p01 = _mm256_and_si256(_mm256_srli_epi32(g, 16), lowByte);
        const __m256i p11 = _mm256_srli_epi32(g, 24);
        Interpolate(w, p00, p01, p10, p11, out + x);
    }
    MapSegmentScalar(m, x, xb, vs, vc, out);
}

// One destination tile: through a pair tile when the source area fits,
// else straight from the plane.
LUMADRIFT_AFFINE_TARGET_512 void MapTileAvx512(const Mapping& m, int xa, int xb, int ya, int yb,
                                               uint8_t* dst, PairTile& t)
{
    const bool pairs = BuildPairTile(m, xa, xb, ya, yb, t);
    for (int y = ya; y < yb; ++y) {
        const double v = y - m.p.centerY - m.p.shiftY;
        uint8_t* out = dst + static_cast<size_t>(y) * m.stride;
        if (pairs)
            MapSegmentPairs(m, t, xa, xb, v * m.s, v * m.c, out);
        else
            MapSegmentAvx512(m, xa, xb, v * m.s, v * m.c, out);
    }
}

// Fills the pair tile for destination tile [xa, xb) x [ya, yb) with the
// same entries as BuildPairTile; false when its source area does not fit.
LUMADRIFT_AFFINE_TARGET_AVX2 bool BuildPairTileAvx2(const Mapping& m, int xa, int xb, int ya, int yb, PairTile& t)
{
    int count;
    if (!PlanPairTile(m, xa, xb, ya, yb, t, count))
        return false;
    for (int k = t.ka; k < t.ka + t.height; ++k) {
        const uint8_t* upper = m.src + static_cast<size_t>(k) * m.stride + t.ja;
        const uint8_t* lower = k < m.y1 - 1 ? upper + m.stride : upper;
        uint16_t* row = t.pairs + static_cast<size_t>(k - t.ka) * t.width;
        int j = 0;
        for (; j + 32 <= count; j += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper + j));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower + j));
            // The byte interleave stays within 128-bit halves: lo holds
            // pairs 0-7 and 16-23, hi pairs 8-15 and 24-31.
            const __m256i lo = _mm256_unpacklo_epi8(a, b), hi = _mm256_unpackhi_epi8(a, b);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j), _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + j + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
        }
        // The rest byte by byte: a wider read could pass the range's end.
        for (; j < count; ++j)
            row[j] = static_cast<uint16_t>(upper[j] | (lower[j] << 8));
        if (count < t.width)
            row[count] = row[count - 1];
    }
    return true;
}

// u cos and u sin of each column of a destination tile. u depends on x
// alone, so these are the very products the per-pixel formula forms, and
// every row of the tile reuses them.
struct ColumnTerms {
    alignas(32) double uc[kTile];
    alignas(32) double us[kTile];
    bool coarse = false;  // all of them Coarse
};

// 0, or a size in [2^-447, 2^498]: then a multiple of 2^-499, since its
// last significand bit is worth at least that.
inline bool Coarse(double v)
{
    const double size = std::fabs(v);
    return size == 0.0 || (size >= 0x1p-447 && size <= 0x1p498);
}

// True when every numerator of a row, (uc - vs) + cx and (us + vc) + cy
// with uc, us from coarse columns, is one the corrected quotient takes, so
// that the per-lane test can go. Sums and differences of multiples of
// 2^-499 are multiples of 2^-499 before rounding and after it (below 2^-446
// they are exact, above it the doubles are spaced wider), so a nonzero
// numerator is at least 2^-499 in size, and it stays below 2^500. A sum of
// two doubles is -0 only when both are -0, so a centre that is not -0
// keeps the numerators off -0.
inline bool NumeratorsInWindow(const Mapping& m, const ColumnTerms& col, double vs, double vc)
{
    const auto negativeZero = [](double v) { return v == 0.0 && std::signbit(v); };
    return m.zoomX.fast && m.zoomY.fast && col.coarse && Coarse(vs) && Coarse(vc) && Coarse(m.p.centerX) &&
           Coarse(m.p.centerY) && !negativeZero(m.p.centerX) && !negativeZero(m.p.centerY);
}

// Four pixels' interpolation from their samples (int lanes) and source
// positions, each lane in the scalar order, clamped and truncated toward
// zero. J and K come as the doubles the truncation gives.
LUMADRIFT_AFFINE_TARGET_AVX2 inline __m128i Interpolate4(__m256d X, __m256d Y, __m256d J, __m256d K, __m128i p00,
                                                         __m128i p01, __m128i p10, __m128i p11)
{
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d fx = _mm256_sub_pd(X, J);
    const __m256d fy = _mm256_sub_pd(Y, K);
    const __m256d gx = _mm256_sub_pd(one, fx);
    const __m256d gy = _mm256_sub_pd(one, fy);
    const __m256d upper = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_cvtepi32_pd(p00)),
                                        _mm256_mul_pd(fx, _mm256_cvtepi32_pd(p01)));
    const __m256d lower = _mm256_add_pd(_mm256_mul_pd(gx, _mm256_cvtepi32_pd(p10)),
                                        _mm256_mul_pd(fx, _mm256_cvtepi32_pd(p11)));
    const __m256d L = _mm256_add_pd(_mm256_mul_pd(gy, upper), _mm256_mul_pd(fy, lower));
    // An undefined L (only in lanes outside the range) becomes 0 here.
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(L, _mm256_setzero_pd()), _mm256_set1_pd(255.0)));
}

// Eight pixels at a time reading the pair tile: the positions in two
// four-lane halves, everything integer over all eight, one gather for all
// thirty-two samples. A lane whose position the tile does not cover (it
// cannot happen with the margins of SourceSpan, but the tile is never read
// outside) sends its eight pixels down the scalar path.
//
// With kInWindow the caller knows every numerator of the segment to be one
// NumeratorOk accepts (see NumeratorsInWindow), and the lanes go unchecked.
template <bool kInWindow>
LUMADRIFT_AFFINE_TARGET_AVX2 void MapSegmentPairsAvx2(const Mapping& m, const PairTile& t, const ColumnTerms& col,
                                                      int xa, int xb, double vs, double vc, uint8_t* out)
{
    const __m256d vsv = _mm256_set1_pd(vs), vcv = _mm256_set1_pd(vc);
    const __m256d cx = _mm256_set1_pd(m.p.centerX), cy = _mm256_set1_pd(m.p.centerY);
    const __m256d dx = _mm256_set1_pd(m.zoomX.d), dy = _mm256_set1_pd(m.zoomY.d);
    const __m256d ix = _mm256_set1_pd(m.zoomX.inverse), iy = _mm256_set1_pd(m.zoomY.inverse);
    const bool fast = m.zoomX.fast && m.zoomY.fast;
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256i x0m1 = _mm256_set1_epi32(m.x0 - 1), y0m1 = _mm256_set1_epi32(m.y0 - 1);
    const __m256i x1 = _mm256_set1_epi32(m.x1), y1 = _mm256_set1_epi32(m.y1);
    const __m256i ja = _mm256_set1_epi32(t.ja), ka = _mm256_set1_epi32(t.ka);
    const __m256i lastJ = _mm256_set1_epi32(t.width - 2), lastK = _mm256_set1_epi32(t.height - 1);
    const __m256i width = _mm256_set1_epi32(t.width);
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    const int* base = reinterpret_cast<const int*>(t.pairs);

    int x = xa;
    for (; x + 8 <= xb; x += 8) {
        const double* uc = col.uc + (x - xa);
        const double* us = col.us + (x - xa);
        const __m256d nxA = _mm256_add_pd(_mm256_sub_pd(_mm256_load_pd(uc), vsv), cx);
        const __m256d nxB = _mm256_add_pd(_mm256_sub_pd(_mm256_load_pd(uc + 4), vsv), cx);
        const __m256d nyA = _mm256_add_pd(_mm256_add_pd(_mm256_load_pd(us), vcv), cy);
        const __m256d nyB = _mm256_add_pd(_mm256_add_pd(_mm256_load_pd(us + 4), vcv), cy);
        __m256d XA, XB, YA, YB;
        // One test for all four quotients: the fallback is rare.
        if (kInWindow || (fast && _mm256_movemask_pd(_mm256_and_pd(_mm256_and_pd(NumeratorOk(nxA), NumeratorOk(nxB)),
                                                      _mm256_and_pd(NumeratorOk(nyA), NumeratorOk(nyB)))) == 0xF)) {
            XA = CorrectedQuotient(nxA, dx, ix);
            XB = CorrectedQuotient(nxB, dx, ix);
            YA = CorrectedQuotient(nyA, dy, iy);
            YB = CorrectedQuotient(nyB, dy, iy);
        } else {
            XA = Quotient(nxA, m.zoomX);
            XB = Quotient(nxB, m.zoomX);
            YA = Quotient(nyA, m.zoomY);
            YB = Quotient(nyB, m.zoomY);
        }
        const __m256d txA = _mm256_add_pd(XA, half), txB = _mm256_add_pd(XB, half);
        const __m256d tyA = _mm256_add_pd(YA, half), tyB = _mm256_add_pd(YB, half);
        // Out of the int range and NaN convert to INT_MIN: outside.
        const __m256i J = _mm256_set_m128i(_mm256_cvttpd_epi32(txB), _mm256_cvttpd_epi32(txA));
        const __m256i K = _mm256_set_m128i(_mm256_cvttpd_epi32(tyB), _mm256_cvttpd_epi32(tyA));
        const __m256i inside =
            _mm256_and_si256(_mm256_and_si256(_mm256_cmpgt_epi32(J, x0m1), _mm256_cmpgt_epi32(x1, J)),
                             _mm256_and_si256(_mm256_cmpgt_epi32(K, y0m1), _mm256_cmpgt_epi32(y1, K)));
        if (_mm256_testz_si256(inside, inside)) {
            std::memset(out + x, 0, 8);
            continue;
        }
        // Unsigned d <= last: negative offsets wrap to huge ones.
        const __m256i dj = _mm256_sub_epi32(J, ja), dk = _mm256_sub_epi32(K, ka);
        const __m256i covered = _mm256_and_si256(_mm256_cmpeq_epi32(_mm256_max_epu32(dj, lastJ), lastJ),
                                                 _mm256_cmpeq_epi32(_mm256_max_epu32(dk, lastK), lastK));
        if (!_mm256_testc_si256(covered, inside)) {
            MapSegmentScalar(m, x, x + 8, vs, vc, out);
            continue;
        }
        // Lanes outside the range read entry 0 and are cleared below.
        const __m256i idx = _mm256_and_si256(_mm256_add_epi32(_mm256_mullo_epi32(dk, width), dj), inside);
        const __m256i g = _mm256_i32gather_epi32(base, idx, 2);
        const __m256i p00 = _mm256_and_si256(g, lowByte);
        const __m256i p10 = _mm256_and_si256(_mm256_srli_epi32(g, 8), lowByte);
        const __m256i p01 = _mm256_and_si256(_mm256_srli_epi32(g, 16), lowByte);
        const __m256i p11 = _mm256_srli_epi32(g, 24);
        // The truncated doubles equal J and K converted back in every
        // lane inside the range.
        const int toZero = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
        const __m128i vA = Interpolate4(XA, YA, _mm256_round_pd(txA, toZero), _mm256_round_pd(tyA, toZero),
                                        _mm256_castsi256_si128(p00), _mm256_castsi256_si128(p01),
                                        _mm256_castsi256_si128(p10), _mm256_castsi256_si128(p11));
        const __m128i vB = Interpolate4(XB, YB, _mm256_round_pd(txB, toZero), _mm256_round_pd(tyB, toZero),
                                        _mm256_extracti128_si256(p00, 1), _mm256_extracti128_si256(p01, 1),
                                        _mm256_extracti128_si256(p10, 1), _mm256_extracti128_si256(p11, 1));
        const __m256i v = _mm256_and_si256(_mm256_set_m128i(vB, vA), inside);
        const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(words, words));
    }
    MapSegmentScalar(m, x, xb, vs, vc, out);
}

// Source rows the next tile will read, fetched into the cache a few rows
// per destination row of the current one. Each of them is a separate
// short run of a distant row, which the hardware prefetchers do not
// foresee; waiting for them while filling the pair tile costs as much as
// a sixth of the whole transformation.
class RowPrefetch {
public:
    RowPrefetch(const Mapping& m, const TileRect* next, int destRows)
    {
        if (!next || !SourceSpan(m, next->xa, next->xb, next->ya, next->yb, ja_, jb_, k_, kb_))
            return;
        jb_ = std::min(jb_ + 1, m.x1 - 1);
        src_ = m.src;
        stride_ = m.stride;
        perRow_ = (kb_ - k_ + 1 + destRows) / destRows + 1;
        kb_ = std::min(kb_ + 1, m.y1 - 1);  // the row below the last is read too
    }

    void Step()
    {
        for (int i = 0; src_ && i < perRow_ && k_ <= kb_; ++i, ++k_) {
            const uint8_t* row = src_ + static_cast<size_t>(k_) * stride_;
            for (int j = ja_; j <= jb_; j += 64)
                _mm_prefetch(reinterpret_cast<const char*>(row + j), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(row + jb_), _MM_HINT_T0);
        }
    }

private:
    const uint8_t* src_ = nullptr;
    size_t stride_ = 0;
    int ja_ = 0, jb_ = 0, k_ = 0, kb_ = -1, perRow_ = 0;
};

// One destination tile: through a pair tile when the source area fits,
// else straight from the plane. next, when given, is the tile that follows.
LUMADRIFT_AFFINE_TARGET_AVX2 void MapTileAvx2(const Mapping& m, int xa, int xb, int ya, int yb, uint8_t* dst,
                                              PairTile& t, const TileRect* next)
{
    const bool pairs = BuildPairTileAvx2(m, xa, xb, ya, yb, t);
    RowPrefetch prefetch(m, next, yb - ya);
    ColumnTerms col;
    if (pairs) {
        col.coarse = true;
        for (int x = xa; x < xb; ++x) {
            const double u = x - m.p.centerX - m.p.shiftX;
            col.uc[x - xa] = u * m.c;
            col.us[x - xa] = u * m.s;
            col.coarse = col.coarse && Coarse(col.uc[x - xa]) && Coarse(col.us[x - xa]);
        }
    }
    for (int y = ya; y < yb; ++y) {
        const double v = y - m.p.centerY - m.p.shiftY;
        uint8_t* out = dst + static_cast<size_t>(y) * m.stride;
        prefetch.Step();
        const double vs = v * m.s, vc = v * m.c;
        if (pairs && NumeratorsInWindow(m, col, vs, vc))
            MapSegmentPairsAvx2<true>(m, t, col, xa, xb, vs, vc, out);
        else if (pairs)
            MapSegmentPairsAvx2<false>(m, t, col, xa, xb, vs, vc, out);
        else
            MapSegmentAvx2(m, xa, xb, vs, vc, out);
    }
}

LUMADRIFT_AFFINE_TARGET_AVX2 void QuotientsAvx2(const double* n, const Divisor& d, double* q, int count)
{
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm256_storeu_pd(q + i, Quotient(_mm256_loadu_pd(n + i), d));
    for (; i < count; ++i)
        q[i] = n[i] / d.d;
}

LUMADRIFT_AFFINE_TARGET_512 void QuotientsAvx512(const double* n, const Divisor& d, double* q, int count)
{
    int i = 0;
    for (; i + 8 <= count; i += 8)
        _mm512_storeu_pd(q + i, Quotient(_mm512_loadu_pd(n + i), d));
    for (; i < count; ++i)
        q[i] = n[i] / d.d;
}

#endif

// The widest path at or below the active instruction-set level (the Sse2
// level has no path of its own and takes the scalar one).
AffineSimd Chosen()
{
#if LUMADRIFT_AFFINE_X86
    const IsaLevel level = ActiveIsa();
    if (level >= IsaLevel::Avx512)
        return AffineSimd::Avx512;
    if (level >= IsaLevel::Avx2)
        return AffineSimd::Avx2;
#endif
    return AffineSimd::Scalar;
}

}  // namespace

void AffineQuotients(const double* n, double d, double* q, int count)
{
#if LUMADRIFT_AFFINE_X86
    if (Chosen() == AffineSimd::Avx512) {
        QuotientsAvx512(n, PrepareDivisor(d), q, count);
        return;
    }
    if (Chosen() == AffineSimd::Avx2) {
        QuotientsAvx2(n, PrepareDivisor(d), q, count);
        return;
    }
#endif
    for (int i = 0; i < count; ++i)
        q[i] = n[i] / d;
}

void AffineTransformKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range,
                           const AffineParams& p)
{
    if (!src || !dst || range.w <= 0 || range.h <= 0)
        return;
    const double theta = p.angle * 3.141592654 / 180.0;
    const Mapping m{src,
                    stride,
                    range.x0,
                    range.y0,
                    range.x0 + range.w,
                    range.y0 + range.h,
                    std::cos(theta),
                    std::sin(theta),
                    p,
                    PrepareDivisor(p.zoomX),
                    PrepareDivisor(p.zoomY)};

    // The vector paths use 32-bit byte offsets.
    AffineSimd path = Chosen();
    if (static_cast<long long>(m.y1) * stride >= (1LL << 31) - 4)
        path = AffineSimd::Scalar;

    // A zero zoom maps every pixel to an infinite or undefined position.
    const bool black = p.zoomX == 0.0 || p.zoomY == 0.0;
    // Rows of tiles go to the pool; every pixel is mapped on its own, so the
    // split never shows in the bytes.
    const int tileRows = (m.y1 - m.y0 + kTile - 1) / kTile;
    ParallelFor(0, tileRows, [&](int firstTileRow, int lastTileRow) {
#if LUMADRIFT_AFFINE_X86
    PairTile pairTile;  // on the stack: the function allocates nothing
#endif
    const int bandEnd = std::min(m.y0 + lastTileRow * kTile, m.y1);
    for (int ty = m.y0 + firstTileRow * kTile; ty < bandEnd; ty += kTile) {
        const int tyEnd = std::min(ty + kTile, m.y1);
        for (int tx = m.x0; tx < m.x1; tx += kTile) {
            const int txEnd = std::min(tx + kTile, m.x1);
            if (black || TileOutside(m, tx, txEnd, ty, tyEnd)) {
                for (int y = ty; y < tyEnd; ++y)
                    std::memset(dst + static_cast<size_t>(y) * stride + tx, 0, static_cast<size_t>(txEnd - tx));
                continue;
            }
#if LUMADRIFT_AFFINE_X86
            if (path == AffineSimd::Avx512) {
                MapTileAvx512(m, tx, txEnd, ty, tyEnd, dst, pairTile);
                continue;
            }
            if (path == AffineSimd::Avx2) {
                // The tile after this one in the sweep, whose source rows
                // are worth fetching early.
                TileRect next{txEnd, std::min(txEnd + kTile, m.x1), ty, tyEnd};
                if (txEnd == m.x1)
                    next = {m.x0, std::min(m.x0 + kTile, m.x1), tyEnd, std::min(tyEnd + kTile, bandEnd)};
                MapTileAvx2(m, tx, txEnd, ty, tyEnd, dst, pairTile, next.ya < bandEnd ? &next : nullptr);
                continue;
            }
#endif
            for (int y = ty; y < tyEnd; ++y) {
                // v and its products depend on the row only; they are the
                // values the per-pixel formula computes.
                const double v = y - p.centerY - p.shiftY;
                const double vs = v * m.s, vc = v * m.c;
                MapSegmentScalar(m, tx, txEnd, vs, vc, dst + static_cast<size_t>(y) * stride);
            }
        }
    }
    });
}

void AffineTransform(PlaneBank& bank, const AffineParams& p)
{
    BankView v;
    if (ResolveBank(bank, v))
        AffineTransformKernel(v.src, v.dst, v.stride, v.range, p);
}

}  // namespace lumadrift
