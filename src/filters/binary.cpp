#include "filters/binary.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <vector>

#include "core/parallel.h"
#include "core/plane_bank.h"
#include "core/work_progress.h"

namespace lumadrift {
namespace {

// A neighbourhood filter must not read what it has already written; when the
// bank hands out one plane as both source and destination the filter reads a
// copy of the range instead.
template <typename Kernel>
void RunNeighbourhood(PlaneBank& bank, Kernel kernel)
{
    BankView v;
    if (!ResolveBank(bank, v) || !v.HasPixels())
        return;
    if (v.src != v.dst) {
        kernel(v.src, v.dst, v.stride, v.range);
        return;
    }
    // The copy keeps the plane's stride so one stride serves both planes.
    const FilterRange& r = v.range;
    std::vector<uint8_t> copy(static_cast<size_t>(v.stride) * r.h);
    for (int y = 0; y < r.h; ++y) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(y) * v.stride + r.x0;
        std::memcpy(copy.data() + at, v.src + static_cast<ptrdiff_t>(r.y0) * v.stride + at, r.w);
    }
    kernel(copy.data(), v.dst + static_cast<ptrdiff_t>(r.y0) * v.stride, v.stride,
           FilterRange{r.x0, 0, r.w, r.h});
}

struct OrOp {
    static uint8_t Apply(uint8_t a, uint8_t b) { return a | b; }
};
struct AndOp {
    static uint8_t Apply(uint8_t a, uint8_t b) { return a & b; }
};

// OR and AND are associative and commutative, so the nine-pixel combination
// splits into a column pass over three rows and a row pass over three
// columns; both are plain byte loops the compiler turns into vector code.
// Rows [first, last) of the range.
template <typename Op>
void MorphologyRows(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int first, int last)
{
    const int w = r.w;
    std::vector<uint8_t> column(static_cast<size_t>(w));
    uint8_t* c = column.data();
    for (int y = first; y < last; ++y) {
        const uint8_t* a = src + static_cast<ptrdiff_t>(FoldIntoRange(y - 1, r.y0, r.h)) * stride + r.x0;
        const uint8_t* b = src + static_cast<ptrdiff_t>(y) * stride + r.x0;
        const uint8_t* e = src + static_cast<ptrdiff_t>(FoldIntoRange(y + 1, r.y0, r.h)) * stride + r.x0;
        for (int i = 0; i < w; ++i)
            c[i] = Op::Apply(Op::Apply(a[i], b[i]), e[i]);

        uint8_t* d = dst + static_cast<ptrdiff_t>(y) * stride + r.x0;
        for (int i = 1; i < w - 1; ++i)
            d[i] = Op::Apply(Op::Apply(c[i - 1], c[i]), c[i + 1]);
        for (int i : {0, w - 1}) {
            d[i] = Op::Apply(Op::Apply(c[FoldIntoRange(i - 1, 0, w)], c[i]),
                             c[FoldIntoRange(i + 1, 0, w)]);
        }
    }
}

template <typename Op>
void Morphology(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    if (r.w < 1 || r.h < 1)
        return;
    ParallelFor(r.y0, r.y0 + r.h, RowsForBytes(static_cast<size_t>(r.w)),
                [&](int first, int last) { MorphologyRows<Op>(src, dst, stride, r, first, last); });
}

// D = 255 inside the byte band [lo, lo + span], 0 outside, then flipped:
// rows [first, last) of the range.
void BinarizeRows(const uint8_t* src, uint8_t* dst, int stride, FilterRange r, int first, int last,
                  bool empty, uint8_t lo, uint8_t span, uint8_t flip)
{
    for (int y = first; y < last; ++y) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(y) * stride + r.x0;
        uint8_t* d = dst + static_cast<ptrdiff_t>(y) * stride + r.x0;
        if (empty) {
            std::memset(d, flip, static_cast<size_t>(r.w));
            continue;
        }
        for (int i = 0; i < r.w; ++i) {
            const uint8_t inside = static_cast<uint8_t>(s[i] - lo) <= span ? 0xff : 0x00;
            d[i] = inside ^ flip;
        }
    }
}

// Working values of the thinning scans.
constexpr uint8_t kForeground = 255;
constexpr uint8_t kMarkPhase1 = 21;
constexpr uint8_t kMarkPhase2 = 31;
constexpr uint8_t kKept = 41;

// Pixel keys sort in scan order: row in the high half, column in the low.
// Ranges with both sides up to 65536 (every picture that opens) take 32-bit
// keys, half the memory of the frontier lists on a big picture.
template <typename K>
struct PixelKeys {
    static constexpr int kHalf = static_cast<int>(sizeof(K)) * 4;
    static K Key(int x, int y) { return (static_cast<K>(y) << kHalf) | static_cast<K>(x); }
    static int KeyX(K k) { return static_cast<int>(k & ((K{1} << kHalf) - 1)); }
    static int KeyY(K k) { return static_cast<int>(k >> kHalf); }
};

// Only a foreground pixel with an exact 0 among its four direct neighbours
// can pass a marking test, and 0s appear only through deletion. So each scan
// visits the frontier of such pixels, kept in scan order, instead of the whole
// range; pixels outside it could not change and would read the same values.
template <typename K>
class Thinner : PixelKeys<K> {
    using PixelKeys<K>::Key;
    using PixelKeys<K>::KeyX;
    using PixelKeys<K>::KeyY;

public:
    Thinner(uint8_t* base, int stride, int w, int h)
        : base_(base), stride_(stride), w_(w), h_(h),
          queued_(static_cast<size_t>(w) * h, 0)
    {
    }

    void Run()
    {
        BuildFrontier();
        int phase = 1;
        for (;;) {
            const uint8_t mark = phase == 1 ? kMarkPhase1 : kMarkPhase2;
            MarkingScan(phase, mark);
            if (phase == 1 && candidates_.empty())
                break;
            DeletionScan();
            phase = 3 - phase;
            WorkTick();
        }
        FinalScan();
    }

private:
    uint8_t& At(int x, int y) { return base_[static_cast<ptrdiff_t>(y) * stride_ + x]; }
    uint8_t& Queued(int x, int y) { return queued_[static_cast<size_t>(y) * w_ + x]; }

    bool HasZeroNeighbour(int x, int y)
    {
        return (x > 0 && At(x - 1, y) == 0) || (x + 1 < w_ && At(x + 1, y) == 0) ||
               (y > 0 && At(x, y - 1) == 0) || (y + 1 < h_ && At(x, y + 1) == 0);
    }

    void BuildFrontier()
    {
        frontier_.clear();
        for (int y = 0; y < h_; ++y) {
            const uint8_t* row = &At(0, y);
            for (int x = 0; x < w_; ++x) {
                if (row[x] == kForeground && HasZeroNeighbour(x, y)) {
                    frontier_.push_back(Key(x, y));
                    Queued(x, y) = 1;
                }
            }
        }
    }

    void MarkingScan(int phase, uint8_t mark)
    {
        candidates_.clear();
        kept_.clear();
        for (K k : frontier_) {
            const int x = KeyX(k);
            const int y = KeyY(k);
            // The missing neighbour at an edge is the opposite one.
            const int up = y > 0 ? At(x, y - 1) : At(x, FoldIntoRange(y + 1, 0, h_));
            const int down = y + 1 < h_ ? At(x, y + 1) : At(x, FoldIntoRange(y - 1, 0, h_));
            const int left = x > 0 ? At(x - 1, y) : At(FoldIntoRange(x + 1, 0, w_), y);
            const int right = x + 1 < w_ ? At(x + 1, y) : At(FoldIntoRange(x - 1, 0, w_), y);
            bool candidate;
            if (phase == 1) {
                candidate = ((up == 0 && down == 255) || (up == 255 && down == 0)) && left + right > 0;
            } else {
                candidate = ((left == 0 && right == 255) || (left == 255 && right == 0)) && up + down > 0;
            }
            if (candidate) {
                At(x, y) = mark;
                Queued(x, y) = 0;
                candidates_.push_back(k);
            } else {
                kept_.push_back(k);
            }
        }
        frontier_.swap(kept_);
    }

    void DeletionScan()
    {
        added_.clear();
        for (K k : candidates_) {
            const int x = KeyX(k);
            const int y = KeyY(k);
            int n[8];
            if (x > 0 && x + 1 < w_ && y > 0 && y + 1 < h_) {
                const uint8_t* p = &At(x, y);
                const ptrdiff_t s = stride_;
                n[0] = p[-s - 1]; n[1] = p[-s]; n[2] = p[-s + 1];
                n[3] = p[-1];                   n[4] = p[1];
                n[5] = p[s - 1];  n[6] = p[s];  n[7] = p[s + 1];
            } else {
                const int xl = FoldIntoRange(x - 1, 0, w_), xr = FoldIntoRange(x + 1, 0, w_);
                const int yu = FoldIntoRange(y - 1, 0, h_), yd = FoldIntoRange(y + 1, 0, h_);
                n[0] = At(xl, yu); n[1] = At(x, yu); n[2] = At(xr, yu);
                n[3] = At(xl, y);                   n[4] = At(xr, y);
                n[5] = At(xl, yd); n[6] = At(x, yd); n[7] = At(xr, yd);
            }
            for (int& v : n)
                v &= 1;
            const int s4 = n[1] + n[3] + n[4] + n[6];
            const int s8 = s4 + n[0] + n[2] + n[5] + n[7];
            bool remove = false;
            if (s8 <= 6 && s8 >= 2) {
                const int c = s4 - n[0] * n[1] * n[3] - n[1] * n[2] * n[4] - n[3] * n[5] * n[6] -
                              n[4] * n[6] * n[7];
                remove = c == 1;
            }
            if (!remove) {
                At(x, y) = kKept;
                continue;
            }
            At(x, y) = 0;
            Enqueue(x, y - 1);
            Enqueue(x - 1, y);
            Enqueue(x + 1, y);
            Enqueue(x, y + 1);
        }
        if (added_.empty())
            return;
        std::sort(added_.begin(), added_.end());
        merged_.clear();
        merged_.reserve(frontier_.size() + added_.size());
        std::merge(frontier_.begin(), frontier_.end(), added_.begin(), added_.end(),
                   std::back_inserter(merged_));
        frontier_.swap(merged_);
    }

    void Enqueue(int x, int y)
    {
        if (x < 0 || y < 0 || x >= w_ || y >= h_)
            return;
        if (At(x, y) == kForeground && !Queued(x, y)) {
            Queued(x, y) = 1;
            added_.push_back(Key(x, y));
        }
    }

    void FinalScan()
    {
        for (int y = 0; y < h_; ++y) {
            uint8_t* row = &At(0, y);
            for (int x = 0; x < w_; ++x)
                row[x] = row[x] != 0 ? 255 : 0;
        }
    }

    uint8_t* base_;
    int stride_;
    int w_;
    int h_;
    std::vector<uint8_t> queued_;
    std::vector<K> frontier_, kept_, candidates_, added_, merged_;
};

}  // namespace

void BinarizeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r,
                    int low, int high, int invert)
{
    if (r.w < 1 || r.h < 1)
        return;
    const uint8_t flip = invert ? 0xff : 0x00;
    // Strict band low < v < high as the inclusive byte band first..last.
    const long long first = std::max(static_cast<long long>(low) + 1, 0LL);
    const long long last = std::min(static_cast<long long>(high) - 1, 255LL);
    const bool empty = first > last;
    const uint8_t lo = static_cast<uint8_t>(empty ? 0 : first);
    const uint8_t span = static_cast<uint8_t>(empty ? 0 : last - first);
    ParallelFor(r.y0, r.y0 + r.h, RowsForBytes(static_cast<size_t>(r.w)), [&](int top, int bottom) {
        BinarizeRows(src, dst, stride, r, top, bottom, empty, lo, span, flip);
    });
}

void DilateKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    Morphology<OrOp>(src, dst, stride, r);
}

void ErodeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    Morphology<AndOp>(src, dst, stride, r);
}

void ThinKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    if (r.w < 1 || r.h < 1)
        return;
    uint8_t* base = dst + static_cast<ptrdiff_t>(r.y0) * stride + r.x0;
    if (src != dst) {
        const uint8_t* from = src + static_cast<ptrdiff_t>(r.y0) * stride + r.x0;
        for (int y = 0; y < r.h; ++y)
            std::memcpy(base + static_cast<ptrdiff_t>(y) * stride,
                        from + static_cast<ptrdiff_t>(y) * stride, static_cast<size_t>(r.w));
    }
    if (r.w <= 65536 && r.h <= 65536)
        Thinner<uint32_t>(base, stride, r.w, r.h).Run();
    else
        Thinner<uint64_t>(base, stride, r.w, r.h).Run();
}

void Binarize(PlaneBank& bank, int low, int high, int invert)
{
    BankView v;
    if (ResolveBank(bank, v) && v.HasPixels())
        BinarizeKernel(v.src, v.dst, v.stride, v.range, low, high, invert);
}

void Binarize(PlaneBank& bank, const BinarizeParams& p)
{
    if (p.min > p.max)
        Binarize(bank, p.max, p.min, 1);
    else
        Binarize(bank, p.min, p.max, 0);
}

void Dilate(PlaneBank& bank) { RunNeighbourhood(bank, DilateKernel); }

void Erode(PlaneBank& bank) { RunNeighbourhood(bank, ErodeKernel); }

void Thin(PlaneBank& bank)
{
    BankView v;
    if (ResolveBank(bank, v) && v.HasPixels())
        ThinKernel(v.src, v.dst, v.stride, v.range);
}

}  // namespace lumadrift
