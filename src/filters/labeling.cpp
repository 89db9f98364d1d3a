#include "filters/labeling.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <mutex>

#include "core/cp932.h"
#include "core/c_number.h"
#include "core/file_io.h"
#include "core/isa.h"
#include "core/parallel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumadrift {

namespace {

// Provisional labels 1..2047; entry 0 stands for "no label".
constexpr int kTableSize = 2048;

struct Run {
    int x0;  // first and last column, relative to the range's left edge
    int x1;
};

inline uint64_t Load8(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Bit i of the result: row[i] == 255, for i < n <= 64 (higher bits 0).
inline uint64_t ObjectMaskPlain(const uint8_t* row, int n)
{
    uint64_t m = 0;
    for (int i = 0; i < n; ++i)
        m |= static_cast<uint64_t>(row[i] == 255) << i;
    return m;
}

inline uint64_t ObjectMask(const uint8_t* row, int n)
{
#if defined(__SSE2__)
    if (ActiveIsa() == IsaLevel::Scalar)
        return ObjectMaskPlain(row, n);
    alignas(16) uint8_t tail[64];
    const uint8_t* p = row;
    if (n < 64) {
        std::memset(tail, 0, sizeof tail);
        std::memcpy(tail, row, static_cast<size_t>(n));
        p = tail;
    }
    const __m128i white = _mm_set1_epi8(static_cast<char>(0xff));
    uint64_t m = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        m |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, white)))) << (16 * i);
    }
    return m;
#else
    return ObjectMaskPlain(row, n);
#endif
}

// Appends the runs of 255 in row[0, w), found 64 pixels at a time from a
// bit mask: each run costs two bit scans however long it is.
void FindRuns(const uint8_t* row, int w, std::vector<Run>& out)
{
    bool open = false;  // a run reaches the end of the previous word
    int start = 0;
    for (int base = 0; base < w; base += 64) {
        const int n = std::min(64, w - base);
        uint64_t m = ObjectMask(row + base, n);
        if (open) {
            const uint64_t zeros = ~m;  // bits past the row's end count as background
            if (zeros == 0)
                continue;  // the whole word continues the run
            const int e = __builtin_ctzll(zeros);
            out.push_back({start, base + e - 1});
            open = false;
            m &= ~uint64_t{0} << e;
        }
        while (m) {
            const int t = __builtin_ctzll(m);
            const uint64_t zeros = ~m & (~uint64_t{0} << t);
            if (zeros == 0) {
                open = true;
                start = base + t;
                break;
            }
            const int e = __builtin_ctzll(zeros);
            out.push_back({base + t, base + e - 1});
            m &= ~uint64_t{0} << e;
        }
    }
    if (open)
        out.push_back({start, w - 1});
}

// Sets out[x0..x1] to n on a row whose other pixels are already final.
inline void FillRun(uint8_t* out, int w, int x0, int x1, uint8_t n)
{
    const int len = x1 - x0 + 1;
    if (len <= 8 && x0 + 8 <= w) {
        // Short runs (the common case in noisy pictures) as one word,
        // keeping the bytes past the run.
        uint64_t word;
        std::memcpy(&word, out + x0, 8);
        const uint64_t mask = len == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * len)) - 1;
        word = (word & ~mask) | (0x0101010101010101ULL * n & mask);
        std::memcpy(out + x0, &word, 8);
        return;
    }
    std::memset(out + x0, n, static_cast<size_t>(len));
}

// Union-find over the provisional labels. The root of a class is always its
// smallest label; labels are handed out in raster order, so the smallest
// label of a class belongs to the object's first pixel, which is what the
// final numbering goes by.
class LabelTable {
public:
    LabelTable() { parent_[0] = 0; }

    int Find(int a)
    {
        while (parent_[a] != a) {
            parent_[a] = parent_[parent_[a]];
            a = parent_[a];
        }
        return a;
    }

    // Returns the root of the merged class.
    int Unite(int ra, int b)
    {
        const int rb = Find(b);
        if (ra == rb)
            return ra;
        ++unionsSinceCompaction_;
        if (ra < rb) {
            parent_[rb] = ra;
            return ra;
        }
        parent_[ra] = rb;
        return rb;
    }

    bool full() const { return next_ >= kTableSize; }
    // Only meaningful when no unions happened since the last compaction: then
    // every label is its own class and compacting would free nothing.
    bool compactionWouldHelp() const { return unionsSinceCompaction_ > 0; }

    int Add()
    {
        parent_[next_] = next_;
        return next_++;
    }

    // Numbers the classes 1..C in the order of their roots and returns the
    // map from every provisional label to its class number (0 stays 0).
    const std::array<uint16_t, kTableSize>& Resolve(int& classes)
    {
        classes = 0;
        map_[0] = 0;
        for (int s = 1; s < next_; ++s) {
            const int r = Find(s);
            map_[s] = r == s ? static_cast<uint16_t>(++classes) : map_[r];
        }
        return map_;
    }

    // After Resolve: restarts the table with one label per class.
    void Restart(int classes)
    {
        for (int i = 1; i <= classes; ++i)
            parent_[i] = i;
        next_ = classes + 1;
        unionsSinceCompaction_ = 0;
    }

private:
    std::array<int, kTableSize> parent_{};
    std::array<uint16_t, kTableSize> map_{};
    int next_ = 1;
    long long unionsSinceCompaction_ = 0;
};

// Working lists kept between labelings on the calling thread, so that the
// next picture of a series does not fault the same pages in again. Up to
// kKeepScratchBytes stay; a larger picture's lists are let go.
struct LabelScratch {
    std::vector<std::vector<Run>> spare;  // emptied band run lists
    std::vector<uint16_t> runLabels;
};
thread_local LabelScratch t_labelScratch;
constexpr size_t kKeepScratchBytes = size_t{96} << 20;

bool RangeUsable(const uint8_t* plane, int stride, FilterRange r)
{
    return plane && r.w > 0 && r.h > 0 && r.x0 >= 0 && r.y0 >= 0 && r.x0 + r.w <= stride;
}

}  // namespace

LabelOutcome LabelKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range)
{
    LabelOutcome outcome;
    if (!RangeUsable(src, stride, range) || !dst)
        return outcome;
    const int w = range.w;
    auto srcRow = [&](int y) { return src + static_cast<size_t>(range.y0 + y) * stride + range.x0; };

    // The runs of every row, found in bands on the pool (a row's runs do not
    // depend on any other row). Each band keeps its own list; rowRuns and
    // rowCount point into them.
    const int h = range.h;
    std::vector<const Run*> rowRuns(static_cast<size_t>(h));
    std::vector<uint32_t> rowCount(static_cast<size_t>(h));
    LabelScratch& scratch = t_labelScratch;
    std::vector<std::vector<Run>> bandRuns;
    std::mutex lock;
    ParallelFor(0, h, RowsForBytes(static_cast<size_t>(w)), [&](int first, int last) {
        std::vector<Run> runs;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (!scratch.spare.empty()) {
                runs = std::move(scratch.spare.back());
                scratch.spare.pop_back();
            }
        }
        runs.clear();
        std::vector<size_t> start(static_cast<size_t>(last - first));
        for (int y = first; y < last; ++y) {
            start[y - first] = runs.size();
            FindRuns(srcRow(y), w, runs);
            rowCount[y] = static_cast<uint32_t>(runs.size() - start[y - first]);
        }
        for (int y = first; y < last; ++y)
            rowRuns[y] = runs.data() + start[y - first];
        std::lock_guard<std::mutex> hold(lock);
        bandRuns.push_back(std::move(runs));  // moving keeps the elements where they are
    });
    // rowFirst[y]: image-wide raster position of row y's first run.
    std::vector<size_t> rowFirst(static_cast<size_t>(h) + 1, 0);
    for (int y = 0; y < h; ++y)
        rowFirst[y + 1] = rowFirst[y] + rowCount[y];

    // First scan, in raster order: one provisional label per run, connected
    // to the runs of the row above that touch it or its two diagonal ends.
    // The labels live in image-wide run order, so a compaction can rewrite
    // them without touching the plane.
    if (scratch.runLabels.size() < rowFirst[h])
        scratch.runLabels.resize(rowFirst[h]);
    uint16_t* const runLabels = scratch.runLabels.data();  // written before read
    size_t labelled = 0;
    LabelTable table;
    bool lost = false;

    auto newLabel = [&]() -> int {
        if (table.full()) {
            // Once the classes have outgrown the table the result is
            // incomplete anyway; compacting again and again (each time over
            // every run so far) would only cost time.
            if (lost || !table.compactionWouldHelp()) {
                lost = true;
                return 0;
            }
            int classes = 0;
            const auto& map = table.Resolve(classes);
            for (size_t i = 0; i < labelled; ++i)
                runLabels[i] = map[runLabels[i]];
            table.Restart(classes);
            if (table.full()) {
                lost = true;
                return 0;
            }
        }
        return table.Add();
    };

    for (int y = 0; y < h; ++y) {
        const Run* cur = rowRuns[y];
        const Run* prev = y > 0 ? rowRuns[y - 1] : nullptr;
        const size_t prevCount = y > 0 ? rowCount[y - 1] : 0;
        const uint16_t* prevLabels = y > 0 ? runLabels + rowFirst[y - 1] : nullptr;
        size_t j = 0;
        for (uint32_t i = 0; i < rowCount[y]; ++i) {
            const Run& r = cur[i];
            while (j < prevCount && prev[j].x1 < r.x0 - 1)
                ++j;
            int root = 0;
            for (size_t k = j; k < prevCount && prev[k].x0 <= r.x1 + 1; ++k) {
                const int l = prevLabels[k];
                if (l == 0)
                    continue;
                root = root == 0 ? table.Find(l) : table.Unite(root, l);
            }
            const int label = root != 0 ? root : newLabel();
            runLabels[labelled++] = static_cast<uint16_t>(label);
        }
    }

    int classes = 0;
    const auto& finalOf = table.Resolve(classes);

    // Output scan, rows again on the pool. The source was read completely
    // above, so an in-place call is correct.
    ParallelFor(0, h, RowsForBytes(static_cast<size_t>(w)), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint8_t* out = dst + static_cast<size_t>(range.y0 + y) * stride + range.x0;
            std::memset(out, 0, static_cast<size_t>(w));
            const Run* runs = rowRuns[y];
            const uint16_t* labels = runLabels + rowFirst[y];
            for (uint32_t i = 0; i < rowCount[y]; ++i) {
                const int n = finalOf[labels[i]];
                if (n != 0 && n <= 255)
                    FillRun(out, w, runs[i].x0, runs[i].x1, static_cast<uint8_t>(n));
            }
        }
    });

    size_t kept = scratch.runLabels.capacity() * sizeof(uint16_t);
    for (std::vector<Run>& runs : bandRuns) {
        kept += runs.capacity() * sizeof(Run);
        scratch.spare.push_back(std::move(runs));
    }
    if (kept > kKeepScratchBytes)
        scratch = LabelScratch{};

    outcome.count = classes + 1;
    outcome.overflow = (outcome.count > 255 || lost) ? 1 : 0;
    outcome.incomplete = outcome.count > 256 || lost;
    return outcome;
}

LabelOutcome Label(PlaneBank& bank)
{
    if (bank.empty())
        return {};
    const FilterRange range = BankRange(bank);
    const uint8_t* src = bank.SourcePlane();
    uint8_t* dst = bank.DestinationPlane();
    if (!src || !dst)
        return {};
    return LabelKernel(src, dst, bank.width(), range);
}

long long LabelArea(const uint8_t* plane, int stride, FilterRange range, int n)
{
    if (!RangeUsable(plane, stride, range))
        return 0;
    const uint8_t v = static_cast<uint8_t>(n & 0xFF);
    long long count = 0;
    for (int y = range.y0; y < range.y0 + range.h; ++y) {
        const uint8_t* row = plane + static_cast<size_t>(y) * stride;
        for (int x = range.x0; x < range.x0 + range.w; ++x)
            count += row[x] == v;
    }
    return count;
}

int LabelBoundingBox(const uint8_t* plane, int stride, FilterRange range, int n,
                     int& minX, int& maxX, int& minY, int& maxY)
{
    minX = range.x0 + range.w;
    maxX = range.x0;
    minY = range.y0 + range.h;
    maxY = range.y0;
    if (!RangeUsable(plane, stride, range))
        return -1;
    const uint8_t v = static_cast<uint8_t>(n & 0xFF);
    bool found = false;
    for (int y = range.y0; y < range.y0 + range.h; ++y) {
        const uint8_t* row = plane + static_cast<size_t>(y) * stride;
        for (int x = range.x0; x < range.x0 + range.w; ++x) {
            if (row[x] != v)
                continue;
            found = true;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    return found ? 0 : -1;
}

int LabelCentroid(const uint8_t* plane, int stride, FilterRange range, int n, double& x, double& y)
{
    if (!RangeUsable(plane, stride, range))
        return -1;
    const uint8_t v = static_cast<uint8_t>(n & 0xFF);
    long long count = 0, sumX = 0, sumY = 0;
    for (int yy = range.y0; yy < range.y0 + range.h; ++yy) {
        const uint8_t* row = plane + static_cast<size_t>(yy) * stride;
        for (int xx = range.x0; xx < range.x0 + range.w; ++xx) {
            if (row[xx] != v)
                continue;
            ++count;
            sumX += xx;
            sumY += yy;
        }
    }
    if (count == 0)
        return -1;
    // The sums are exact integers, so the division sees the same operands as
    // a running double sum would.
    x = static_cast<double>(sumX) / static_cast<double>(count);
    y = static_cast<double>(sumY) / static_cast<double>(count);
    return 0;
}

namespace {

// Bits for one word of up to 64 pixels p[0, n): bit i of nonzero is
// p[i] != 0, bit i of same is p[i] == p[i - 1] (bit 0 compares with
// before, the previous pixel of the row). Bits from n on are 0.
void WordMasksPlain(const uint8_t* p, int n, uint8_t before, uint64_t& nonzero, uint64_t& same)
{
    nonzero = same = 0;
    uint8_t last = before;
    for (int i = 0; i < n; ++i) {
        nonzero |= static_cast<uint64_t>(p[i] != 0) << i;
        same |= static_cast<uint64_t>(p[i] == last) << i;
        last = p[i];
    }
}

inline void WordMasks(const uint8_t* p, int n, uint8_t before, uint64_t& nonzero, uint64_t& same)
{
#if defined(__SSE2__)
    if (n < 64 || ActiveIsa() == IsaLevel::Scalar) {
        WordMasksPlain(p, n, before, nonzero, same);
        return;
    }
    const __m128i zero = _mm_setzero_si128();
    nonzero = same = 0;
    __m128i prev = _mm_slli_si128(_mm_cvtsi32_si128(before), 15);  // before in the top byte
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        // v shifted up one byte, with the byte before it at the bottom.
        const __m128i shifted = _mm_or_si128(_mm_slli_si128(v, 1), _mm_srli_si128(prev, 15));
        nonzero |= static_cast<uint64_t>(static_cast<uint16_t>(~_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))))
                   << (16 * i);
        same |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, shifted))))
                << (16 * i);
        prev = v;
    }
#else
    WordMasksPlain(p, n, before, nonzero, same);
#endif
}

// Statistics of rows [first, last). Labels come in horizontal runs of one
// value, so each run is accounted for at once; the runs are found 64
// pixels at a time from bit masks, like the object runs.
std::array<LabelStatistics, 256> GatherBand(const uint8_t* plane, int stride, FilterRange range, int first, int last)
{
    std::array<LabelStatistics, 256> stats{};
    const int w = range.w;
    auto account = [&](const uint8_t* row, int y, int start, int end) {  // [start, end)
        const uint8_t v = row[start];
        const long long len = end - start;
        const int px0 = range.x0 + start;
        const int px1 = range.x0 + end - 1;
        LabelStatistics& s = stats[v];
        if (s.area == 0) {
            s.minX = px0;
            s.maxX = px1;
            s.minY = s.maxY = y;
        } else {
            s.minX = std::min(s.minX, px0);
            s.maxX = std::max(s.maxX, px1);
            s.maxY = y;
        }
        s.area += len;
        s.sumX += (static_cast<long long>(px0) + px1) * len / 2;
        s.sumY += static_cast<long long>(y) * len;
    };
    for (int y = first; y < last; ++y) {
        const uint8_t* row = plane + static_cast<size_t>(y) * stride + range.x0;
        bool open = false;  // a run reaches the end of the previous word
        int start = 0;
        uint64_t carry = 0;  // bit 0: the previous word's last pixel is nonzero
        for (int base = 0; base < w; base += 64) {
            const int n = std::min(64, w - base);
            uint64_t nonzero, same;
            WordMasks(row + base, n, base > 0 ? row[base - 1] : 0, nonzero, same);
            // A nonzero pixel equal to a nonzero left neighbour continues its
            // run; every other nonzero pixel starts one; zeros (and the bits
            // past the row's end) end one.
            const uint64_t continues = nonzero & same & ((nonzero << 1) | carry);
            const uint64_t starts = nonzero & ~continues;
            const uint64_t breaks = starts | ~nonzero;
            carry = nonzero >> 63;
            if (open) {
                if (breaks == 0)
                    continue;
                account(row, y, start, base + __builtin_ctzll(breaks));
                open = false;
            }
            for (uint64_t m = starts; m; m &= m - 1) {
                const int t = __builtin_ctzll(m);
                const uint64_t after = t == 63 ? 0 : breaks & (~uint64_t{0} << (t + 1));
                if (after == 0) {
                    open = true;
                    start = base + t;
                    break;
                }
                account(row, y, base + t, base + __builtin_ctzll(after));
            }
        }
        if (open)
            account(row, y, start, w);
    }
    return stats;
}

}  // namespace

std::array<LabelStatistics, 256> GatherLabelStatistics(const uint8_t* plane, int stride,
                                                       FilterRange range)
{
    std::array<LabelStatistics, 256> stats{};
    if (!RangeUsable(plane, stride, range))
        return stats;
    // Bands gather on their own; counts and sums add and extremes combine
    // the same way in any order.
    std::mutex lock;
    ParallelFor(range.y0, range.y0 + range.h, RowsForBytes(static_cast<size_t>(range.w)), [&](int first, int last) {
        const auto band = GatherBand(plane, stride, range, first, last);
        std::lock_guard<std::mutex> hold(lock);
        for (int v = 1; v < 256; ++v) {
            const LabelStatistics& b = band[v];
            LabelStatistics& s = stats[v];
            if (b.area == 0)
                continue;
            if (s.area == 0) {
                s = b;
                continue;
            }
            s.minX = std::min(s.minX, b.minX);
            s.maxX = std::max(s.maxX, b.maxX);
            s.minY = std::min(s.minY, b.minY);
            s.maxY = std::max(s.maxY, b.maxY);
            s.area += b.area;
            s.sumX += b.sumX;
            s.sumY += b.sumY;
        }
    });
    return stats;
}


const std::array<LabelingColumn, 5> kLabelingColumns = {{
    {"No.", 40},
    {"左上座標", 70},
    {"右下座標", 70},
    {"重心座標", 100},
    {"面積(画素)", 80},
}};

std::vector<LabelingRow> LabelingResultRows(const uint8_t* plane, int stride, FilterRange range,
                                            int count)
{
    std::vector<LabelingRow> rows;
    const int last = std::min(count - 1, 255);
    if (last < 1)
        return rows;
    const auto stats = GatherLabelStatistics(plane, stride, range);
    rows.reserve(static_cast<size_t>(last));
    for (int n = 1; n <= last; ++n) {
        const LabelStatistics& s = stats[n];
        LabelingRow row;
        row.number = n;
        row.area = s.area;
        if (s.area > 0) {
            row.minX = s.minX;
            row.maxX = s.maxX;
            row.minY = s.minY;
            row.maxY = s.maxY;
            row.centroidX = static_cast<double>(s.sumX) / static_cast<double>(s.area);
            row.centroidY = static_cast<double>(s.sumY) / static_cast<double>(s.area);
        } else {
            row.minX = range.x0 + range.w;
            row.maxX = range.x0;
            row.minY = range.y0 + range.h;
            row.maxY = range.y0;
        }
        row.cells[0] = FormatC("%d", n);
        row.cells[1] = FormatC("(%d, %d)", row.minX, row.minY);
        row.cells[2] = FormatC("(%d, %d)", row.maxX, row.maxY);
        row.cells[3] = FormatC("(%.2f, %.2f)", row.centroidX, row.centroidY);
        row.cells[4] = FormatC("%lld", row.area);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<LabelingRow> LabelingResultRows(PlaneBank& bank, int count)
{
    if (bank.empty() || !bank.DestinationPlane())
        return {};
    const FilterRange range = BankRange(bank);
    return LabelingResultRows(bank.DestinationPlane(), bank.width(), range, count);
}

std::string LabelingResultFileBytes(const std::vector<LabelingRow>& rows)
{
    std::string header;
    for (size_t i = 0; i < kLabelingColumns.size(); ++i) {
        if (i)
            header += '\t';
        header += kLabelingColumns[i].title;
    }
    std::string out = Utf8ToCp932(header) + "\r\n";
    for (const LabelingRow& row : rows) {
        for (size_t i = 0; i < row.cells.size(); ++i) {
            if (i)
                out += '\t';
            out += row.cells[i];
        }
        out += "\r\n";
    }
    return out;
}

int WriteLabelingResultFile(const std::string& path, const std::vector<LabelingRow>& rows)
{
    const std::string bytes = LabelingResultFileBytes(rows);
    return WriteFileWhole(path, bytes.data(), bytes.size());
}

}  // namespace lumadrift
