#include "filters/smoothing.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "core/intrinsics.h"
#include "core/isa.h"
#include "core/parallel.h"
#include "core/plane_bank.h"

namespace lumadrift {
namespace {

bool SizesUsable(int x, int y)
{
    return x >= 1 && y >= 1 && (x & 1) && (y & 1) &&
           static_cast<long long>(x) * y <= kMaxWindowPixels;
}

// out[i] = row[FoldIntoRange(i - pad, 0, w)] for i in [0, w + 2 * pad).
template <typename T, typename U>
void ExtendRow(const U* row, int w, int pad, T* out)
{
    for (int i = 0; i < pad; ++i)
        out[i] = row[FoldIntoRange(i - pad, 0, w)];
    for (int i = 0; i < w; ++i)
        out[pad + i] = row[i];
    for (int i = 0; i < pad; ++i)
        out[pad + w + i] = row[FoldIntoRange(w + i, 0, w)];
}

// ---------------------------------------------------------------- average

// Exact division of a window sum n <= 255 * d by d as (n * m) >> s: with
// 2^s >= 255 * d * d and m = ceil(2^s / d) the rounding error of m never
// reaches the next integer, and m stays below 2^32 for every allowed window.
struct Reciprocal {
    uint64_t m;
    int s;
    explicit Reciprocal(uint64_t d)
    {
        s = 0;
        while (255 * d * d > (uint64_t{1} << s))
            ++s;
        m = ((uint64_t{1} << s) + d - 1) / d;
    }
};

// Sums of X consecutive entries of ext (length w + X - 1) into out (length
// w). Short windows add doubled partial sums (entries 1, 2, 4, ... apart),
// which are whole-row vector loops; long ones difference a running prefix.
// The arithmetic wraps in T, which is exact because every true sum fits T.
template <typename T>
void WindowSums(T* ext, int w, int X, T* out)
{
    const int e = w + X - 1;
    if (X > 32) {
        T run = 0;
        for (int i = 0; i < e; ++i) {
            const T v = ext[i];
            ext[i] = run;
            run = static_cast<T>(run + v);
        }
        // ext[i] now holds the sum of the entries before i; the last window
        // ends at the end of the row.
        for (int x = 0; x + 1 < w; ++x)
            out[x] = static_cast<T>(ext[x + X] - ext[x]);
        out[w - 1] = static_cast<T>(run - ext[w - 1]);
        return;
    }
    bool first = true;
    int offset = 0;
    int len = e;  // entries of ext that hold a full partial sum
    for (int span = 1; span <= X; span <<= 1) {
        if (X & span) {
            const T* from = ext + offset;
            if (first) {
                std::copy(from, from + w, out);
                first = false;
            } else {
                for (int x = 0; x < w; ++x)
                    out[x] = static_cast<T>(out[x] + from[x]);
            }
            offset += span;
        }
        if ((span << 1) <= X) {
            len -= span;
            for (int i = 0; i < len; ++i)
                ext[i] = static_cast<T>(ext[i] + ext[i + span]);
        }
    }
}

// For 16-bit sums a cheaper exact division: the high half of a 16 x 16-bit
// product, shifted. Not every divisor has a multiplier that is exact for
// every sum up to 255 * d, so the candidate is checked against them all
// (at most 65,535 values); without one the 64-bit product serves.
struct HighHalfReciprocal {
    uint16_t m = 0;
    int shift = 0;  // applied after taking the high 16 bits
    bool Find(uint32_t d)
    {
        for (int k = 16; k < 40; ++k) {
            const uint64_t mm = ((uint64_t{1} << k) + d - 1) / d;
            if (mm > 0xffff)
                return false;
            bool exact = true;
            for (uint32_t n = 0; n <= 255 * d && exact; ++n)
                exact = ((n * mm) >> k) == n / d;
            if (exact) {
                m = static_cast<uint16_t>(mm);
                shift = k - 16;
                return true;
            }
        }
        return false;
    }
};

void DivideSums(const uint16_t* n, uint8_t* d, int w, const Reciprocal& div,
                const HighHalfReciprocal* high)
{
    int x = 0;
#if defined(__SSE2__)
    if (high && ActiveIsa() >= IsaLevel::Sse2) {
        const __m128i m = _mm_set1_epi16(static_cast<short>(high->m));
        const __m128i shift = _mm_cvtsi32_si128(high->shift);
        for (; x + 16 <= w; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(n + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(n + x + 8));
            const __m128i qa = _mm_srl_epi16(_mm_mulhi_epu16(a, m), shift);
            const __m128i qb = _mm_srl_epi16(_mm_mulhi_epu16(b, m), shift);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(qa, qb));
        }
    }
#endif
    for (; x < w; ++x)
        d[x] = static_cast<uint8_t>((static_cast<uint64_t>(n[x]) * div.m) >> div.s);
}

void DivideSums(const uint32_t* n, uint8_t* d, int w, const Reciprocal& div, const HighHalfReciprocal*)
{
    for (int x = 0; x < w; ++x)
        d[x] = static_cast<uint8_t>((static_cast<uint64_t>(n[x]) * div.m) >> div.s);
}

// Output rows [first, last) of the range; the column sums start afresh at
// row first, so any split into bands gives the same bytes.
template <typename T>
void BoxMean(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y,
             const Reciprocal& div, const HighHalfReciprocal* highHalf, int first, int last)
{
    const int w = r.w, h = r.h, hx = X / 2, hy = Y / 2;
    std::vector<T> column(static_cast<size_t>(w));
    std::vector<T> ext(static_cast<size_t>(w) + X - 1);
    std::vector<T> sums(static_cast<size_t>(w));
    auto row = [&](int j) {
        return src + static_cast<ptrdiff_t>(r.y0 + FoldIntoRange(j, 0, h)) * stride + r.x0;
    };
    T* col = column.data();
    for (int dy = -hy; dy <= hy; ++dy) {
        const uint8_t* s = row(first + dy);
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<T>(col[x] + s[x]);
    }
    for (int y = first; y < last; ++y) {
        ExtendRow(col, w, hx, ext.data());
        WindowSums(ext.data(), w, X, sums.data());
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        DivideSums(sums.data(), d, w, div, highHalf);
        if (y + 1 == last)
            break;
        // The window's rows as a multiset move by one row even where they
        // fold, so one row in and one row out keeps the column sums.
        const uint8_t* in = row(y + 1 + hy);
        const uint8_t* out = row(y - hy);
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<T>(col[x] + in[x] - out[x]);
    }
}

// ------------------------------------------------------------------- rank

// Any network that sorts gives the same k-th value as sorting the window
// anew, so small windows run a comparison network on 32 pixels at once:
// columns are sorted once per row and shared by the X windows that use them,
// then the sorted columns are merged by an odd-even merge network from which
// every comparison that cannot reach output `rank` has been dropped.
constexpr int kLanes = 32;

#if defined(__SSE2__)
struct Vec {
    __m128i lo, hi;
};
inline void LoadVec(Vec* v, const uint8_t* p)
{
    v->lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    v->hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
}
inline void StoreVec(uint8_t* p, const Vec* v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v->lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), v->hi);
}
inline void Exchange2(const Vec* a, const Vec* b, Vec* lo, Vec* hi)
{
    const __m128i al = a->lo, ah = a->hi, bl = b->lo, bh = b->hi;
    lo->lo = _mm_min_epu8(al, bl);
    lo->hi = _mm_min_epu8(ah, bh);
    hi->lo = _mm_max_epu8(al, bl);
    hi->hi = _mm_max_epu8(ah, bh);
}
#else
struct Vec {
    uint8_t b[kLanes];
};
inline void LoadVec(Vec* v, const uint8_t* p) { std::memcpy(v->b, p, kLanes); }
inline void StoreVec(uint8_t* p, const Vec* v) { std::memcpy(p, v->b, kLanes); }
inline void Exchange2(const Vec* a, const Vec* b, Vec* lo, Vec* hi)
{
    for (int i = 0; i < kLanes; ++i) {
        const uint8_t x = a->b[i], y = b->b[i];
        lo->b[i] = x < y ? x : y;
        hi->b[i] = x < y ? y : x;
    }
}
#endif

// One comparison: the smaller value goes to slot lo, the larger to hi. A
// side nobody reads later goes to the scratch slot instead.
struct Exchange {
    uint16_t a, b;
    uint16_t lo, hi;
};

void OddEvenMergeSort(int n, int firstBlock, std::vector<std::pair<int, int>>& out)
{
    for (int p = firstBlock; p < n; p += p) {
        for (int k = p; k >= 1; k /= 2) {
            for (int j = k % p; j <= n - 1 - k; j += 2 * k) {
                for (int i = 0; i <= std::min(k - 1, n - j - k - 1); ++i) {
                    if ((i + j) / (p * 2) == (i + j + k) / (p * 2))
                        out.emplace_back(i + j, i + j + k);
                }
            }
        }
    }
}

int CeilPow2(int n)
{
    int p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

// Keeps the exchanges whose results reach a wanted slot, in order, and
// marks the slots whose input values are read.
std::vector<Exchange> Prune(const std::vector<std::pair<int, int>>& ops, std::vector<char>& live,
                            int scratch)
{
    std::vector<Exchange> kept;
    for (auto it = ops.rbegin(); it != ops.rend(); ++it) {
        const int a = it->first, b = it->second;
        if (!live[a] && !live[b])
            continue;
        kept.push_back({static_cast<uint16_t>(a), static_cast<uint16_t>(b),
                        static_cast<uint16_t>(live[a] ? a : scratch),
                        static_cast<uint16_t>(live[b] ? b : scratch)});
        live[a] = live[b] = 1;
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

class RankNetwork {
public:
    RankNetwork(int X, int Y, int rank) : x_(X), y_(Y)
    {
        // Merge network over slots c * Y + r (column c, rank r in it).
        // Columns and their count are padded to powers of two with virtual
        // +infinity wires that no comparison ever needs: a comparison with
        // +infinity on its upper wire changes nothing, one with +infinity
        // on its lower wire only swaps which wire holds what.
        const int yp = CeilPow2(Y), xp = CeilPow2(X), n = xp * yp;
        constexpr int kInf = -1;
        std::vector<int> wire(static_cast<size_t>(n));
        for (int c = 0; c < xp; ++c)
            for (int rr = 0; rr < yp; ++rr)
                wire[c * yp + rr] = (c < X && rr < Y) ? c * Y + rr : kInf;
        std::vector<std::pair<int, int>> net, ops;
        OddEvenMergeSort(n, yp, net);
        for (auto [a, b] : net) {
            if (wire[b] == kInf)
                continue;
            if (wire[a] == kInf) {
                std::swap(wire[a], wire[b]);
                continue;
            }
            ops.emplace_back(wire[a], wire[b]);
        }
        const int slots = X * Y;
        out_ = wire[rank];
        std::vector<char> live(static_cast<size_t>(slots) + 1, 0);
        live[out_] = 1;
        merge_ = Prune(ops, live, slots);
        std::vector<char> rankNeeded(static_cast<size_t>(Y) + 1, 0);
        for (int s = 0; s < slots; ++s) {
            if (live[s]) {
                loads_.push_back(s);
                rankNeeded[s % Y] = 1;
            }
        }
        for (int rr = 0; rr < Y; ++rr)
            if (rankNeeded[rr])
                ranks_.push_back(rr);

        // Column sort: the sorting network with the padded wires dropped
        // (their +infinity never moves), pruned to the ranks used above.
        std::vector<std::pair<int, int>> colNet, colOps;
        OddEvenMergeSort(yp, 1, colNet);
        for (auto [a, b] : colNet)
            if (b < Y)
                colOps.emplace_back(a, b);
        column_ = Prune(colOps, rankNeeded, Y);
    }

    // Operations per pixel, to choose between this and the histogram.
    double CostPerPixel() const
    {
        return (3.0 * merge_.size() + loads_.size() + 3.0 * column_.size() + y_) / kLanes;
    }

    void Run(const uint8_t* src, uint8_t* dst, int stride, FilterRange r) const
    {
        const int w = r.w, h = r.h, hx = x_ / 2;
        // Rows of the range extended by the folded columns either side, with
        // room for a whole vector past the end.
        const size_t e = static_cast<size_t>(w) + x_ - 1;
        const size_t pitch = e + kLanes;
        std::vector<uint8_t> ext(pitch * h, 0);
        ParallelFor(0, h, RowsForBytes(pitch), [&](int first, int last) {
            for (int yy = first; yy < last; ++yy)
                ExtendRow(src + static_cast<ptrdiff_t>(r.y0 + yy) * stride + r.x0, w, hx,
                          ext.data() + pitch * yy);
        });
        ParallelFor(0, h, 4, [&](int first, int last) { RunBand(ext.data(), pitch, dst, stride, r, first, last); });
    }

private:
    void RunBand(const uint8_t* ext, size_t pitch, uint8_t* dst, int stride, FilterRange r, int first,
                 int last) const
    {
        const int w = r.w, h = r.h, hy = y_ / 2;
        const size_t e = static_cast<size_t>(w) + x_ - 1;
        std::vector<uint8_t> sorted(pitch * y_, 0);
        std::vector<uint8_t> line(static_cast<size_t>(w) + kLanes);
        std::vector<Vec> slot(static_cast<size_t>(std::max(x_ * y_, y_)) + 1);
        std::vector<const uint8_t*> rows(static_cast<size_t>(y_));
        Vec* v = slot.data();

        for (int yy = first; yy < last; ++yy) {
            for (int dy = -hy; dy <= hy; ++dy)
                rows[dy + hy] = ext + pitch * FoldIntoRange(yy + dy, 0, h);
            for (size_t i = 0; i < e; i += kLanes) {
                for (int rr = 0; rr < y_; ++rr)
                    LoadVec(&v[rr], rows[rr] + i);
                Apply(column_, v);
                for (int rr : ranks_)
                    StoreVec(sorted.data() + pitch * rr + i, &v[rr]);
            }
            for (int x = 0; x < w; x += kLanes) {
                for (int s : loads_)
                    LoadVec(&v[s], sorted.data() + pitch * (s % y_) + x + s / y_);
                Apply(merge_, v);
                StoreVec(line.data() + x, &v[out_]);
            }
            std::memcpy(dst + static_cast<ptrdiff_t>(r.y0 + yy) * stride + r.x0, line.data(),
                        static_cast<size_t>(w));
        }
    }

    static void Apply(const std::vector<Exchange>& ops, Vec* v)
    {
        for (const Exchange& o : ops) {
            const Vec a = v[o.a], b = v[o.b];
            Exchange2(&a, &b, &v[o.lo], &v[o.hi]);
        }
    }

    int x_, y_;
    int out_ = 0;
    std::vector<Exchange> merge_, column_;
    std::vector<int> loads_, ranks_;
};

#if defined(__SSE2__)
// The common windows get their networks built at compile time and unrolled,
// so the slots live in registers instead of memory. Same construction as
// RankNetwork; C++17 constexpr has no vectors, hence the fixed arrays.
constexpr int kMaxFixedOps = 2048;

struct FixedBuild {
    Exchange merge[kMaxFixedOps] = {};
    int mergeCount = 0;
    Exchange column[64] = {};
    int columnCount = 0;
    int out = 0;
    bool load[64] = {};
    bool rank[8] = {};
};

constexpr int ConstPow2(int n)
{
    int p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

template <int X, int Y>
constexpr int ConstPairs(int n, int firstBlock, int (&pa)[kMaxFixedOps], int (&pb)[kMaxFixedOps])
{
    int count = 0;
    for (int p = firstBlock; p < n; p += p)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j <= n - 1 - k; j += 2 * k)
                for (int i = 0; i <= (k - 1 < n - j - k - 1 ? k - 1 : n - j - k - 1); ++i)
                    if ((i + j) / (p * 2) == (i + j + k) / (p * 2)) {
                        pa[count] = i + j;
                        pb[count] = i + j + k;
                        ++count;
                    }
    return count;
}

template <int X, int Y, int Rank>
constexpr FixedBuild BuildFixed()
{
    FixedBuild f;
    constexpr int yp = ConstPow2(Y), xp = ConstPow2(X), n = xp * yp, slots = X * Y;
    int wire[n] = {};
    for (int c = 0; c < xp; ++c)
        for (int rr = 0; rr < yp; ++rr)
            wire[c * yp + rr] = (c < X && rr < Y) ? c * Y + rr : -1;
    int pa[kMaxFixedOps] = {}, pb[kMaxFixedOps] = {};
    const int pairs = ConstPairs<X, Y>(n, yp, pa, pb);
    int oa[kMaxFixedOps] = {}, ob[kMaxFixedOps] = {};
    int ops = 0;
    for (int i = 0; i < pairs; ++i) {
        const int a = pa[i], b = pb[i];
        if (wire[b] < 0)
            continue;
        if (wire[a] < 0) {
            wire[a] = wire[b];
            wire[b] = -1;
            continue;
        }
        oa[ops] = wire[a];
        ob[ops] = wire[b];
        ++ops;
    }
    f.out = wire[Rank];
    bool live[slots + 1] = {};
    live[f.out] = true;
    Exchange rev[kMaxFixedOps] = {};
    int kept = 0;
    for (int i = ops - 1; i >= 0; --i) {
        const int a = oa[i], b = ob[i];
        if (!live[a] && !live[b])
            continue;
        rev[kept++] = {static_cast<uint16_t>(a), static_cast<uint16_t>(b),
                       static_cast<uint16_t>(live[a] ? a : slots), static_cast<uint16_t>(live[b] ? b : slots)};
        live[a] = live[b] = true;
    }
    for (int i = 0; i < kept; ++i)
        f.merge[i] = rev[kept - 1 - i];
    f.mergeCount = kept;
    bool need[Y + 1] = {};
    for (int sl = 0; sl < slots; ++sl) {
        f.load[sl] = live[sl];
        if (live[sl])
            need[sl % Y] = true;
    }
    for (int rr = 0; rr < Y; ++rr)
        f.rank[rr] = need[rr];
    const int cpairs = ConstPairs<X, Y>(yp, 1, pa, pb);
    kept = 0;
    for (int i = cpairs - 1; i >= 0; --i) {
        const int a = pa[i], b = pb[i];
        if (b >= Y || (!need[a] && !need[b]))
            continue;
        rev[kept++] = {static_cast<uint16_t>(a), static_cast<uint16_t>(b),
                       static_cast<uint16_t>(need[a] ? a : Y), static_cast<uint16_t>(need[b] ? b : Y)};
        need[a] = need[b] = true;
    }
    for (int i = 0; i < kept; ++i)
        f.column[i] = rev[kept - 1 - i];
    f.columnCount = kept;
    return f;
}

// The vector widths the fixed networks run at: 16 bytes at the Sse2 level,
// 32 at Avx2, 64 at Avx512. A comparison network's result does not depend
// on how many windows one instruction covers.
#define LUMADRIFT_INLINE __attribute__((always_inline)) inline
// The wide vectors only ever pass between functions that are inlined into
// one compiled for their width; GCC's note on the calling convention of
// such vectors does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
struct Bytes16 {
    using V = __m128i;
    static constexpr int kWidth = 16;
    static LUMADRIFT_INLINE V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static LUMADRIFT_INLINE void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    static LUMADRIFT_INLINE V Min(V a, V b) { return _mm_min_epu8(a, b); }
    static LUMADRIFT_INLINE V Max(V a, V b) { return _mm_max_epu8(a, b); }
};
#if defined(__GNUC__) && defined(__x86_64__)
#define LUMADRIFT_FIXED_WIDE 1
struct Bytes32 {
    using V = __m256i;
    static constexpr int kWidth = 32;
    __attribute__((target("avx2"))) static inline V Load(const uint8_t* p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
    }
    __attribute__((target("avx2"))) static inline void Store(uint8_t* p, V v)
    {
        _mm256_storeu_si256(reinterpret_cast<V*>(p), v);
    }
    __attribute__((target("avx2"))) static inline V Min(V a, V b) { return _mm256_min_epu8(a, b); }
    __attribute__((target("avx2"))) static inline V Max(V a, V b) { return _mm256_max_epu8(a, b); }
};
struct Bytes64 {
    using V = __m512i;
    static constexpr int kWidth = 64;
    __attribute__((target("avx512f,avx512bw"))) static inline V Load(const uint8_t* p)
    {
        return _mm512_loadu_si512(p);
    }
    __attribute__((target("avx512f,avx512bw"))) static inline void Store(uint8_t* p, V v)
    {
        _mm512_storeu_si512(p, v);
    }
    __attribute__((target("avx512f,avx512bw"))) static inline V Min(V a, V b) { return _mm512_min_epu8(a, b); }
    __attribute__((target("avx512f,avx512bw"))) static inline V Max(V a, V b) { return _mm512_max_epu8(a, b); }
};
#endif

template <int X, int Y, int Rank>
struct FixedNetwork {
    static constexpr FixedBuild kNet = BuildFixed<X, Y, Rank>();

    template <typename P, size_t... I>
    static LUMADRIFT_INLINE void Merge(typename P::V* v, std::index_sequence<I...>)
    {
        (Step<P, kNet.merge[I].a, kNet.merge[I].b, kNet.merge[I].lo, kNet.merge[I].hi>(v), ...);
    }
    template <typename P, size_t... I>
    static LUMADRIFT_INLINE void Columns(typename P::V* v, std::index_sequence<I...>)
    {
        (Step<P, kNet.column[I].a, kNet.column[I].b, kNet.column[I].lo, kNet.column[I].hi>(v), ...);
    }
    // Unrolled at compile time, so the slots stay in registers.
    template <typename P, size_t... I>
    static LUMADRIFT_INLINE void Loads(typename P::V* v, const uint8_t* sorted, size_t pitch, std::index_sequence<I...>)
    {
        (Load<P, static_cast<int>(I)>(v, sorted, pitch), ...);
    }
    template <typename P, int Slot>
    static LUMADRIFT_INLINE void Load(typename P::V* v, const uint8_t* sorted, size_t pitch)
    {
        if constexpr (kNet.load[Slot])
            v[Slot] = P::Load(sorted + pitch * (Slot % Y) + Slot / Y);
    }
    template <typename P, size_t... I>
    static LUMADRIFT_INLINE void RowLoads(typename P::V* v, const uint8_t* const* rows, size_t i, std::index_sequence<I...>)
    {
        ((v[I] = P::Load(rows[I] + i)), ...);
    }
    template <typename P, size_t... I>
    static LUMADRIFT_INLINE void RankStores(const typename P::V* v, uint8_t* sorted, size_t pitch, std::index_sequence<I...>)
    {
        (RankStore<P, static_cast<int>(I)>(v, sorted, pitch), ...);
    }
    template <typename P, int Rank_>
    static LUMADRIFT_INLINE void RankStore(const typename P::V* v, uint8_t* sorted, size_t pitch)
    {
        if constexpr (kNet.rank[Rank_])
            P::Store(sorted + pitch * Rank_, v[Rank_]);
    }
    template <typename P, int A, int B, int Lo, int Hi>
    static LUMADRIFT_INLINE void Step(typename P::V* v)
    {
        const typename P::V a = v[A], b = v[B];
        v[Lo] = P::Min(a, b);
        v[Hi] = P::Max(a, b);
    }

    static void Run(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
    {
        ParallelFor(0, r.h, 4, [&](int first, int last) {
#ifdef LUMADRIFT_FIXED_WIDE
            const IsaLevel level = ActiveIsa();
            if (level >= IsaLevel::Avx512) {
                RunBand64(src, dst, stride, r, first, last);
                return;
            }
            if (level >= IsaLevel::Avx2) {
                RunBand32(src, dst, stride, r, first, last);
                return;
            }
#endif
            RunBand<Bytes16>(src, dst, stride, r, first, last);
        });
    }

#ifdef LUMADRIFT_FIXED_WIDE
    __attribute__((target("avx2"))) static void RunBand32(const uint8_t* src, uint8_t* dst, int stride, FilterRange r,
                                                          int first, int last)
    {
        RunBand<Bytes32>(src, dst, stride, r, first, last);
    }
    __attribute__((target("avx512f,avx512bw"))) static void RunBand64(const uint8_t* src, uint8_t* dst, int stride,
                                                                     FilterRange r, int first, int last)
    {
        RunBand<Bytes64>(src, dst, stride, r, first, last);
    }
#endif

    // Output rows [first, last): the ring is filled afresh for row first.
    template <typename P>
    static LUMADRIFT_INLINE void RunBand(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int first,
                                         int last)
    {
        constexpr int kVec = P::kWidth, hy = Y / 2;
        using V = typename P::V;
        const int w = r.w;
        const size_t e = static_cast<size_t>(w) + X - 1;
        const size_t pitch = e + kVec;
        // Y extended rows in a ring: unfolded row j lives in slot j mod Y,
        // so each source row is extended once on its way through.
        std::vector<uint8_t> ring(pitch * Y, 0);
        for (int j = first - hy; j < first + hy; ++j)
            ExtendRing(src, stride, r, ring.data(), pitch, j);
        std::vector<uint8_t> sorted(pitch * Y, 0);
        std::vector<uint8_t> line(static_cast<size_t>(w) + kVec);
        const uint8_t* rows[Y];
        for (int yy = first; yy < last; ++yy) {
            ExtendRing(src, stride, r, ring.data(), pitch, yy + hy);
            for (int dy = -hy; dy <= hy; ++dy)
                rows[dy + hy] = ring.data() + pitch * static_cast<size_t>((((yy + dy) % Y) + Y) % Y);
            for (size_t i = 0; i < e; i += kVec) {
                V v[Y + 1];
                RowLoads<P>(v, rows, i, std::make_index_sequence<Y>());
                Columns<P>(v, std::make_index_sequence<kNet.columnCount>());
                RankStores<P>(v, sorted.data() + i, pitch, std::make_index_sequence<Y>());
            }
            uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + yy) * stride + r.x0;
            for (int x = 0; x < w; x += kVec) {
                V v[X * Y + 1];
                Loads<P>(v, sorted.data() + x, pitch, std::make_index_sequence<X * Y>());
                Merge<P>(v, std::make_index_sequence<kNet.mergeCount>());
                if (x + kVec <= w) {
                    P::Store(d + x, v[kNet.out]);
                } else {
                    P::Store(line.data(), v[kNet.out]);
                    std::memcpy(d + x, line.data(), static_cast<size_t>(w - x));
                }
            }
        }
    }

    // Row j of the range (folded), extended by its folded columns, into its
    // ring slot j mod Y.
    static void ExtendRing(const uint8_t* src, int stride, FilterRange r, uint8_t* ring, size_t pitch, int j)
    {
        ExtendRow(src + static_cast<ptrdiff_t>(r.y0 + FoldIntoRange(j, 0, r.h)) * stride + r.x0, r.w, X / 2,
                  ring + pitch * static_cast<size_t>(((j % Y) + Y) % Y));
    }
};

using FixedRun = void (*)(const uint8_t*, uint8_t*, int, FilterRange);

template <int X, int Y, size_t... R>
constexpr std::array<FixedRun, sizeof...(R)> FixedTable(std::index_sequence<R...>)
{
    return {&FixedNetwork<X, Y, static_cast<int>(R)>::Run...};
}

FixedRun FindFixed(int x, int y, int rank)
{
    static constexpr auto k3 = FixedTable<3, 3>(std::make_index_sequence<9>());
    static constexpr auto k5 = FixedTable<5, 5>(std::make_index_sequence<25>());
    if (x == 3 && y == 3)
        return k3[rank];
    if (x == 5 && y == 5)
        return k5[rank];
    return nullptr;
}
#else
using FixedRun = void (*)(const uint8_t*, uint8_t*, int, FilterRange);
FixedRun FindFixed(int, int, int) { return nullptr; }
#endif

// Large windows: a sliding 256-bin histogram with 16 coarse bins on top, one
// column out and one in per step, and the rank found by walking the coarse
// bins and then the 16 fine bins of the one that holds it.
void RankHistogram(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y,
                   int rank, int first, int last)
{
    const int w = r.w, h = r.h, hx = X / 2, hy = Y / 2;
    std::vector<const uint8_t*> rows(static_cast<size_t>(Y));
    const uint32_t k = static_cast<uint32_t>(rank);
    for (int y = first; y < last; ++y) {
        for (int dy = -hy; dy <= hy; ++dy)
            rows[dy + hy] =
                src + static_cast<ptrdiff_t>(r.y0 + FoldIntoRange(y + dy, 0, h)) * stride + r.x0;
        uint32_t fine[256] = {};
        uint32_t coarse[16] = {};
        auto column = [&](int cx, uint32_t delta) {
            for (const uint8_t* p : rows) {
                const uint8_t v = p[cx];
                fine[v] += delta;
                coarse[v >> 4] += delta;
            }
        };
        for (int dx = -hx; dx <= hx; ++dx)
            column(FoldIntoRange(dx, 0, w), 1);
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        for (int x = 0; x < w; ++x) {
            uint32_t below = 0;
            int b = 0;
            while (below + coarse[b] <= k)
                below += coarse[b++];
            int v = b * 16;
            while (below + fine[v] <= k)
                below += fine[v++];
            d[x] = static_cast<uint8_t>(v);
            if (x + 1 < w) {
                column(FoldIntoRange(x - hx, 0, w), ~uint32_t{0});
                column(FoldIntoRange(x + 1 + hx, 0, w), 1);
            }
        }
    }
}

// Windows of up to 32767 pixels: one histogram per column of the range,
// moved down one row at a time (one pixel out, one in), and the window's
// histogram moved right one column at a time (one column histogram out, one
// in). Both hold 16 coarse bins (the high four bits) and 256 fine ones; the
// window's fine bins are brought up to date only for the coarse bin that
// holds the rank, when it is needed, so a pixel costs about the same for any
// window size. A histogram gives exactly the sorted window's element at any
// position, and the multisets are those of the folded window: moving by one
// row or column takes out and puts in one folded row or column even at the
// edges. Counts are 16-bit and never exceed the window's pixel count.
constexpr int kMaxColumnHistogramWindow = 32767;

// Sixteen bins of counts: 16-bit, or 8-bit for windows of at most 255
// pixels, which halves the column histograms and fits a vector of bins in
// sixteen bytes.
template <typename T>
struct alignas(16 * sizeof(T)) Bins {
    T v[16];
};

// The operations on bins, portable.
template <typename T>
struct PlainBins {
    using Count = T;
    static inline void Add(Bins<T>& to, const Bins<T>& in, const Bins<T>& out)
    {
        for (int i = 0; i < 16; ++i)
            to.v[i] = static_cast<T>(to.v[i] + in.v[i] - out.v[i]);
    }
    // The first bin whose running total exceeds k, and the total below it
    // (the bins add up to more than k).
    static inline int FirstAbove(const Bins<T>& bins, uint32_t k, uint32_t& below)
    {
        uint32_t sum = 0;
        int i = 0;
        while (i < 15 && sum + bins.v[i] <= k)
            sum += bins.v[i++];
        below = sum;
        return i;
    }
};

#if defined(__GNUC__) && defined(__x86_64__)
#define LUMADRIFT_RANK_VECTOR 1
// The running totals of sixteen 8-bit counts (they never pass 255), by
// four shifted adds.
inline __m128i BytePrefix(__m128i x)
{
    x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
    return _mm_add_epi8(x, _mm_slli_si128(x, 8));
}

// 8-bit counts in one SSE2 register: running totals by four shifted adds
// (they never pass 255), then the first total above k.
struct Sse2Bins8 {
    using Count = uint8_t;
    static inline void Add(Bins<uint8_t>& to, const Bins<uint8_t>& in, const Bins<uint8_t>& out)
    {
        const __m128i t = _mm_load_si128(reinterpret_cast<const __m128i*>(to.v));
        const __m128i i = _mm_load_si128(reinterpret_cast<const __m128i*>(in.v));
        const __m128i o = _mm_load_si128(reinterpret_cast<const __m128i*>(out.v));
        _mm_store_si128(reinterpret_cast<__m128i*>(to.v), _mm_sub_epi8(_mm_add_epi8(t, i), o));
    }
    static inline int FirstAbove(const Bins<uint8_t>& bins, uint32_t k, uint32_t& below)
    {
        const __m128i x = BytePrefix(_mm_load_si128(reinterpret_cast<const __m128i*>(bins.v)));
        // total > k as total >= k + 1 (k + 1 <= 255 here), unsigned.
        const __m128i limit = _mm_set1_epi8(static_cast<char>(k + 1));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, limit), x)));
        const int i = __builtin_ctz(mask);
        alignas(16) uint8_t prefix[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(prefix), x);
        below = i > 0 ? prefix[i - 1] : 0;
        return i;
    }
};

// 16-bit counts in one AVX2 register.
struct Avx2Bins16 {
    using Count = uint16_t;
    __attribute__((target("avx2"))) static inline void Add(Bins<uint16_t>& to, const Bins<uint16_t>& in,
                                                           const Bins<uint16_t>& out)
    {
        const __m256i t = _mm256_load_si256(reinterpret_cast<const __m256i*>(to.v));
        const __m256i i = _mm256_load_si256(reinterpret_cast<const __m256i*>(in.v));
        const __m256i o = _mm256_load_si256(reinterpret_cast<const __m256i*>(out.v));
        _mm256_store_si256(reinterpret_cast<__m256i*>(to.v), _mm256_sub_epi16(_mm256_add_epi16(t, i), o));
    }
    __attribute__((target("avx2"))) static inline int FirstAbove(const Bins<uint16_t>& bins, uint32_t k,
                                                                 uint32_t& below)
    {
        __m256i x = _mm256_load_si256(reinterpret_cast<const __m256i*>(bins.v));
        x = _mm256_add_epi16(x, _mm256_slli_si256(x, 2));
        x = _mm256_add_epi16(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi16(x, _mm256_slli_si256(x, 8));
        // The upper half also counts everything in the lower half.
        const __m256i low = _mm256_permute2x128_si256(x, x, 0x08);
        x = _mm256_add_epi16(x, _mm256_shuffle_epi8(low, _mm256_set1_epi16(0x0F0E)));
        const unsigned mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_cmpgt_epi16(x, _mm256_set1_epi16(static_cast<short>(k)))));
        const int i = __builtin_ctz(mask) / 2;
        alignas(32) uint16_t prefix[16];
        _mm256_store_si256(reinterpret_cast<__m256i*>(prefix), x);
        below = i > 0 ? prefix[i - 1] : 0;
        return i;
    }
};
#endif

// The column histograms of one strip: columns [cx0, cx1) of the range and
// the half window either side ("virtual" columns t, standing for range
// column fold(t)), so that they stay in the first-level cache while the
// strip runs down the rows; a wide range is done strip after strip. A
// column's 16 fine Bins are its 256 counts in value order, 64-byte aligned.
template <typename T>
struct ColumnStrip {
    using B = Bins<T>;
    const uint8_t* src;
    int stride;
    FilterRange r;
    struct alignas(64) Column {
        B bins[16];
    };
    int base, columns;
    std::vector<Column> fine;
    std::vector<B> coarse;
    std::vector<int> sourceColumn;

    ColumnStrip(const uint8_t* s, int st, FilterRange range, int X, int cx0, int cx1)
        : src(s), stride(st), r(range), base(cx0 - X / 2), columns(cx1 - cx0 + 2 * (X / 2)),
          fine(static_cast<size_t>(columns)), coarse(static_cast<size_t>(columns)),
          sourceColumn(static_cast<size_t>(columns))
    {
        for (int i = 0; i < columns; ++i)
            sourceColumn[static_cast<size_t>(i)] = FoldIntoRange(base + i, 0, r.w);
    }
    const uint8_t* Row(int j) const
    {
        return src + static_cast<ptrdiff_t>(r.y0 + FoldIntoRange(j, 0, r.h)) * stride + r.x0;
    }
    // One row out of the column histograms (out may be null) and one in.
    void Count(const uint8_t* out, const uint8_t* in)
    {
        if (out)
            CountWith<true>(out, in);
        else
            CountWith<false>(out, in);
    }
    template <bool kOut>
    void CountWith(const uint8_t* out, const uint8_t* in)
    {
        // Virtual columns inside the range read their own column; only the
        // folded ones at the edges go through sourceColumn.
        const int inLo = std::min(columns, std::max(0, -base)), inHi = std::max(inLo, std::min(columns, r.w - base));
        const auto one = [&](int i, int sx) __attribute__((always_inline)) {
            T* column = fine[static_cast<size_t>(i)].bins[0].v;  // counts in value order
            T* c = coarse[static_cast<size_t>(i)].v;
            if (kOut) {
                const uint8_t v = out[sx];
                --column[v];
                --c[v >> 4];
            }
            const uint8_t v = in[sx];
            ++column[v];
            ++c[v >> 4];
        };
        for (int i = 0; i < inLo; ++i)
            one(i, sourceColumn[static_cast<size_t>(i)]);
#pragma GCC unroll 4
        for (int i = inLo; i < inHi; ++i)
            one(i, base + i);
        for (int i = inHi; i < columns; ++i)
            one(i, sourceColumn[static_cast<size_t>(i)]);
    }
    // The window about row y: rows y - hy .. y + hy in when y is the first
    // row of the band, else one row on from the window about y - 1. (No
    // body lambda here: a lambda would not take the target of the vector
    // function it sits in, and its vector calls would not inline.)
    void MoveTo(int Y, int y, int first)
    {
        const int hy = Y / 2;
        if (y == first) {
            for (int dy = -hy; dy <= hy; ++dy)
                Count(nullptr, Row(first + dy));
        } else {
            Count(Row(y - 1 - hy), Row(y + hy));
        }
        // Rows lie a stride apart, across pages the hardware does not
        // prefetch over: ask for a coming row's columns ahead of time.
        const uint8_t* ahead = Row(y + hy + kPrefetchRows);
        const int lo = std::max(0, base), hi = std::min(r.w, base + columns);
        for (int x = lo; x < hi; x += 64)
            __builtin_prefetch(ahead + x);
        __builtin_prefetch(ahead + hi - 1);
    }
    static constexpr int kPrefetchRows = 6;
    const B& Coarse(int t) const { return coarse[static_cast<size_t>(t - base)]; }
    const B& Fine(int t, int b) const { return fine[static_cast<size_t>(t - base)].bins[b]; }
};

// Output rows [first, last) and columns [cx0, cx1) of the range.
template <typename Ops>
inline __attribute__((always_inline)) void ColumnHistogramRows(const uint8_t* src, uint8_t* dst, int stride,
                                                               FilterRange r, int X, int Y, int rank,
                                                               int first, int last, int cx0, int cx1)
{
    using T = typename Ops::Count;
    using B = Bins<T>;
    const int hx = X / 2;
    const uint32_t k = static_cast<uint32_t>(rank);
    ColumnStrip<T> strip(src, stride, r, X, cx0, cx1);
    const B none{};
    for (int y = first; y < last; ++y) {
        strip.MoveTo(Y, y, first);
        B windowCoarse{};
        for (int t = cx0 - hx; t <= cx0 + hx; ++t)
            Ops::Add(windowCoarse, strip.Coarse(t), none);
        B windowFine[16];
        int synced[16];
        for (int b = 0; b < 16; ++b)
            synced[b] = cx0 - 2 * X - 2;  // far enough back to be built afresh
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        for (int x = cx0; x < cx1; ++x) {
            if (x > cx0)
                Ops::Add(windowCoarse, strip.Coarse(x + hx), strip.Coarse(x - 1 - hx));
            uint32_t below;
            const int b = Ops::FirstAbove(windowCoarse, k, below);
            B& seg = windowFine[b];
            if (x - synced[b] > X) {
                seg = none;
                for (int t = x - hx; t <= x + hx; ++t)
                    Ops::Add(seg, strip.Fine(t, b), none);
            } else {
                for (int t = synced[b] + 1; t <= x; ++t)
                    Ops::Add(seg, strip.Fine(t + hx, b), strip.Fine(t - 1 - hx, b));
            }
            synced[b] = x;
            uint32_t belowFine;
            const int v = Ops::FirstAbove(seg, k - below, belowFine);
            d[x] = static_cast<uint8_t>(b * 16 + v);
        }
    }
}

#ifdef LUMADRIFT_RANK_VECTOR
// Windows of at most 255 pixels on Avx2 and up: the window's whole 256-bin
// histogram rides along the row in registers (a column's counts in, one
// out: eight vector adds and subtracts a pixel), so the fine bins of
// whichever coarse bin holds the rank are always at hand, and a pixel runs
// without a branch, so the processor overlaps the searches of neighbouring
// pixels. Wide gives the register type and the in-register steps; the
// counts are 8-bit, and so are their running totals (at most 255).
template <typename Wide>
inline __attribute__((always_inline)) void WholeHistogramRows(const uint8_t* src, uint8_t* dst, int stride,
                                                              FilterRange r, int X, int Y, int rank,
                                                              int first, int last, int cx0, int cx1)
{
    using Reg = typename Wide::Reg;
    constexpr int kStep = static_cast<int>(sizeof(Reg));
    constexpr int kRegs = 256 / kStep;
    const int hx = X / 2;
    ColumnStrip<uint8_t> strip(src, stride, r, X, cx0, cx1);
    for (int y = first; y < last; ++y) {
        strip.MoveTo(Y, y, first);
        __m128i coarse = _mm_setzero_si128();
        Reg window[kRegs];
        for (int i = 0; i < kRegs; ++i)
            window[i] = Wide::Zero();
        for (int t = cx0 - hx; t <= cx0 + hx; ++t) {
            coarse = _mm_add_epi8(coarse, Wide::Load16(strip.Coarse(t).v));
            const uint8_t* in = strip.Fine(t, 0).v;
            for (int i = 0; i < kRegs; ++i)
                window[i] = Wide::Add(window[i], Wide::Load(in + i * kStep));
        }
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        for (int x = cx0; x < cx1; ++x) {
            if (x > cx0) {
                coarse = _mm_sub_epi8(_mm_add_epi8(coarse, Wide::Load16(strip.Coarse(x + hx).v)),
                                      Wide::Load16(strip.Coarse(x - 1 - hx).v));
                const uint8_t* in = strip.Fine(x + hx, 0).v;
                const uint8_t* out = strip.Fine(x - 1 - hx, 0).v;
                for (int i = 0; i < kRegs; ++i)
                    window[i] = Wide::Sub(Wide::Add(window[i], Wide::Load(in + i * kStep)),
                                          Wide::Load(out + i * kStep));
            }
            int below;
            const int b = Wide::FirstAbove(coarse, rank, &below);
            const int v = Wide::FirstAbove(Wide::Segment(window, b), rank - below, nullptr);
            d[x] = static_cast<uint8_t>(b * 16 + v);
        }
    }
}

struct Avx2Wide {
    using Reg = __m256i;
    __attribute__((target("avx2"))) static inline __m128i Load16(const uint8_t* p)
    {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
    }
    // The first bin whose running total exceeds k (the bins add up to more
    // than k), and the total below it when below is not null.
    __attribute__((target("avx2"))) static inline int FirstAbove(__m128i x, int k, int* below)
    {
        x = BytePrefix(x);
        const __m128i limit = _mm_set1_epi8(static_cast<char>(k + 1));
        const int i = __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, limit), x))));
        if (below)  // the total up to bin i - 1; index -1 reads as 0
            *below = _mm_cvtsi128_si32(_mm_shuffle_epi8(x, _mm_set1_epi8(static_cast<char>(i - 1)))) & 0xff;
        return i;
    }
    __attribute__((target("avx2"))) static inline Reg Zero() { return _mm256_setzero_si256(); }
    __attribute__((target("avx2"))) static inline Reg Load(const uint8_t* p)
    {
        return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
    }
    __attribute__((target("avx2"))) static inline Reg Add(Reg a, Reg b) { return _mm256_add_epi8(a, b); }
    __attribute__((target("avx2"))) static inline Reg Sub(Reg a, Reg b) { return _mm256_sub_epi8(a, b); }
    __attribute__((target("avx2"))) static inline Reg Pick(Reg x, Reg y, int bit)
    {
        return _mm256_blendv_epi8(x, y, _mm256_set1_epi8(static_cast<char>(-bit)));
    }
    // Counts 16 b .. 16 b + 15 of the eight registers: register b / 2 is
    // chosen by three rounds of blends on the bits of b, then its half by a
    // permute.
    __attribute__((target("avx2"))) static inline __m128i Segment(const Reg* w, int b)
    {
        const int b1 = (b >> 1) & 1, b2 = (b >> 2) & 1, b3 = (b >> 3) & 1;
        const Reg r0 = Pick(w[0], w[1], b1), r1 = Pick(w[2], w[3], b1);
        const Reg r2 = Pick(w[4], w[5], b1), r3 = Pick(w[6], w[7], b1);
        const Reg q = Pick(Pick(r0, r1, b2), Pick(r2, r3, b2), b3);
        const Reg half = _mm256_add_epi32(_mm256_set1_epi32((b & 1) * 4), _mm256_setr_epi32(0, 1, 2, 3, 0, 0, 0, 0));
        return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(q, half));
    }
};


// The same on Avx512, four pixels at a time: their coarse windows sit in
// the four 128-bit lanes of one register (sliding four columns at once), so
// the running totals, the comparisons and the fine-bin sums are done once
// for four pixels, and each pixel's fine bins are permuted into its lane.
__attribute__((target("avx512f,avx512bw"))) inline __m512i LanePrefix(__m512i x)
{
    x = _mm512_add_epi8(x, _mm512_bslli_epi128(x, 1));
    x = _mm512_add_epi8(x, _mm512_bslli_epi128(x, 2));
    x = _mm512_add_epi8(x, _mm512_bslli_epi128(x, 4));
    return _mm512_add_epi8(x, _mm512_bslli_epi128(x, 8));
}

// Each lane's byte total in the lane's first 64-bit word (and its second).
__attribute__((target("avx512f,avx512bw"))) inline __m512i LaneSum(__m512i x)
{
    const __m512i s = _mm512_sad_epu8(x, _mm512_setzero_si512());
    return _mm512_add_epi64(s, _mm512_bsrli_epi128(s, 8));
}

// The coarse bins of columns t .. t + 3.
__attribute__((target("avx512f,avx512bw"))) inline __m512i Coarse4(const ColumnStrip<uint8_t>& strip, int t)
{
    return _mm512_loadu_si512(strip.Coarse(t).v);
}

__attribute__((target("avx512f,avx512bw"))) void WholeHistogramQuads(const uint8_t* src, uint8_t* dst,
                                                                     int stride, FilterRange r, int X, int Y,
                                                                     int rank, int first, int last, int cx0,
                                                                     int cx1)
{
    const int hx = X / 2;
    // Columns for whole quads, so the last quad reads folded columns too.
    ColumnStrip<uint8_t> strip(src, stride, r, X, cx0, cx0 + (cx1 - cx0 + 3) / 4 * 4);
    const __m512i k = _mm512_set1_epi8(static_cast<char>(rank));
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3);
    for (int y = first; y < last; ++y) {
        strip.MoveTo(Y, y, first);
        // Lane j: the coarse window of pixel x + j.
        __m512i z = _mm512_setzero_si512();
        __m512i w[4] = {z, z, z, z};
        for (int t = cx0 - hx; t <= cx0 + hx; ++t) {
            z = _mm512_add_epi8(z, Coarse4(strip, t));
            const uint8_t* in = strip.Fine(t, 0).v;
            for (int i = 0; i < 4; ++i)
                w[i] = _mm512_add_epi8(w[i], _mm512_load_si512(in + 64 * i));
        }
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        for (int x = cx0; x < cx1; x += 4) {
            if (x > cx0) {
                for (int i = 1; i <= 4; ++i)
                    z = _mm512_sub_epi8(_mm512_add_epi8(z, Coarse4(strip, x - 4 + hx + i)), Coarse4(strip, x - 4 - hx + i - 1));
            }
            const __mmask64 above = _mm512_cmpgt_epu8_mask(LanePrefix(z), k);
            // The coarse bin b holding the rank is the number of bins not
            // above, and below is what those bins hold.
            const __m512i b = LaneSum(_mm512_maskz_set1_epi8(~above, 1));
            const __m512i below = LaneSum(_mm512_maskz_mov_epi8(~above, z));
            const __m512i bWords = _mm512_shuffle_epi32(b, _MM_PERM_AAAA);
            const __m512i idx = _mm512_add_epi32(_mm512_slli_epi32(_mm512_and_si512(bWords, _mm512_set1_epi32(7)), 2), iota);
            const __mmask16 upper = _mm512_test_epi32_mask(bWords, _mm512_set1_epi32(8));
            __m512i seg = _mm512_setzero_si512();
            for (int j = 0; j < 4; ++j) {
                if (j > 0 || x > cx0) {
                    const uint8_t* in = strip.Fine(x + j + hx, 0).v;
                    const uint8_t* out = strip.Fine(x + j - 1 - hx, 0).v;
                    for (int i = 0; i < 4; ++i)
                        w[i] = _mm512_sub_epi8(_mm512_add_epi8(w[i], _mm512_load_si512(in + 64 * i)),
                                               _mm512_load_si512(out + 64 * i));
                }
                const __mmask16 lane = static_cast<__mmask16>(0xF << (4 * j));
                seg = _mm512_mask_mov_epi32(seg, lane & static_cast<__mmask16>(~upper),
                                            _mm512_permutex2var_epi32(w[0], idx, w[1]));
                seg = _mm512_mask_mov_epi32(seg, lane & upper, _mm512_permutex2var_epi32(w[2], idx, w[3]));
            }
            // The rank within bin b: k - below, the same in every byte of
            // the lane.
            const __m512i fineK = _mm512_sub_epi8(k, _mm512_shuffle_epi8(below, _mm512_setzero_si512()));
            const uint64_t fineAbove = _mm512_cmpgt_epu8_mask(LanePrefix(seg), fineK);
            const uint64_t coarseAbove = above;
            const int n = std::min(4, cx1 - x);
            for (int j = 0; j < n; ++j) {
                const unsigned cb = static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(coarseAbove >> (16 * j)) | 0x10000));
                const unsigned fb = static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(fineAbove >> (16 * j)) | 0x10000));
                d[x + j] = static_cast<uint8_t>(cb * 16 + fb);
            }
        }
    }
}
#endif

// Strips of 128 columns: their histograms (with the half windows either
// side) fit the first-level cache for the 8-bit counts of windows up to
// 15 x 15, and the second-level one for any other.
constexpr int kStripColumns = 128;

template <typename Ops>
inline __attribute__((always_inline)) void ColumnHistogramStrips(const uint8_t* src, uint8_t* dst, int stride,
                                                                 FilterRange r, int X, int Y, int rank,
                                                                 int first, int last)
{
    for (int cx0 = 0; cx0 < r.w; cx0 += kStripColumns)
        ColumnHistogramRows<Ops>(src, dst, stride, r, X, Y, rank, first, last, cx0,
                                 std::min(r.w, cx0 + kStripColumns));
}

#ifdef LUMADRIFT_RANK_VECTOR
__attribute__((target("avx2"))) void WholeHistogramAvx2(const uint8_t* src, uint8_t* dst, int stride,
                                                        FilterRange r, int X, int Y, int rank, int first,
                                                        int last)
{
    for (int cx0 = 0; cx0 < r.w; cx0 += kStripColumns)
        WholeHistogramRows<Avx2Wide>(src, dst, stride, r, X, Y, rank, first, last, cx0,
                                     std::min(r.w, cx0 + kStripColumns));
}

void WholeHistogramAvx512(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y, int rank,
                          int first, int last)
{
    for (int cx0 = 0; cx0 < r.w; cx0 += kStripColumns)
        WholeHistogramQuads(src, dst, stride, r, X, Y, rank, first, last, cx0, std::min(r.w, cx0 + kStripColumns));
}

__attribute__((target("avx2"))) void ColumnHistogramAvx2(const uint8_t* src, uint8_t* dst, int stride,
                                                         FilterRange r, int X, int Y, int rank, int first,
                                                         int last)
{
    ColumnHistogramStrips<Avx2Bins16>(src, dst, stride, r, X, Y, rank, first, last);
}
#endif

void ColumnHistogramRank(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y, int rank)
{
    // A band starts with Y rows of counting, so bands hold several windows.
    const bool small = X * Y <= 255;
    ParallelFor(0, r.h, std::max(32, 2 * Y), [&](int first, int last) {
#ifdef LUMADRIFT_RANK_VECTOR
        const IsaLevel level = ActiveIsa();
        if (small && level >= IsaLevel::Avx512) {
            WholeHistogramAvx512(src, dst, stride, r, X, Y, rank, first, last);
            return;
        }
        if (small && level >= IsaLevel::Avx2) {
            WholeHistogramAvx2(src, dst, stride, r, X, Y, rank, first, last);
            return;
        }
        if (small && level >= IsaLevel::Sse2) {
            ColumnHistogramStrips<Sse2Bins8>(src, dst, stride, r, X, Y, rank, first, last);
            return;
        }
        if (level >= IsaLevel::Avx2) {
            ColumnHistogramAvx2(src, dst, stride, r, X, Y, rank, first, last);
            return;
        }
#endif
        if (small)
            ColumnHistogramStrips<PlainBins<uint8_t>>(src, dst, stride, r, X, Y, rank, first, last);
        else
            ColumnHistogramStrips<PlainBins<uint16_t>>(src, dst, stride, r, X, Y, rank, first, last);
    });
}

// Histogram work per pixel, in the units of RankNetwork::CostPerPixel: the
// row histogram's grows with the window height, the column histograms' does
// not (about 150 instructions a pixel, where a network unit measured about
// eleven).
double HistogramCostPerPixel(int Y) { return 8.0 * Y + 40.0; }
constexpr double kColumnHistogramCost = 14.0;

// Networks grow faster than the window; past this many pixels they are not
// even built.
constexpr int kMaxNetworkWindow = 121;

template <typename Kernel>
void RunOnBank(PlaneBank& bank, Kernel kernel)
{
    if (bank.empty())
        return;
    const uint8_t* src = bank.SourcePlane();
    uint8_t* dst = bank.DestinationPlane();
    if (!src || !dst)
        return;
    const int stride = bank.width();
    const FilterRange r = BankRange(bank);
    if (r.w < 1 || r.h < 1)
        return;
    if (src != dst) {
        kernel(src, dst, stride, r);
        return;
    }
    // Neighbourhoods must read the source as it was; the copy keeps the
    // plane's stride so one stride serves both.
    std::vector<uint8_t> copy(static_cast<size_t>(stride) * r.h);
    for (int y = 0; y < r.h; ++y) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(y) * stride + r.x0;
        std::memcpy(copy.data() + at, src + static_cast<ptrdiff_t>(r.y0) * stride + at,
                    static_cast<size_t>(r.w));
    }
    kernel(copy.data(), dst + static_cast<ptrdiff_t>(r.y0) * stride, stride,
           FilterRange{r.x0, 0, r.w, r.h});
}

}  // namespace

int RaiseEvenSize(int size) { return (size % 2 == 0) ? size + 1 : size; }

KernelCheck CheckKernelSizes(int& x, int& y)
{
    x = RaiseEvenSize(x);
    y = RaiseEvenSize(y);
    if (x < 1 || y < 1)
        return KernelCheck::kSizeBelowOne;
    if (static_cast<long long>(x) * y > kMaxWindowPixels)
        return KernelCheck::kWindowTooLarge;
    return KernelCheck::kOk;
}

KernelCheck CheckRankKernel(int& x, int& y, int rank)
{
    const KernelCheck sizes = CheckKernelSizes(x, y);
    if (sizes != KernelCheck::kOk)
        return sizes;
    if (rank < 0 || rank >= x * y)
        return KernelCheck::kRankOutOfRange;
    return KernelCheck::kOk;
}

int RankPosition(int choice, int x, int y, int specified)
{
    switch (choice) {
    case kRankLowest: return 0;
    case kRankHighest: return x * y - 1;
    case kRankMedian: return MedianRank(x, y);
    default: return specified;
    }
}

void MovingAverageKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y)
{
    if (r.w < 1 || r.h < 1 || !SizesUsable(x, y))
        return;
    // Sixteen-bit sums when the largest window sum fits: twice the pixels
    // per vector.
    const Reciprocal div(static_cast<uint64_t>(x) * y);
    HighHalfReciprocal highHalf;
    // Each band starts its column sums with a whole window of rows.
    const int minRows = std::max(16, y);
    if (255LL * x * y <= 0xffff) {
        const bool useHigh = highHalf.Find(static_cast<uint32_t>(x) * y);
        ParallelFor(0, r.h, minRows, [&](int first, int last) {
            BoxMean<uint16_t>(src, dst, stride, r, x, y, div, useHigh ? &highHalf : nullptr, first, last);
        });
    } else {
        ParallelFor(0, r.h, minRows, [&](int first, int last) {
            BoxMean<uint32_t>(src, dst, stride, r, x, y, div, nullptr, first, last);
        });
    }
}

void RankFilterKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y,
                      int rank)
{
    if (r.w < 1 || r.h < 1 || !SizesUsable(x, y) || rank < 0 || rank >= x * y)
        return;
    // The networks need the Sse2 level; the scalar level takes the row
    // histogram, the plainest path, which then runs in tests anywhere.
    const IsaLevel level = ActiveIsa();
    if (level == IsaLevel::Scalar) {
        ParallelFor(0, r.h, 2, [&](int first, int last) { RankHistogram(src, dst, stride, r, x, y, rank, first, last); });
        return;
    }
    if (const FixedRun fixed = FindFixed(x, y, rank)) {
        fixed(src, dst, stride, r);
        return;
    }
    const bool columnHistogram = x * y <= kMaxColumnHistogramWindow;
    if (x * y <= kMaxNetworkWindow) {
        const RankNetwork net(x, y, rank);
        if (net.CostPerPixel() <= (columnHistogram ? kColumnHistogramCost : HistogramCostPerPixel(y))) {
            net.Run(src, dst, stride, r);
            return;
        }
    }
    if (columnHistogram) {
        ColumnHistogramRank(src, dst, stride, r, x, y, rank);
        return;
    }
    ParallelFor(0, r.h, 2, [&](int first, int last) { RankHistogram(src, dst, stride, r, x, y, rank, first, last); });
}

void MovingAverage(PlaneBank& bank, int x, int y)
{
    RunOnBank(bank, [&](const uint8_t* s, uint8_t* d, int st, FilterRange r) {
        MovingAverageKernel(s, d, st, r, x, y);
    });
}

void RankFilter(PlaneBank& bank, int x, int y, int rank)
{
    RunOnBank(bank, [&](const uint8_t* s, uint8_t* d, int st, FilterRange r) {
        RankFilterKernel(s, d, st, r, x, y, rank);
    });
}

}  // namespace lumadrift
