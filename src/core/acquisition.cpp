#include "core/acquisition.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/isa.h"
#include "core/parallel.h"

#if defined(__x86_64__) || defined(__i386__)
#define LUMADRIFT_X86 1
#include "core/intrinsics.h"
#else
#define LUMADRIFT_X86 0
#endif

namespace lumadrift {

namespace {

constexpr double kPi = 3.141592654;

#if LUMADRIFT_X86
bool HasAvx2() { return ActiveIsa() >= IsaLevel::Avx2; }
// The hue's sixteen-lane path needs F and DQ, both part of the level.
bool HasAvx512() { return ActiveIsa() >= IsaLevel::Avx512; }
#endif

// The value stored for a non-finite or out-of-range double is undefined in
// C++; these helpers keep truncation defined for every value the hue can
// take with odd base angles.
inline uint8_t StoreClampedDouble(double v)
{
    if (!(v > -9.2e18 && v < 9.2e18))
        return 0;
    return StoreChannelValue(v);
}

// Brightness through integers: 10000 Y = N = 2999 R + 5870 G + 1140 B
// exactly, and the double sum differs from N / 10000 by less than 1e-12,
// while a Y that is not an integer lies at least 1e-4 from the next one. So
// the truncated double equals floor(N / 10000) except where N is a multiple
// of 10000; there the double arithmetic itself decides. N < 2^24, so the
// quotient can be taken in float (error below 2e-5).
inline __attribute__((always_inline)) void BrightnessLoop(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                                                           size_t n, uint8_t* out)
{
    constexpr size_t kChunk = 256;
    for (size_t start = 0; start < n; start += kChunk) {
        const size_t end = start + kChunk < n ? start + kChunk : n;
        uint32_t exact = 0;
        for (size_t i = start; i < end; ++i) {
            const uint32_t N = 2999u * r[i] + 5870u * g[i] + 1140u * b[i];
            const uint32_t q = static_cast<uint32_t>(static_cast<float>(N) * 1e-4f);
            const uint32_t rem = N - q * 10000u;
            exact |= (rem == 0u) | (rem >= 10000u);
            out[i] = static_cast<uint8_t>(q);
        }
        if (exact) {
            for (size_t i = start; i < end; ++i) {
                const double y = 0.2999 * r[i] + 0.587 * g[i] + 0.114 * b[i];
                out[i] = static_cast<uint8_t>(static_cast<int>(y));
            }
        }
    }
}

// The same loop compiled for the wider level, where the compiler turns it
// into eight lanes.
void BrightnessPlain(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    BrightnessLoop(r, g, b, n, out);
}

#if LUMADRIFT_X86
__attribute__((target("avx2,fma"))) void BrightnessAvx2(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                                                         size_t n, uint8_t* out)
{
    BrightnessLoop(r, g, b, n, out);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,fma,prefer-vector-width=512"))) void BrightnessAvx512(
    const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    BrightnessLoop(r, g, b, n, out);
}
#endif

void Brightness(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
#if LUMADRIFT_X86
    if (ActiveIsa() >= IsaLevel::Avx512) {
        BrightnessAvx512(r, g, b, n, out);
        return;
    }
    if (HasAvx2()) {
        BrightnessAvx2(r, g, b, n, out);
        return;
    }
#endif
    BrightnessPlain(r, g, b, n, out);
}

void SaturationScalar(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    for (size_t i = 0; i < n; ++i) {
        const double R = r[i], G = g[i], B = b[i];
        const double y = 0.2999 * R + 0.587 * G + 0.114 * B;
        const double u = R - y;
        const double v = B - y;
        out[i] = static_cast<uint8_t>(static_cast<int>(std::sqrt(u * u + v * v)));
    }
}

#if LUMADRIFT_X86
// Four pixels at a time, each lane doing exactly the scalar operations in
// the same order (IEEE add, multiply and square root are the same in a
// vector lane), so the bytes are identical.
__attribute__((target("avx2"))) inline __m256d LoadFourAsDouble(const uint8_t* p)
{
    int32_t word;
    std::memcpy(&word, p, 4);
    return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(word)));
}

__attribute__((target("avx2"))) inline void StoreLowBytes(const __m128i v, uint8_t* out)
{
    const __m128i pick = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const int32_t word = _mm_cvtsi128_si32(_mm_shuffle_epi8(v, pick));
    std::memcpy(out, &word, 4);
}

__attribute__((target("avx2")))
void SaturationAvx2(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    const __m256d c1 = _mm256_set1_pd(0.2999), c2 = _mm256_set1_pd(0.587),
                  c3 = _mm256_set1_pd(0.114);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d R = LoadFourAsDouble(r + i), G = LoadFourAsDouble(g + i),
                      B = LoadFourAsDouble(b + i);
        const __m256d y = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c1, R), _mm256_mul_pd(c2, G)),
                                        _mm256_mul_pd(c3, B));
        const __m256d u = _mm256_sub_pd(R, y);
        const __m256d v = _mm256_sub_pd(B, y);
        const __m256d s = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(u, u), _mm256_mul_pd(v, v)));
        StoreLowBytes(_mm256_cvttpd_epi32(s), out + i);
    }
    SaturationScalar(r + i, g + i, b + i, n - i, out + i);
}
#endif

void Saturation(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
#if LUMADRIFT_X86
    if (HasAvx2()) {
        SaturationAvx2(r, g, b, n, out);
        return;
    }
#endif
    SaturationScalar(r, g, b, n, out);
}

// atan on [0, 1] by linear interpolation in a table: the error stays below
// 5e-9 radians (3e-7 degrees, 4e-7 in the hue value).
constexpr int kAtanSteps = 4096;

const double* AtanTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> t(kAtanSteps + 2);
        for (int i = 0; i <= kAtanSteps + 1; ++i)
            t[i] = std::atan(static_cast<double>(i) / kAtanSteps);
        return t;
    }();
    return table.data();
}

// The hue from the table is trusted only away from the places where the
// per-pixel arithmetic changes its outcome: a truncation boundary, the wrap
// at 0 degrees, the fold at 180 and U = V = 0. Pixels near them (about one
// in five thousand) are flagged and computed exactly afterwards, so the
// bytes equal the exact computation everywhere.
constexpr double kNearInteger = 1e-4;  // in hue value units; the table errs below 4e-7
constexpr double kNearAngle = 1e-5;    // in degrees; the table errs below 3e-7
constexpr double kHalfPiD = 1.5707963267948966;
constexpr double kPiD = 3.141592653589793;

inline bool FastHueScalar(double u, double v, double base, const double* table, uint8_t& out)
{
    const double au = std::fabs(u), av = std::fabs(v);
    const double mx = au > av ? au : av;
    if (mx == 0.0)
        return false;
    const double mn = au > av ? av : au;
    const double x = mn / mx * kAtanSteps;
    const int k = static_cast<int>(x);
    const double f = x - k;
    double at = table[k] + (table[k + 1] - table[k]) * f;
    if (au > av)
        at = kHalfPiD - at;
    if (v < 0)
        at = kPiD - at;
    if (u < 0)
        at = -at;
    double a = at * 180.0 / kPi;
    if (std::fabs(a) < kNearAngle)
        return false;
    if (a < 0)
        a += 360.0;
    double d = std::fabs(a - base);
    if (std::fabs(d - 180.0) < kNearAngle)
        return false;
    if (d > 180.0)
        d = 360.0 - d;
    const double value = 255.0 - d * 255.0 / 180.0;
    if (!(std::fabs(value) < 2e9))
        return false;
    if (std::fabs(value - std::nearbyint(value)) < kNearInteger)
        return false;
    out = static_cast<uint8_t>(static_cast<int32_t>(value));
    return true;
}

void HueExact(const uint8_t r, const uint8_t g, const uint8_t b, double base, uint8_t& out)
{
    const BrightnessSplit s = SplitBrightness(r, g, b);
    out = StoreClampedDouble(HueValue(s.redDifference, s.blueDifference, base));
}

void HueScalar(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, double base,
               const double* table, uint8_t* out)
{
    for (size_t i = 0; i < n; ++i) {
        const BrightnessSplit s = SplitBrightness(r[i], g[i], b[i]);
        if (!FastHueScalar(s.redDifference, s.blueDifference, base, table, out[i]))
            HueExact(r[i], g[i], b[i], base, out[i]);
    }
}

#if LUMADRIFT_X86
__attribute__((target("avx2")))
void HueAvx2(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, double base,
             const double* table, uint8_t* out)
{
    const __m256d c1 = _mm256_set1_pd(0.2999), c2 = _mm256_set1_pd(0.587),
                  c3 = _mm256_set1_pd(0.114);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0);
    const __m256d steps = _mm256_set1_pd(kAtanSteps);
    const __m256d halfPi = _mm256_set1_pd(kHalfPiD), pi = _mm256_set1_pd(kPiD);
    const __m256d d180 = _mm256_set1_pd(180.0), d360 = _mm256_set1_pd(360.0);
    const __m256d d255 = _mm256_set1_pd(255.0), piConst = _mm256_set1_pd(kPi);
    const __m256d vbase = _mm256_set1_pd(base);
    const __m256d nearAngle = _mm256_set1_pd(kNearAngle), nearInt = _mm256_set1_pd(kNearInteger);
    const __m256d limit = _mm256_set1_pd(2e9);
    const __m256d rounder = _mm256_set1_pd(6755399441055744.0);  // 1.5 * 2^52
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d R = LoadFourAsDouble(r + i), G = LoadFourAsDouble(g + i),
                      B = LoadFourAsDouble(b + i);
        const __m256d y = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(c1, R), _mm256_mul_pd(c2, G)),
                                        _mm256_mul_pd(c3, B));
        const __m256d u = _mm256_sub_pd(R, y);
        const __m256d v = _mm256_sub_pd(B, y);
        const __m256d au = _mm256_andnot_pd(sign, u), av = _mm256_andnot_pd(sign, v);
        const __m256d steep = _mm256_cmp_pd(au, av, _CMP_GT_OQ);
        const __m256d mx = _mm256_blendv_pd(av, au, steep);
        const __m256d mn = _mm256_blendv_pd(au, av, steep);
        const __m256d none = _mm256_cmp_pd(mx, zero, _CMP_EQ_OQ);
        const __m256d t = _mm256_div_pd(mn, _mm256_blendv_pd(mx, one, none));
        const __m256d x = _mm256_mul_pd(t, steps);
        const __m128i k = _mm256_cvttpd_epi32(x);
        const __m256d f = _mm256_sub_pd(x, _mm256_cvtepi32_pd(k));
        const __m256d t0 = _mm256_mask_i32gather_pd(zero, table, k, all, 8);
        const __m256d t1 = _mm256_mask_i32gather_pd(zero, table + 1, k, all, 8);
        __m256d at = _mm256_add_pd(t0, _mm256_mul_pd(_mm256_sub_pd(t1, t0), f));
        at = _mm256_blendv_pd(at, _mm256_sub_pd(halfPi, at), steep);
        at = _mm256_blendv_pd(at, _mm256_sub_pd(pi, at), _mm256_cmp_pd(v, zero, _CMP_LT_OQ));
        at = _mm256_blendv_pd(at, _mm256_xor_pd(at, sign), _mm256_cmp_pd(u, zero, _CMP_LT_OQ));
        __m256d a = _mm256_div_pd(_mm256_mul_pd(at, d180), piConst);
        __m256d flag = _mm256_or_pd(
            none, _mm256_cmp_pd(_mm256_andnot_pd(sign, a), nearAngle, _CMP_LT_OQ));
        a = _mm256_blendv_pd(a, _mm256_add_pd(a, d360), _mm256_cmp_pd(a, zero, _CMP_LT_OQ));
        __m256d d = _mm256_andnot_pd(sign, _mm256_sub_pd(a, vbase));
        flag = _mm256_or_pd(flag, _mm256_cmp_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(d, d180)),
                                                nearAngle, _CMP_LT_OQ));
        d = _mm256_blendv_pd(d, _mm256_sub_pd(d360, d), _mm256_cmp_pd(d, d180, _CMP_GT_OQ));
        __m256d value = _mm256_sub_pd(d255, _mm256_div_pd(_mm256_mul_pd(d, d255), d180));
        const __m256d tame = _mm256_cmp_pd(_mm256_andnot_pd(sign, value), limit, _CMP_LT_OQ);
        value = _mm256_and_pd(value, tame);
        flag = _mm256_or_pd(flag, _mm256_xor_pd(tame, all));
        const __m256d nearest = _mm256_sub_pd(_mm256_add_pd(value, rounder), rounder);
        flag = _mm256_or_pd(flag, _mm256_cmp_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(value, nearest)),
                                                nearInt, _CMP_LT_OQ));
        StoreLowBytes(_mm256_cvttpd_epi32(value), out + i);
        if (const int bits = _mm256_movemask_pd(flag)) {
            for (int lane = 0; lane < 4; ++lane)
                if (bits & (1 << lane))
                    HueExact(r[i + lane], g[i + lane], b[i + lane], base, out[i + lane]);
        }
    }
    HueScalar(r + i, g + i, b + i, n - i, base, table, out + i);
}
#endif

#if LUMADRIFT_X86
// Sixteen pixels at a time in single precision. With N = 10000 Y the
// differences 10000 U = 7001 R - 5870 G - 1140 B and 10000 V = -2999 R -
// 5870 G + 8860 B are integers below 2^22, exact in float, and the angle is
// that of (U, V). The arc tangent of the smaller over the larger component
// comes from a short polynomial (half-angle step above tan(pi/8)); all
// rounding on the way stays below 2e-4 in the hue value (below 1e-4 on
// every colour at a hundred base angles), so a value further than
// 4e-4 from an integer truncates as the double arithmetic does. The
// places where the outcome can change within that margin (black, the wrap at
// 0 degrees, the fold at 180, values near an integer) are flagged and
// computed exactly, about one pixel in a thousand.
constexpr float kNearIntegerF = 4e-4f;
constexpr float kNearAngleF = 1e-3f;

__attribute__((target("avx512f"))) inline __m512 SixteenAsFloat(const uint8_t* p)
{
    return _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

__attribute__((target("avx512f,avx512dq"))) inline __m512 Abs512(__m512 x)
{
    return _mm512_andnot_ps(_mm512_set1_ps(-0.0f), x);
}

__attribute__((target("avx512f,avx512dq")))
void HueAvx512(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, double base,
               const double* table, uint8_t* out)
{
    const __m512 sign = _mm512_set1_ps(-0.0f);
    const __m512 zero = _mm512_setzero_ps();
    const __m512 tanEighth = _mm512_set1_ps(0.41421356f);
    const __m512 quarterPi = _mm512_set1_ps(0.78539816f);
    const __m512 halfPi = _mm512_set1_ps(1.57079633f), pi = _mm512_set1_ps(3.14159265f);
    const __m512 p0 = _mm512_set1_ps(8.05374449538e-2f), p1 = _mm512_set1_ps(-1.38776856032e-1f),
                 p2 = _mm512_set1_ps(1.99777106478e-1f), p3 = _mm512_set1_ps(-3.33329491539e-1f);
    const __m512 toDegrees = _mm512_set1_ps(static_cast<float>(180.0 / kPi));
    const __m512 d180 = _mm512_set1_ps(180.0f), d360 = _mm512_set1_ps(360.0f);
    const __m512 d255 = _mm512_set1_ps(255.0f), perDegree = _mm512_set1_ps(255.0f / 180.0f);
    const __m512 vbase = _mm512_set1_ps(static_cast<float>(base));
    const __m512 nearAngle = _mm512_set1_ps(kNearAngleF), nearInt = _mm512_set1_ps(kNearIntegerF);
    const __m512 cur = _mm512_set1_ps(7001.0f), cug = _mm512_set1_ps(-5870.0f), cub = _mm512_set1_ps(-1140.0f);
    const __m512 cvr = _mm512_set1_ps(-2999.0f), cvb = _mm512_set1_ps(8860.0f);
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512 R = SixteenAsFloat(r + i), G = SixteenAsFloat(g + i), B = SixteenAsFloat(b + i);
        const __m512 gg = _mm512_mul_ps(cug, G);
        const __m512 u = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(cur, R), gg), _mm512_mul_ps(cub, B));
        const __m512 v = _mm512_add_ps(_mm512_add_ps(_mm512_mul_ps(cvr, R), gg), _mm512_mul_ps(cvb, B));
        const __m512 au = Abs512(u), av = Abs512(v);
        const __mmask16 steep = _mm512_cmp_ps_mask(au, av, _CMP_GT_OQ);
        const __m512 mx = _mm512_max_ps(au, av), mn = _mm512_min_ps(au, av);
        __mmask16 flag = _mm512_cmp_ps_mask(mx, zero, _CMP_EQ_OQ);
        // Above tan(pi/8): atan(t) = pi/4 + atan((t - 1) / (t + 1)).
        const __mmask16 upper = _mm512_cmp_ps_mask(mn, _mm512_mul_ps(mx, tanEighth), _CMP_GT_OQ);
        const __m512 num = _mm512_mask_sub_ps(mn, upper, mn, mx);
        const __m512 den = _mm512_mask_add_ps(mx, upper, mn, mx);
        const __m512 t = _mm512_div_ps(num, _mm512_mask_blend_ps(flag, den, d255));
        const __m512 z = _mm512_mul_ps(t, t);
        __m512 poly = _mm512_add_ps(_mm512_mul_ps(p0, z), p1);
        poly = _mm512_add_ps(_mm512_mul_ps(poly, z), p2);
        poly = _mm512_add_ps(_mm512_mul_ps(poly, z), p3);
        __m512 at = _mm512_add_ps(_mm512_mul_ps(_mm512_mul_ps(poly, z), t), t);
        at = _mm512_mask_add_ps(at, upper, at, quarterPi);
        at = _mm512_mask_sub_ps(at, steep, halfPi, at);
        at = _mm512_mask_sub_ps(at, _mm512_cmp_ps_mask(v, zero, _CMP_LT_OQ), pi, at);
        at = _mm512_mask_xor_ps(at, _mm512_cmp_ps_mask(u, zero, _CMP_LT_OQ), at, sign);
        __m512 a = _mm512_mul_ps(at, toDegrees);
        flag |= _mm512_cmp_ps_mask(Abs512(a), nearAngle, _CMP_LT_OQ);
        a = _mm512_mask_add_ps(a, _mm512_cmp_ps_mask(a, zero, _CMP_LT_OQ), a, d360);
        __m512 d = Abs512(_mm512_sub_ps(a, vbase));
        flag |= _mm512_cmp_ps_mask(Abs512(_mm512_sub_ps(d, d180)), nearAngle, _CMP_LT_OQ);
        d = _mm512_mask_sub_ps(d, _mm512_cmp_ps_mask(d, d180, _CMP_GT_OQ), d360, d);
        const __m512 value = _mm512_sub_ps(d255, _mm512_mul_ps(d, perDegree));
        const __m512 nearest = _mm512_roundscale_ps(value, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        flag |= _mm512_cmp_ps_mask(Abs512(_mm512_sub_ps(value, nearest)), nearInt, _CMP_LT_OQ);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(value)));
        for (unsigned bits = flag; bits; bits &= bits - 1) {
            const int lane = __builtin_ctz(bits);
            HueExact(r[i + lane], g[i + lane], b[i + lane], base, out[i + lane]);
        }
    }
    HueScalar(r + i, g + i, b + i, n - i, base, table, out + i);
}
#endif

void Hue(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, double base, uint8_t* out)
{
    const double* table = AtanTable();
#if LUMADRIFT_X86
    // The single-precision bounds hold for base angles of ordinary size.
    if (HasAvx512() && std::fabs(base) <= 1000.0) {
        HueAvx512(r, g, b, n, base, table, out);
        return;
    }
    if (HasAvx2()) {
        HueAvx2(r, g, b, n, base, table, out);
        return;
    }
#endif
    HueScalar(r, g, b, n, base, table, out);
}

}  // namespace

BrightnessSplit SplitBrightness(double r, double g, double b)
{
    const double y = 0.2999 * r + 0.587 * g + 0.114 * b;
    return {y, r - y, b - y};
}

double HueValue(double u, double v, double baseAngle)
{
    double a = std::atan2(u, v) * 180.0 / kPi;
    if (a < 0)
        a = a + 360.0;
    double d = std::fabs(a - baseAngle);
    if (d > 180.0)
        d = 360.0 - d;
    return 255.0 - d * 255.0 / 180.0;
}

double SaturationValue(double u, double v)
{
    return std::sqrt(u * u + v * v);
}

namespace {

bool AcquireRun(const uint8_t* red, const uint8_t* green, const uint8_t* blue, size_t count,
                int channel, bool invert, double baseAngle, uint8_t* gray)
{
    switch (channel) {
    case kChannelRed:
    case kChannelGreen:
    case kChannelBlue: {
        const uint8_t* src = channel == kChannelRed ? red : channel == kChannelGreen ? green : blue;
        if (invert) {
            for (size_t i = 0; i < count; ++i)
                gray[i] = static_cast<uint8_t>(255 - src[i]);
        } else {
            for (size_t i = 0; i < count; ++i)
                gray[i] = src[i];
        }
        return true;
    }
    case kChannelBrightness:
        Brightness(red, green, blue, count, gray);
        return true;
    case kChannelHue:
        Hue(red, green, blue, count, baseAngle, gray);
        return true;
    case kChannelSaturation:
        Saturation(red, green, blue, count, gray);
        return true;
    default:
        return false;
    }
}

}  // namespace

bool AcquireChannelPixels(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                          size_t count, int channel, bool invert, double baseAngle,
                          uint8_t* gray)
{
    if (channel < kChannelRed || channel > kChannelSaturation)
        return false;
    // Every pixel is computed on its own, so the pixels are dealt out in
    // blocks (a multiple of every vector width) to the pool.
    constexpr size_t kBlock = 1 << 14;
    const size_t blocks = (count + kBlock - 1) / kBlock;
    if (blocks <= 1 || blocks > (1u << 30)) {
        AcquireRun(red, green, blue, count, channel, invert, baseAngle, gray);
        return true;
    }
    ParallelFor(0, static_cast<int>(blocks), 4, [&](int first, int last) {
        const size_t begin = static_cast<size_t>(first) * kBlock;
        const size_t end = std::min(count, static_cast<size_t>(last) * kBlock);
        AcquireRun(red + begin, green + begin, blue + begin, end - begin, channel, invert, baseAngle,
                   gray + begin);
    });
    return true;
}

}  // namespace lumadrift
