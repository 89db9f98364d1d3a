#include "filters/derivative.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

#include "core/c_number.h"
#include "core/file_io.h"
#include "core/isa.h"
#include "core/parallel.h"

#if defined(__SSE2__)
#include "core/intrinsics.h"
#define LUMADRIFT_SSE2 1
#endif

namespace lumadrift {

const int8_t kRobertsA[9] = {0, 0, 0, 0, 1, 0, 0, 0, -1};
const int8_t kRobertsB[9] = {0, 0, 0, 0, 0, 1, 0, -1, 0};
const int8_t kSobelA[9] = {-1, 0, 1, -2, 0, 2, -1, 0, 1};
const int8_t kSobelB[9] = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
const int8_t kPrewittA[9] = {-1, 0, 1, -1, 0, 1, -1, 0, 1};
const int8_t kPrewittB[9] = {-1, -1, -1, 0, 0, 0, 1, 1, 1};
const double kLaplacianKernel[9] = {1, 1, 1, 1, -8, 1, 1, 1, 1};
const double kSmoothKernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
const double kSharpenKernel[9] = {-1, -1, -1, -1, 9, -1, -1, -1, -1};

namespace {

// Over-read allowance at the end of a cached row: the vector loops work in
// whole blocks and throw away the pixels past the range.
constexpr int kSlack = 64;

// The source rows a window needs, each copied once with its folded border
// columns on both sides, so the per-pixel loops never fold. A row stays
// cached while the window slides over it; near the top and bottom edge the
// folded row numbers repeat and the cache simply hands out the same row
// twice.
template <typename T>
class FoldedRows {
public:
    FoldedRows(const uint8_t* src, int stride, FilterRange r, int rx, int ry)
        : src_(src), stride_(stride), r_(r), rx_(rx), ry_(ry), span_(r.w + 2 * rx + kSlack),
          slots_(2 * ry + 1), storage_(static_cast<size_t>(slots_) * span_, T(0)), tags_(slots_, -1),
          rows_(slots_), needed_(slots_), slotOf_(slots_), used_(slots_)
    {
        for (int i = 1; i <= rx; ++i) {
            left_.push_back(FoldIntoRange(r.x0 - i, r.x0, r.w));
            right_.push_back(FoldIntoRange(r.x0 + r.w - 1 + i, r.x0, r.w));
        }
    }

    // rows[k] points at column x0 of source row FoldIntoRange(y + k - ry);
    // columns -rx .. w + rx - 1 around it are valid.
    const T* const* Rows(int y)
    {
        std::fill(used_.begin(), used_.end(), false);
        for (int k = 0; k < slots_; ++k) {
            needed_[k] = FoldIntoRange(y + k - ry_, r_.y0, r_.h);
            slotOf_[k] = -1;
            for (int s = 0; s < slots_; ++s) {
                if (tags_[s] == needed_[k]) {
                    slotOf_[k] = s;
                    used_[s] = true;
                    break;
                }
            }
        }
        for (int k = 0; k < slots_; ++k) {
            if (slotOf_[k] >= 0)
                continue;
            // A row needed twice (near an edge) was loaded for its first use.
            int s = -1;
            for (int t = 0; t < slots_; ++t) {
                if (tags_[t] == needed_[k]) {
                    s = t;
                    break;
                }
            }
            if (s < 0) {
                s = 0;
                while (used_[s])
                    ++s;
                Load(s, needed_[k]);
            }
            slotOf_[k] = s;
            used_[s] = true;
        }
        for (int k = 0; k < slots_; ++k)
            rows_[k] = storage_.data() + static_cast<size_t>(slotOf_[k]) * span_ + rx_;
        return rows_.data();
    }

private:
    void Load(int slot, int sy)
    {
        tags_[slot] = sy;
        T* p = storage_.data() + static_cast<size_t>(slot) * span_ + rx_;
        const uint8_t* s = src_ + static_cast<size_t>(sy) * stride_;
        const uint8_t* in = s + r_.x0;
        for (int i = 0; i < r_.w; ++i)
            p[i] = static_cast<T>(in[i]);
        for (int i = 1; i <= rx_; ++i) {
            p[-i] = static_cast<T>(s[left_[i - 1]]);
            p[r_.w - 1 + i] = static_cast<T>(s[right_[i - 1]]);
        }
    }

    const uint8_t* src_;
    int stride_;
    FilterRange r_;
    int rx_, ry_, span_, slots_;
    std::vector<T> storage_;
    std::vector<int> tags_;
    std::vector<const T*> rows_;
    std::vector<int> needed_, slotOf_;
    std::vector<bool> used_;
    std::vector<int> left_, right_;
};

bool RangeUsable(const uint8_t* src, const uint8_t* dst, int stride, FilterRange r)
{
    return src && dst && r.w > 0 && r.h > 0 && r.x0 >= 0 && r.y0 >= 0 && r.x0 + r.w <= stride;
}

bool OddPositive(int n) { return n > 0 && (n & 1) == 1; }

uint8_t* DstRow(uint8_t* dst, int stride, FilterRange r, int y)
{
    return dst + static_cast<size_t>(y) * stride + r.x0;
}

// One non-zero coefficient of an integer kernel: which cached row, which
// column offset.
struct IntTerm {
    int row;
    int dx;
    int coef;
};

std::vector<IntTerm> IntTerms(const int8_t* k, int size)
{
    std::vector<IntTerm> terms;
    const int r = size / 2;
    for (int j = 0; j < size; ++j)
        for (int i = 0; i < size; ++i)
            if (k[j * size + i] != 0)
                terms.push_back({j, i - r, k[j * size + i]});
    return terms;
}

// ---- gradient magnitude ----

// Any kernel, in the 32-bit arithmetic as written: sums and squares wrap
// like the 32-bit integers they are, and a sum of squares that wrapped
// negative has no square root and gives 0.
void GradientRowScalar(const uint8_t* const* rows, int w, const std::vector<IntTerm>& ta,
                       const std::vector<IntTerm>& tb, uint8_t* out)
{
    for (int x = 0; x < w; ++x) {
        uint32_t a = 0, b = 0;
        for (const IntTerm& t : ta)
            a += static_cast<uint32_t>(rows[t.row][x + t.dx] * t.coef);
        for (const IntTerm& t : tb)
            b += static_cast<uint32_t>(rows[t.row][x + t.dx] * t.coef);
        const int32_t s = static_cast<int32_t>(a * a + b * b);
        int g = s < 0 ? 0 : static_cast<int>(std::sqrt(static_cast<double>(s)));
        out[x] = static_cast<uint8_t>(std::min(g, 255));
    }
}

#if LUMADRIFT_SSE2
// 16 pixels of one integer kernel in 16-bit lanes; exact while the sum of
// the absolute coefficients times 255 fits 16 bits.
inline void Accumulate16(const uint8_t* const* rows, int x, const std::vector<IntTerm>& terms,
                         __m128i& lo, __m128i& hi)
{
    const __m128i zero = _mm_setzero_si128();
    lo = hi = zero;
    for (const IntTerm& t : terms) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t.row] + x + t.dx));
        const __m128i vl = _mm_unpacklo_epi8(v, zero);
        const __m128i vh = _mm_unpackhi_epi8(v, zero);
        if (t.coef == 1) {
            lo = _mm_add_epi16(lo, vl);
            hi = _mm_add_epi16(hi, vh);
        } else if (t.coef == -1) {
            lo = _mm_sub_epi16(lo, vl);
            hi = _mm_sub_epi16(hi, vh);
        } else {
            const __m128i c = _mm_set1_epi16(static_cast<short>(t.coef));
            lo = _mm_add_epi16(lo, _mm_mullo_epi16(vl, c));
            hi = _mm_add_epi16(hi, _mm_mullo_epi16(vh, c));
        }
    }
}

// Four interleaved (a, b) pairs to min(255, floor(sqrt(a * a + b * b))).
// Below 255 * 255 the single-precision root truncates to the same integer
// as the double one: the sum is exact in float and no root of a non-square
// comes within float rounding of the next integer there.
inline __m128i Magnitude4(__m128i ab)
{
    const __m128i s = _mm_madd_epi16(ab, ab);
    const __m128 f = _mm_min_ps(_mm_cvtepi32_ps(s), _mm_set1_ps(65025.0f));
    return _mm_cvttps_epi32(_mm_sqrt_ps(f));
}

void GradientRowSse2(const uint8_t* const* rows, int w, const std::vector<IntTerm>& ta,
                     const std::vector<IntTerm>& tb, uint8_t* out)
{
    for (int x = 0; x < w; x += 16) {
        __m128i aLo, aHi, bLo, bHi;
        Accumulate16(rows, x, ta, aLo, aHi);
        Accumulate16(rows, x, tb, bLo, bHi);
        const __m128i r0 = Magnitude4(_mm_unpacklo_epi16(aLo, bLo));
        const __m128i r1 = Magnitude4(_mm_unpackhi_epi16(aLo, bLo));
        const __m128i r2 = Magnitude4(_mm_unpacklo_epi16(aHi, bHi));
        const __m128i r3 = Magnitude4(_mm_unpackhi_epi16(aHi, bHi));
        const __m128i px = _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3));
        if (x + 16 <= w) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), px);
        } else {
            alignas(16) uint8_t tmp[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(tmp), px);
            std::memcpy(out + x, tmp, static_cast<size_t>(w - x));
        }
    }
}
#endif

[[maybe_unused]] bool FitsSixteenBits(const std::vector<IntTerm>& terms)
{
    long long total = 0;
    for (const IntTerm& t : terms)
        total += std::abs(t.coef);
    return total * 255 <= 32767;
}

// ---- convolution ----

struct DoubleTerm {
    int row;
    int dx;
    double coef;
};

// The kernel's terms in the order of the sum: rows top to bottom, each left
// to right. Exact zeros are left out: adding a zero product can only change
// the sign of a zero sum, and a zero of either sign gives the byte 0.
std::vector<DoubleTerm> DoubleTerms(const double* k, int cols, int rows)
{
    std::vector<DoubleTerm> terms;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i)
            if (k[j * cols + i] != 0.0)
                terms.push_back({j, i - cols / 2, k[j * cols + i]});
    return terms;
}

inline uint8_t ClampTruncate(double t)
{
    if (!(t >= 0.0))
        return 0;  // below 0, or not a number
    if (t > 255.0)
        return 255;
    return static_cast<uint8_t>(t);
}

void ConvolveRowScalar(const double* const* rows, const std::vector<DoubleTerm>& terms, int w,
                       bool divide, double sum, uint8_t* out)
{
    for (int x = 0; x < w; ++x) {
        double t = 0.0;
        for (const DoubleTerm& term : terms)
            t += rows[term.row][x + term.dx] * term.coef;
        if (divide)
            t = t / sum;
        out[x] = ClampTruncate(t);
    }
}

#if LUMADRIFT_SSE2
// Vectors run across neighbouring pixels, each lane keeping its own pixel's
// sum in the kernel's order. Eight accumulators hide the latency of the
// chained additions.
void ConvolveRowSse2(const double* const* rows, const std::vector<DoubleTerm>& terms, int w,
                     bool divide, double sum, uint8_t* out)
{
    constexpr int kVec = 8;
    constexpr int kBlock = 2 * kVec;
    const __m128d zero = _mm_setzero_pd();
    const __m128d top = _mm_set1_pd(255.0);
    const __m128d sumv = _mm_set1_pd(sum);
    for (int x = 0; x < w; x += kBlock) {
        __m128d acc[kVec];
        for (int v = 0; v < kVec; ++v)
            acc[v] = zero;
        for (const DoubleTerm& t : terms) {
            const double* p = rows[t.row] + x + t.dx;
            const __m128d c = _mm_set1_pd(t.coef);
            for (int v = 0; v < kVec; ++v)
                acc[v] = _mm_add_pd(acc[v], _mm_mul_pd(_mm_loadu_pd(p + 2 * v), c));
        }
        __m128i q[kVec];
        for (int v = 0; v < kVec; ++v) {
            __m128d a = divide ? _mm_div_pd(acc[v], sumv) : acc[v];
            a = _mm_min_pd(_mm_max_pd(a, zero), top);  // max_pd gives zero for NaN
            q[v] = _mm_cvttpd_epi32(a);                  // two int32 in the low half
        }
        const __m128i i0 = _mm_unpacklo_epi64(q[0], q[1]);
        const __m128i i1 = _mm_unpacklo_epi64(q[2], q[3]);
        const __m128i i2 = _mm_unpacklo_epi64(q[4], q[5]);
        const __m128i i3 = _mm_unpacklo_epi64(q[6], q[7]);
        const __m128i px = _mm_packus_epi16(_mm_packs_epi32(i0, i1), _mm_packs_epi32(i2, i3));
        if (x + kBlock <= w) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), px);
        } else {
            alignas(16) uint8_t tmp[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(tmp), px);
            std::memcpy(out + x, tmp, static_cast<size_t>(w - x));
        }
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define LUMADRIFT_AVX_DISPATCH 1
// The same with four lanes, chosen at run time. Only AVX is asked for, not
// FMA, so every product is rounded before it is added, as in the scalar sum.
__attribute__((target("avx"))) void ConvolveRowAvx(const double* const* rows,
                                                   const std::vector<DoubleTerm>& terms, int w,
                                                   bool divide, double sum, uint8_t* out)
{
    constexpr int kVec = 8;
    constexpr int kBlock = 4 * kVec;
    const __m256d zero = _mm256_setzero_pd();
    const __m256d top = _mm256_set1_pd(255.0);
    const __m256d sumv = _mm256_set1_pd(sum);
    for (int x = 0; x < w; x += kBlock) {
        __m256d acc[kVec];
        for (int v = 0; v < kVec; ++v)
            acc[v] = zero;
        for (const DoubleTerm& t : terms) {
            const double* p = rows[t.row] + x + t.dx;
            const __m256d c = _mm256_set1_pd(t.coef);
            for (int v = 0; v < kVec; ++v)
                acc[v] = _mm256_add_pd(acc[v], _mm256_mul_pd(_mm256_loadu_pd(p + 4 * v), c));
        }
        __m128i q[kVec];
        for (int v = 0; v < kVec; ++v) {
            __m256d a = divide ? _mm256_div_pd(acc[v], sumv) : acc[v];
            a = _mm256_min_pd(_mm256_max_pd(a, zero), top);
            q[v] = _mm256_cvttpd_epi32(a);
        }
        const __m128i lo = _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        const __m128i hi = _mm_packus_epi16(_mm_packs_epi32(q[4], q[5]), _mm_packs_epi32(q[6], q[7]));
        if (x + kBlock <= w) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 16), hi);
        } else {
            alignas(16) uint8_t tmp[32];
            _mm_store_si128(reinterpret_cast<__m128i*>(tmp), lo);
            _mm_store_si128(reinterpret_cast<__m128i*>(tmp + 16), hi);
            std::memcpy(out + x, tmp, static_cast<size_t>(w - x));
        }
    }
}

// Eight lanes, the same per-lane operations again.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void ConvolveRowAvx512(const double* const* rows,
                                                                           const std::vector<DoubleTerm>& terms,
                                                                           int w, bool divide, double sum,
                                                                           uint8_t* out)
{
    constexpr int kVec = 8;
    constexpr int kBlock = 8 * kVec;
    const __m512d zero = _mm512_setzero_pd();
    const __m512d top = _mm512_set1_pd(255.0);
    const __m512d sumv = _mm512_set1_pd(sum);
    for (int x = 0; x < w; x += kBlock) {
        __m512d acc[kVec];
        for (int v = 0; v < kVec; ++v)
            acc[v] = zero;
        for (const DoubleTerm& t : terms) {
            const double* p = rows[t.row] + x + t.dx;
            const __m512d c = _mm512_set1_pd(t.coef);
            for (int v = 0; v < kVec; ++v)
                acc[v] = _mm512_add_pd(acc[v], _mm512_mul_pd(_mm512_loadu_pd(p + 8 * v), c));
        }
        alignas(64) uint8_t bytes[kBlock];
        for (int v = 0; v < kVec; ++v) {
            __m512d a = divide ? _mm512_div_pd(acc[v], sumv) : acc[v];
            // max with zero first: a NaN lane becomes 0, as in the scalar rule.
            a = _mm512_min_pd(_mm512_max_pd(a, zero), top);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 8 * v), _mm256_cvtepi32_epi8(_mm512_cvttpd_epi32(a)));
        }
        std::memcpy(out + x, bytes, static_cast<size_t>(std::min(kBlock, w - x)));
    }
}

bool HaveAvx() { return ActiveIsa() >= IsaLevel::Avx2; }
bool HaveAvx512() { return ActiveIsa() >= IsaLevel::Avx512; }
#endif

// Integer kernels whose products and sums stay exact in 16 bits: the double
// sum of integer terms is that same integer, so only the division and the
// clamping need care.
void ConvolveRowInt16(const uint8_t* const* rows, const std::vector<IntTerm>& terms, int w, int isum,
                      uint8_t* out)
{
    int shift = -1;
    if (isum > 1 && (isum & (isum - 1)) == 0) {
        shift = 0;
        while ((1 << shift) != isum)
            ++shift;
    }
    const __m128 divisor = _mm_set1_ps(static_cast<float>(isum));
    for (int x = 0; x < w; x += 16) {
        __m128i lo, hi;
        Accumulate16(rows, x, terms, lo, hi);
        __m128i px;
        if (isum <= 1) {
            // No division, or by 1: saturation to 0..255 is the clamp.
            px = _mm_packus_epi16(lo, hi);
        } else if (shift >= 0) {
            // Non-negative sums shift down exactly as they truncate; negative
            // ones stay negative and saturate to 0.
            px = _mm_packus_epi16(_mm_srai_epi16(lo, shift), _mm_srai_epi16(hi, shift));
        } else {
            // |sum| < 2^15 and divisor <= 128: the float quotient is never
            // close enough to an integer to truncate differently.
            auto div4 = [&](__m128i s16, bool upper) {
                const __m128i s32 = upper ? _mm_srai_epi32(_mm_unpackhi_epi16(s16, s16), 16)
                                          : _mm_srai_epi32(_mm_unpacklo_epi16(s16, s16), 16);
                return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(s32), divisor));
            };
            px = _mm_packus_epi16(_mm_packs_epi32(div4(lo, false), div4(lo, true)),
                                  _mm_packs_epi32(div4(hi, false), div4(hi, true)));
        }
        if (x + 16 <= w) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), px);
        } else {
            alignas(16) uint8_t tmp[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(tmp), px);
            std::memcpy(out + x, tmp, static_cast<size_t>(w - x));
        }
    }
}
#endif

// The 1-2-1 kernel ({1, 2, 1} times {1, 2, 1}, sum 16) factors into a column
// pass and a row pass over integers: the sum of the nine products is the
// same integer either way, and dividing a non-negative sum by 16 and
// truncating is a shift. Rows [first, last) of the range.
inline __attribute__((always_inline)) void Smooth121Rows(const uint8_t* src, uint8_t* dst, int stride,
                                                          FilterRange r, int first, int last)
{
    const int w = r.w;
    std::vector<uint16_t> column(static_cast<size_t>(w) + 2);
    uint16_t* c = column.data() + 1;
    for (int y = first; y < last; ++y) {
        const uint8_t* __restrict a = src + static_cast<size_t>(FoldIntoRange(y - 1, r.y0, r.h)) * stride + r.x0;
        const uint8_t* __restrict m = src + static_cast<size_t>(y) * stride + r.x0;
        const uint8_t* __restrict e = src + static_cast<size_t>(FoldIntoRange(y + 1, r.y0, r.h)) * stride + r.x0;
        for (int x = 0; x < w; ++x)
            c[x] = static_cast<uint16_t>(a[x] + 2 * m[x] + e[x]);
        c[-1] = c[FoldIntoRange(-1, 0, w)];
        c[w] = c[FoldIntoRange(w, 0, w)];
        uint8_t* __restrict d = dst + static_cast<size_t>(y) * stride + r.x0;
        for (int x = 0; x < w; ++x)
            d[x] = static_cast<uint8_t>((c[x - 1] + 2 * c[x] + c[x + 1]) >> 4);
    }
}

// The same loops compiled for each instruction set; the compiler turns them
// into vector code of its width.
void Smooth121Plain(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int first, int last)
{
    Smooth121Rows(src, dst, stride, r, first, last);
}
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) void Smooth121Avx2(const uint8_t* src, uint8_t* dst, int stride, FilterRange r,
                                                   int first, int last)
{
    Smooth121Rows(src, dst, stride, r, first, last);
}
__attribute__((target("avx512f,avx512bw"))) void Smooth121Avx512(const uint8_t* src, uint8_t* dst, int stride,
                                                                 FilterRange r, int first, int last)
{
    Smooth121Rows(src, dst, stride, r, first, last);
}
#endif

void Smooth121Band(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int first, int last)
{
#if defined(__GNUC__) && defined(__x86_64__)
    const IsaLevel level = ActiveIsa();
    if (level >= IsaLevel::Avx512)
        return Smooth121Avx512(src, dst, stride, r, first, last);
    if (level >= IsaLevel::Avx2)
        return Smooth121Avx2(src, dst, stride, r, first, last);
#endif
    Smooth121Plain(src, dst, stride, r, first, last);
}

bool IsSmooth121(const double* k, int cols, int rows)
{
    if (cols != 3 || rows != 3)
        return false;
    for (int i = 0; i < 9; ++i)
        if (k[i] != kSmoothKernel[i])
            return false;
    return true;
}

// Integer coefficients of a bounded total, as 16-bit terms; false when the
// kernel needs the double path.
[[maybe_unused]] bool SmallIntegerKernel(const double* k, int cols, int rows, std::vector<IntTerm>& terms, int& isum)
{
    double total = 0.0;
    long long s = 0;
    terms.clear();
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            const double c = k[j * cols + i];
            if (!(std::fabs(c) <= 128.0) || c != std::trunc(c))
                return false;
            total += std::fabs(c);
            s += static_cast<long long>(c);
            if (total > 128.0)
                return false;
            if (c != 0.0)
                terms.push_back({j, i - cols / 2, static_cast<int>(c)});
        }
    }
    isum = static_cast<int>(s);
    return true;
}

// ---- text helpers ----

// The leading plain decimal number of a token; 0.0 without one.
double ParseDecimal(const std::string& token) { return ParseRealValue(token); }

bool IsSeparator(char c) { return c == '\t' || c == ' ' || c == ','; }

// Length of the line end starting at i (CR LF counts as one), 0 if none.
size_t LineEndAt(const std::string& text, size_t i)
{
    if (i >= text.size())
        return 0;
    if (text[i] == '\r')
        return (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
    return text[i] == '\n' ? 1 : 0;
}


}  // namespace

int GradientMagnitudeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range, int size,
                            const int8_t* a, const int8_t* b)
{
    if (!a || !b || !OddPositive(size) || !RangeUsable(src, dst, stride, range))
        return -1;
    const std::vector<IntTerm> ta = IntTerms(a, size);
    const std::vector<IntTerm> tb = IntTerms(b, size);
    const int r = size / 2;
#if LUMADRIFT_SSE2
    const bool vector = FitsSixteenBits(ta) && FitsSixteenBits(tb) && ActiveIsa() >= IsaLevel::Sse2;
#endif
    // Each band caches its own rows, so the bands are independent.
    ParallelFor(range.y0, range.y0 + range.h, std::max(8, size), [&](int first, int last) {
        FoldedRows<uint8_t> cache(src, stride, range, r, r);
        for (int y = first; y < last; ++y) {
            const uint8_t* const* rows = cache.Rows(y);
            uint8_t* out = DstRow(dst, stride, range, y);
#if LUMADRIFT_SSE2
            if (vector) {
                GradientRowSse2(rows, range.w, ta, tb, out);
                continue;
            }
#endif
            GradientRowScalar(rows, range.w, ta, tb, out);
        }
    });
    return 0;
}

void RobertsKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    GradientMagnitudeKernel(src, dst, stride, range, 3, kRobertsA, kRobertsB);
}
void SobelKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    GradientMagnitudeKernel(src, dst, stride, range, 3, kSobelA, kSobelB);
}
void PrewittKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    GradientMagnitudeKernel(src, dst, stride, range, 3, kPrewittA, kPrewittB);
}

int ConvolveKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range, int cols, int rows,
                   const double* k)
{
    if (!k || !OddPositive(cols) || !OddPositive(rows) || !RangeUsable(src, dst, stride, range))
        return -1;
    double sum = 0.0;
    for (long long i = 0; i < static_cast<long long>(cols) * rows; ++i)
        sum += k[i];
    const bool divide = sum > 0.0;
    // The scalar level takes the general loops below, so they run in tests
    // on any processor.
    const bool vector = ActiveIsa() >= IsaLevel::Sse2;
    if (vector && IsSmooth121(k, cols, rows)) {
        ParallelFor(range.y0, range.y0 + range.h, RowsForBytes(static_cast<size_t>(range.w) * 4),
                    [&](int first, int last) { Smooth121Band(src, dst, stride, range, first, last); });
        return 0;
    }

#if LUMADRIFT_SSE2
    std::vector<IntTerm> intTerms;
    int isum = 0;
    const int minRows = std::max(8, rows);
    if (vector && SmallIntegerKernel(k, cols, rows, intTerms, isum)) {
        ParallelFor(range.y0, range.y0 + range.h, minRows, [&](int first, int last) {
            FoldedRows<uint8_t> cache(src, stride, range, cols / 2, rows / 2);
            for (int y = first; y < last; ++y)
                ConvolveRowInt16(cache.Rows(y), intTerms, range.w, isum, DstRow(dst, stride, range, y));
        });
        return 0;
    }
#else
    const int minRows = std::max(8, rows);
#endif
    const std::vector<DoubleTerm> terms = DoubleTerms(k, cols, rows);
    ParallelFor(range.y0, range.y0 + range.h, minRows, [&](int first, int last) {
        FoldedRows<double> cache(src, stride, range, cols / 2, rows / 2);
        for (int y = first; y < last; ++y) {
            const double* const* rowPtrs = cache.Rows(y);
            uint8_t* out = DstRow(dst, stride, range, y);
#if LUMADRIFT_AVX_DISPATCH
            if (HaveAvx512()) {
                ConvolveRowAvx512(rowPtrs, terms, range.w, divide, sum, out);
                continue;
            }
            if (HaveAvx()) {
                ConvolveRowAvx(rowPtrs, terms, range.w, divide, sum, out);
                continue;
            }
#endif
#if LUMADRIFT_SSE2
            if (vector) {
                ConvolveRowSse2(rowPtrs, terms, range.w, divide, sum, out);
                continue;
            }
#endif
            ConvolveRowScalar(rowPtrs, terms, range.w, divide, sum, out);
        }
    });
    return 0;
}

void LaplacianKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    ConvolveKernel(src, dst, stride, range, 3, 3, kLaplacianKernel);
}
void SmoothKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    ConvolveKernel(src, dst, stride, range, 3, 3, kSmoothKernel);
}
void SharpenKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    ConvolveKernel(src, dst, stride, range, 3, 3, kSharpenKernel);
}

int GradientMagnitude(PlaneBank& bank, int size, const int8_t* a, const int8_t* b)
{
    BankView v;
    if (!ResolveBank(bank, v))
        return 0;
    return GradientMagnitudeKernel(v.src, v.dst, v.stride, v.range, size, a, b);
}
void Roberts(PlaneBank& bank) { GradientMagnitude(bank, 3, kRobertsA, kRobertsB); }
void Sobel(PlaneBank& bank) { GradientMagnitude(bank, 3, kSobelA, kSobelB); }
void Prewitt(PlaneBank& bank) { GradientMagnitude(bank, 3, kPrewittA, kPrewittB); }

int Convolve(PlaneBank& bank, int cols, int rows, const double* coefficients)
{
    BankView v;
    if (!ResolveBank(bank, v))
        return 0;
    return ConvolveKernel(v.src, v.dst, v.stride, v.range, cols, rows, coefficients);
}
void Laplacian(PlaneBank& bank) { Convolve(bank, 3, 3, kLaplacianKernel); }
void Smooth(PlaneBank& bank) { Convolve(bank, 3, 3, kSmoothKernel); }
void Sharpen(PlaneBank& bank) { Convolve(bank, 3, 3, kSharpenKernel); }

// ---- kernel files ----

void CountKernelShape(const std::string& text, int& cols, int& rows)
{
    cols = 1;
    rows = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = LineEndAt(text, i);
        if (end) {
            ++rows;
            i += end - 1;
        } else if (rows == 0 && IsSeparator(text[i]) && !LineEndAt(text, i + 1)) {
            ++cols;
        }
    }
}

int ParseKernelValues(const std::string& text, int cols, int rows, std::vector<double>& values)
{
    values.clear();
    if (cols <= 0 || rows <= 0)
        return -1;
    const unsigned long long expected = static_cast<unsigned long long>(cols) * rows;
    // Every value but the last needs a character to end it.
    if (expected > text.size() + 1ULL)
        return -1;
    values.reserve(static_cast<size_t>(expected));
    std::string token;
    size_t i = 0;
    while (values.size() < expected && i < text.size()) {
        const char c = text[i];
        if (IsSeparator(c)) {
            values.push_back(ParseDecimal(token));
            token.clear();
            ++i;
            i += LineEndAt(text, i);
        } else if (const size_t end = LineEndAt(text, i)) {
            values.push_back(ParseDecimal(token));
            token.clear();
            i += end;
        } else {
            if (token.size() == 255)
                return -1;
            token += c;
            ++i;
        }
    }
    if (values.size() < expected && !token.empty())
        values.push_back(ParseDecimal(token));
    if (values.size() != expected || i < text.size())
        return -1;
    return 0;
}

void WidenKernelToOdd(std::vector<double>& values, int& cols, int& rows)
{
    const bool growCols = (cols & 1) == 0;
    const bool growRows = (rows & 1) == 0;
    if (!growCols && !growRows)
        return;
    const int newCols = growCols ? cols + 1 : cols;
    const int newRows = growRows ? rows + 1 : rows;
    std::vector<double> widened(static_cast<size_t>(newCols) * newRows);
    for (int i = 0; i < newRows; ++i) {
        for (int j = 0; j < newCols; ++j) {
            double sum = 0.0;
            int n = 0;
            for (int r = growRows ? i - 1 : i; r <= i; ++r) {
                for (int c = growCols ? j - 1 : j; c <= j; ++c) {
                    if (r < 0 || r >= rows || c < 0 || c >= cols)
                        continue;
                    sum += values[static_cast<size_t>(r) * cols + c];
                    ++n;
                }
            }
            widened[static_cast<size_t>(i) * newCols + j] = sum / n;
        }
    }
    values.swap(widened);
    cols = newCols;
    rows = newRows;
}

int ReadKernelFile(const std::string& path, ConvolutionKernel& kernel)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes))
        return -1;
    const std::string text(bytes.begin(), bytes.end());
    int cols = 0, rows = 0;
    CountKernelShape(text, cols, rows);
    if (rows == 0)
        return -1;
    std::vector<double> values;
    if (ParseKernelValues(text, cols, rows, values) != 0)
        return -1;
    WidenKernelToOdd(values, cols, rows);
    kernel.cols = cols;
    kernel.rows = rows;
    kernel.values.swap(values);
    return 0;
}

int UserConvolutionKernel(int mode, const std::vector<double>& typed, const std::string& path,
                          ConvolutionKernel& kernel)
{
    if (mode == 3 || mode == 5) {
        const size_t n = static_cast<size_t>(mode) * mode;
        if (typed.size() < n)
            return -1;
        kernel.cols = kernel.rows = mode;
        kernel.values.assign(typed.begin(), typed.begin() + static_cast<long>(n));
        return 0;
    }
    if (mode == 0) {
        if (!FileExists(path))
            return -1;
        return ReadKernelFile(path, kernel);
    }
    return -1;
}

}  // namespace lumadrift
