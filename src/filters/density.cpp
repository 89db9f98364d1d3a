#include "filters/density.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/plane_bank.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace lumadrift {
namespace {

struct BankView {
    const uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    int stride = 0;
    FilterRange range;
};

FilterRange BankRange(const PlaneBank& bank)
{
    return {bank.QueryPlaneBank(kBankRangeLeft), bank.QueryPlaneBank(kBankRangeTop),
            bank.QueryPlaneBank(kBankRangeWidth), bank.QueryPlaneBank(kBankRangeHeight)};
}

bool ResolveBank(PlaneBank& bank, BankView& view)
{
    if (bank.empty())
        return false;
    view.src = bank.SourcePlane();
    view.dst = bank.DestinationPlane();
    view.stride = bank.width();
    view.range = BankRange(bank);
    return view.src && view.dst && view.range.w > 0 && view.range.h > 0;
}

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
// Where the processor has byte permutes across 64-byte registers, the whole
// 256-entry table sits in four registers and 64 pixels take two permutes
// and a blend on the top bit.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void ApplyTableRowVbmi(
    const uint8_t* s, uint8_t* d, int n, const uint8_t table[256])
{
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i idx = _mm512_loadu_si512(s + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, idx, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, idx, t3);
        _mm512_storeu_si512(d + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), low, high));
    }
    ApplyTableRow(s + i, d + i, n - i, table);
}

bool HasVbmi()
{
    static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi");
    return has;
}
#endif

void ApplyTable(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, const uint8_t table[256])
{
    auto row = ApplyTableRow;
#if defined(__x86_64__) && defined(__GNUC__)
    if (HasVbmi())
        row = ApplyTableRowVbmi;
#endif
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(y) * stride + r.x0;
        row(src + at, dst + at, r.w, table);
    }
}

}  // namespace

void HistogramKernel(const uint8_t* src, int stride, FilterRange r, int32_t counts[256])
{
    // Four sets of counters, so runs of one density do not wait on the same
    // counter's previous increment; eight pixels per load.
    uint32_t part[4][256] = {};
    for (int y = r.y0; y < r.y0 + r.h; ++y) {
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
        counts[v] = static_cast<int32_t>(part[0][v] + part[1][v] + part[2][v] + part[3][v]);
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
    if (ResolveBank(bank, v))
        ContrastKernel(v.src, v.dst, v.stride, v.range, factor);
}

void GammaCorrect(PlaneBank& bank, double gamma)
{
    BankView v;
    if (ResolveBank(bank, v))
        GammaKernel(v.src, v.dst, v.stride, v.range, gamma);
}

void Equalize(PlaneBank& bank)
{
    BankView v;
    if (ResolveBank(bank, v))
        EqualizeKernel(v.src, v.dst, v.stride, v.range);
}

}  // namespace lumadrift
