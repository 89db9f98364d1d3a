#include "filters/smoothing.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

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

template <typename T>
void BoxMean(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y)
{
    const int w = r.w, h = r.h, hx = X / 2, hy = Y / 2;
    const Reciprocal div(static_cast<uint64_t>(X) * Y);
    std::vector<T> column(static_cast<size_t>(w));
    std::vector<T> ext(static_cast<size_t>(w) + X - 1);
    std::vector<T> sums(static_cast<size_t>(w));
    auto row = [&](int j) {
        return src + static_cast<ptrdiff_t>(r.y0 + FoldIntoRange(j, 0, h)) * stride + r.x0;
    };
    T* col = column.data();
    for (int dy = -hy; dy <= hy; ++dy) {
        const uint8_t* s = row(dy);
        for (int x = 0; x < w; ++x)
            col[x] = static_cast<T>(col[x] + s[x]);
    }
    for (int y = 0; y < h; ++y) {
        ExtendRow(col, w, hx, ext.data());
        WindowSums(ext.data(), w, X, sums.data());
        uint8_t* d = dst + static_cast<ptrdiff_t>(r.y0 + y) * stride + r.x0;
        const T* n = sums.data();
        const uint64_t m = div.m;
        const int s = div.s;
        for (int x = 0; x < w; ++x)
            d[x] = static_cast<uint8_t>((static_cast<uint64_t>(n[x]) * m) >> s);
        if (y + 1 == h)
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
using Vec = uint8_t __attribute__((vector_size(32)));
constexpr int kLanes = 32;

// Vectors move through memcpy and by pointer only: passing one by value
// would tie the code to an ABI detail of the wider registers.
inline void LoadVec(Vec* v, const uint8_t* p) { std::memcpy(v, p, sizeof *v); }
inline void StoreVec(uint8_t* p, const Vec* v) { std::memcpy(p, v, sizeof *v); }

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
        const int w = r.w, h = r.h, hx = x_ / 2, hy = y_ / 2;
        // Rows of the range extended by the folded columns either side, with
        // room for a whole vector past the end.
        const size_t e = static_cast<size_t>(w) + x_ - 1;
        const size_t pitch = e + kLanes;
        std::vector<uint8_t> ext(pitch * h, 0);
        for (int yy = 0; yy < h; ++yy)
            ExtendRow(src + static_cast<ptrdiff_t>(r.y0 + yy) * stride + r.x0, w, hx,
                      ext.data() + pitch * yy);
        std::vector<uint8_t> sorted(pitch * y_, 0);
        std::vector<uint8_t> line(static_cast<size_t>(w) + kLanes);
        std::vector<Vec> slot(static_cast<size_t>(std::max(x_ * y_, y_)) + 1);
        std::vector<const uint8_t*> rows(static_cast<size_t>(y_));
        Vec* v = slot.data();

        for (int yy = 0; yy < h; ++yy) {
            for (int dy = -hy; dy <= hy; ++dy)
                rows[dy + hy] = ext.data() + pitch * FoldIntoRange(yy + dy, 0, h);
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

private:
    static void Apply(const std::vector<Exchange>& ops, Vec* v)
    {
        for (const Exchange& o : ops) {
            const Vec a = v[o.a], b = v[o.b];
            const Vec less = a < b;
            v[o.lo] = less ? a : b;
            v[o.hi] = less ? b : a;
        }
    }

    int x_, y_;
    int out_ = 0;
    std::vector<Exchange> merge_, column_;
    std::vector<int> loads_, ranks_;
};

// Large windows: a sliding 256-bin histogram with 16 coarse bins on top, one
// column out and one in per step, and the rank found by walking the coarse
// bins and then the 16 fine bins of the one that holds it.
void RankHistogram(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int X, int Y,
                   int rank)
{
    const int w = r.w, h = r.h, hx = X / 2, hy = Y / 2;
    std::vector<const uint8_t*> rows(static_cast<size_t>(Y));
    const uint32_t k = static_cast<uint32_t>(rank);
    for (int y = 0; y < h; ++y) {
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

// Histogram work per pixel, in the units of RankNetwork::CostPerPixel.
double HistogramCostPerPixel(int Y) { return 8.0 * Y + 40.0; }

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
    const FilterRange r{bank.QueryPlaneBank(kBankRangeLeft), bank.QueryPlaneBank(kBankRangeTop),
                        bank.QueryPlaneBank(kBankRangeWidth), bank.QueryPlaneBank(kBankRangeHeight)};
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
    if (255LL * x * y <= 0xffff)
        BoxMean<uint16_t>(src, dst, stride, r, x, y);
    else
        BoxMean<uint32_t>(src, dst, stride, r, x, y);
}

void RankFilterKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int x, int y,
                      int rank)
{
    if (r.w < 1 || r.h < 1 || !SizesUsable(x, y) || rank < 0 || rank >= x * y)
        return;
    if (x * y <= kMaxNetworkWindow) {
        const RankNetwork net(x, y, rank);
        if (net.CostPerPixel() <= HistogramCostPerPixel(y)) {
            net.Run(src, dst, stride, r);
            return;
        }
    }
    RankHistogram(src, dst, stride, r, x, y, rank);
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
