#include "filters/density.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "core/isa.h"
#include "core/parallel.h"
#include "core/plane_bank.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace lumadrift {
namespace {


// Eight independent look-ups per step keep the loads in flight; the byte
// assembly into one 64-bit store halves the store traffic.
void ApplyTableRow(const uint8_t* s, uint8_t* d, int n, const uint8_t table[256])
{
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t in;
        std::memcpy(&in, s + i, 8);
        uint64_t out = 0;
        for (int b = 0; b < 8; ++b)
            out |= static_cast<uint64_t>(table[(in >> (8 * b)) & 0xff]) << (8 * b);
        std::memcpy(d + i, &out, 8);
    }
    for (; i < n; ++i)
        d[i] = table[s[i]];
}

#if defined(__x86_64__) && defined(__GNUC__)
#define LUMADRIFT_TABLE_SIMD 1

// Without byte permutes across a whole register, a 32-byte shuffle only
// picks from 16 entries per lane, so the table is split into sixteen rows of
// 16 by the high nibble. Each row is stored as the XOR of itself and the row
// before, restarting at row 8: a pixel whose high nibble is h then collects
// rows 0..h (or 8..h) and the XORs telescope down to row h alone. The shuffle
// gives 0 wherever the index has its top bit set, so each row's index is the
// pixel minus 16 per row with signed saturation: it turns negative (and stays
// negative) exactly from the first row above the pixel's own, and pixels of
// the other half start and stay negative. No compares or blends are needed.
struct Avx2Rows {
    __m256i row[16];
};

__attribute__((target("avx2"))) inline void LoadAvx2Rows(const uint8_t table[256], Avx2Rows& t)
{
    for (int j = 0; j < 16; ++j) {
        __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * j));
        if (j % 8 != 0)
            r = _mm_xor_si128(r, _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * (j - 1))));
        t.row[j] = _mm256_broadcastsi128_si256(r);
    }
}

__attribute__((target("avx2"))) inline __m256i LookUpAvx2(const Avx2Rows& t, __m256i px)
{
    const __m256i step = _mm256_set1_epi8(16);
    __m256i low = px;
    __m256i high = _mm256_xor_si256(px, _mm256_set1_epi8(static_cast<char>(0x80)));
    __m256i acc = _mm256_xor_si256(_mm256_shuffle_epi8(t.row[0], low), _mm256_shuffle_epi8(t.row[8], high));
    for (int j = 1; j < 8; ++j) {
        low = _mm256_subs_epi8(low, step);
        high = _mm256_subs_epi8(high, step);
        acc = _mm256_xor_si256(acc, _mm256_shuffle_epi8(t.row[j], low));
        acc = _mm256_xor_si256(acc, _mm256_shuffle_epi8(t.row[8 + j], high));
    }
    return acc;
}

// The rows are prepared once per call, not once per image row, so ranges of
// many short rows do not pay for them again and again.
__attribute__((target("avx2"))) void ApplyTableAvx2(const uint8_t* src, uint8_t* dst, int stride, FilterRange r,
                                                     const uint8_t table[256])
{
    Avx2Rows t;
    LoadAvx2Rows(table, t);
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(y) * stride + r.x0;
        const uint8_t* s = src + at;
        uint8_t* d = dst + at;
        const int n = r.w;
        int i = 0;
        for (; i + 32 <= n; i += 32) {
            const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), LookUpAvx2(t, px));
        }
        if (i < n) {
            // The row's last few pixels go through a buffer: a whole vector
            // there would touch bytes outside the range, and an overlapping
            // last vector would map pixels already written again when src
            // equals dst.
            alignas(32) uint8_t buf[32] = {};
            std::memcpy(buf, s + i, static_cast<size_t>(n - i));
            const __m256i px = _mm256_load_si256(reinterpret_cast<const __m256i*>(buf));
            _mm256_store_si256(reinterpret_cast<__m256i*>(buf), LookUpAvx2(t, px));
            std::memcpy(d + i, buf, static_cast<size_t>(n - i));
        }
    }
}

// Where the processor has byte permutes across 64-byte registers, the whole
// 256-entry table sits in four registers and 64 pixels take two permutes
// and a blend on the top bit. Masked loads and stores finish the row without
// touching bytes outside it.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ApplyTableRowVbmi(
    const uint8_t* s, uint8_t* d, int n, const uint8_t table[256])
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    for (int i = 0; i < n; i += 64) {
        const int left = n - i;
        const __mmask64 m = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        const __m512i idx = _mm512_maskz_loadu_epi8(m, s + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, idx, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, idx, t3);
        _mm512_mask_storeu_epi8(d + i, m, _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), low, high));
    }
}
#endif

bool CpuHas(TableLookupPath path)
{
    switch (path) {
    case TableLookupPath::kScalar:
        return true;
#ifdef LUMADRIFT_TABLE_SIMD
    case TableLookupPath::kAvx2: {
        static const bool has = __builtin_cpu_supports("avx2");
        return has;
    }
    case TableLookupPath::kVbmi: {
        static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vbmi");
        return has;
    }
#endif
    default:
        return false;
    }
}


template <void (*Row)(const uint8_t*, uint8_t*, int, const uint8_t*)>
void ApplyTableByRows(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256])
{
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(y) * stride + r.x0;
        Row(src + at, dst + at, r.w, table);
    }
}

void ApplyTable(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256])
{
    const TableLookupPath path = ActiveTableLookupPath();
    // A point operation: any band of rows is a range of its own.
    ParallelFor(r.y0, r.y0 + r.h, RowsForBytes(static_cast<size_t>(r.w)), [&](int first, int last) {
        const FilterRange band{r.x0, first, r.w, last - first};
        switch (path) {
#ifdef LUMADRIFT_TABLE_SIMD
        case TableLookupPath::kAvx2:
            ApplyTableAvx2(src, dst, stride, band, table);
            return;
        case TableLookupPath::kVbmi:
            ApplyTableByRows<ApplyTableRowVbmi>(src, dst, stride, band, table);
            return;
#endif
        default:
            ApplyTableByRows<ApplyTableRow>(src, dst, stride, band, table);
            return;
        }
    });
}

}  // namespace

bool TableLookupPathAvailable(TableLookupPath path) { return CpuHas(path); }

TableLookupPath ActiveTableLookupPath()
{
    const IsaLevel level = ActiveIsa();
    if (level >= IsaLevel::Avx512 && CpuHas(TableLookupPath::kVbmi))
        return TableLookupPath::kVbmi;
    if (level >= IsaLevel::Avx2 && CpuHas(TableLookupPath::kAvx2))
        return TableLookupPath::kAvx2;
    return TableLookupPath::kScalar;
}

void LookupKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256])
{
    if (r.w < 1 || r.h < 1)
        return;
    ApplyTable(src, dst, stride, r, table);
}

namespace {

// Four sets of counters, so runs of one density do not wait on the same
// counter's previous increment; eight pixels per load. Adds rows [first,
// last) into total.
void HistogramBand(const uint8_t* src, int stride, FilterRange r, int first, int last, uint32_t total[256])
{
    uint32_t part[4][256] = {};
    for (int y = first; y < last; ++y) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(y) * stride + r.x0;
        int i = 0;
        for (; i + 8 <= r.w; i += 8) {
            uint64_t v;
            std::memcpy(&v, s + i, 8);
            ++part[0][v & 0xff];
            ++part[1][(v >> 8) & 0xff];
            ++part[2][(v >> 16) & 0xff];
            ++part[3][(v >> 24) & 0xff];
            ++part[0][(v >> 32) & 0xff];
            ++part[1][(v >> 40) & 0xff];
            ++part[2][(v >> 48) & 0xff];
            ++part[3][v >> 56];
        }
        for (; i < r.w; ++i)
            ++part[0][s[i]];
    }
    for (int v = 0; v < 256; ++v)
        total[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
}

}  // namespace

void HistogramKernel(const uint8_t* src, int stride, FilterRange r, int32_t counts[256])
{
    // Counts of the bands add up to the same total in any order.
    uint32_t total[256] = {};
    std::mutex lock;
    ParallelFor(r.y0, r.y0 + r.h, RowsForBytes(static_cast<size_t>(r.w)), [&](int first, int last) {
        uint32_t band[256] = {};
        HistogramBand(src, stride, r, first, last, band);
        std::lock_guard<std::mutex> hold(lock);
        for (int v = 0; v < 256; ++v)
            total[v] += band[v];
    });
    for (int v = 0; v < 256; ++v)
        counts[v] = static_cast<int32_t>(total[v]);
}

void ContrastTable(double factor, uint8_t table[256])
{
    for (int v = 0; v < 256; ++v) {
        const double t = v * factor + 0.5;
        // Compared in double before converting: an int conversion of a value
        // beyond int's range (or of NaN) is undefined.
        int n = 0;
        if (t >= 256.0)
            n = 255;
        else if (t > -1.0)
            n = static_cast<int>(t);
        table[v] = static_cast<uint8_t>(n);
    }
}

void ContrastKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double factor)
{
    if (r.w < 1 || r.h < 1)
        return;
    uint8_t table[256];
    ContrastTable(factor, table);
    ApplyTable(src, dst, stride, r, table);
}

bool IsGammaAccepted(double gamma) { return gamma > 0.0; }

bool GammaTable(double gamma, uint8_t table[256])
{
    if (!IsGammaAccepted(gamma))
        return false;
    const double e = 1.0 / gamma;
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(static_cast<int>(std::pow(i / 255.0, e) * 255.0));
    return true;
}

void GammaKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, double gamma)
{
    uint8_t table[256];
    if (r.w < 1 || r.h < 1 || !GammaTable(gamma, table))
        return;
    ApplyTable(src, dst, stride, r, table);
}

void EqualizeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    if (r.w < 1 || r.h < 1)
        return;
    int32_t counts[256];
    HistogramKernel(src, stride, r, counts);
    const double pixels = static_cast<double>(static_cast<long long>(r.w) * r.h);
    double c[256] = {};
    double cmin = 255.0;
    int32_t cum = 0;
    for (int v = 0; v < 256; ++v) {
        if (counts[v] > 0) {
            cum += counts[v];
            c[v] = cum / pixels;
            if (c[v] < cmin)
                cmin = c[v];
        }
    }
    uint8_t table[256] = {};
    if (cmin != 1.0) {
        const double scale = 255.0 / (1.0 - cmin);
        for (int v = 0; v < 256; ++v) {
            if (counts[v] == 0)
                continue;
            const double g = (c[v] - cmin) * scale;
            table[v] = g > 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(g));
        }
    }
    ApplyTable(src, dst, stride, r, table);
}

void Histogram(const PlaneBank& bank, int32_t counts[256])
{
    const uint8_t* src = bank.empty() ? nullptr : bank.SourcePlane();
    if (src)
        HistogramKernel(src, bank.width(), BankRange(bank), counts);
}

void Contrast(PlaneBank& bank, double factor)
{
    BankView v;
    if (ResolveBank(bank, v) && v.HasPixels())
        ContrastKernel(v.src, v.dst, v.stride, v.range, factor);
}

void GammaCorrect(PlaneBank& bank, double gamma)
{
    BankView v;
    if (ResolveBank(bank, v) && v.HasPixels())
        GammaKernel(v.src, v.dst, v.stride, v.range, gamma);
}

void Equalize(PlaneBank& bank)
{
    BankView v;
    if (ResolveBank(bank, v) && v.HasPixels())
        EqualizeKernel(v.src, v.dst, v.stride, v.range);
}

}  // namespace lumadrift
