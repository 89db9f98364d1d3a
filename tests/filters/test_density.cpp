#include "filters/density.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/plane_bank.h"
#include "reference/first_difference.h"
#include "support/canvas.h"
#include "support/isa_levels.h"
#include "reference/density_ref.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<2, 3, 3, 1>;

void FillRandom(Canvas& c, uint32_t seed, int levels = 256)
{
    std::mt19937 rng(seed);
    // A few levels spread over the scale make equalization's buckets uneven.
    for (uint8_t& p : c.px)
        p = static_cast<uint8_t>(rng() % levels * (255 / std::max(levels - 1, 1)));
}

std::string FirstDifference(const Canvas& got, const std::vector<uint8_t>& want)
{
    return ref::FirstDifference(got.px, want, got.stride);
}

const char* PathName(TableLookupPath path)
{
    switch (path) {
    case TableLookupPath::kScalar:
        return "scalar";
    case TableLookupPath::kAvx2:
        return "avx2";
    case TableLookupPath::kVbmi:
        return "vbmi";
    }
    return "?";
}

// The instruction-set level whose path a test forces.
IsaLevel LevelOf(TableLookupPath path)
{
    return path == TableLookupPath::kVbmi   ? IsaLevel::Avx512
           : path == TableLookupPath::kAvx2 ? IsaLevel::Avx2
                                            : IsaLevel::Scalar;
}

const TableLookupPath kForcedPaths[] = {TableLookupPath::kScalar, TableLookupPath::kAvx2, TableLookupPath::kVbmi};

// Runs a test with one look-up path forced; a processor without that path
// skips it rather than silently testing another one.
template <typename Param>
class OnPath : public testing::TestWithParam<Param> {
protected:
    virtual TableLookupPath Path() const = 0;
    void SetUp() override
    {
        if (!TableLookupPathAvailable(Path()))
            GTEST_SKIP() << PathName(Path()) << " not available on this processor";
        cap_ = std::make_unique<ScopedIsaCap>(LevelOf(Path()));
        ASSERT_EQ(ActiveTableLookupPath(), Path());
    }
    std::unique_ptr<ScopedIsaCap> cap_;
};

struct Op {
    std::string name;
    void (*fast)(const uint8_t*, uint8_t*, int, FilterRange, double);
    void (*ref)(const uint8_t*, uint8_t*, int, FilterRange, double);
    double value;
};

void EqualizeFast(const uint8_t* s, uint8_t* d, int st, FilterRange r, double) { EqualizeKernel(s, d, st, r); }
void EqualizeRef(const uint8_t* s, uint8_t* d, int st, FilterRange r, double) { ref::Equalize(s, d, st, r); }

std::vector<Op> Ops()
{
    std::vector<Op> ops;
    const double inf = std::numeric_limits<double>::infinity();
    for (double k : {1.0, 2.0, 0.5, 1.26, 0.3, 3.7, -1.0, 0.0, 1e12, inf, -inf,
                     std::numeric_limits<double>::quiet_NaN()})
        ops.push_back({"contrast " + std::to_string(k), ContrastKernel, ref::Contrast, k});
    for (double g : {1.0, 2.0, 0.45, 2.2, 0.1, 7.0, 1e-300, inf})
        ops.push_back({"gamma " + std::to_string(g), GammaKernel, ref::Gamma, g});
    ops.push_back({"equalize", EqualizeFast, EqualizeRef, 0});
    return ops;
}

std::string Compare(const Op& op, const Canvas& src)
{
    Canvas fast = src;
    FillRandom(fast, 99);
    std::vector<uint8_t> want = fast.px;
    op.fast(src.px.data(), fast.px.data(), src.stride, src.range, op.value);
    op.ref(src.px.data(), want.data(), src.stride, src.range, op.value);
    return FirstDifference(fast, want);
}

struct Shape {
    const char* name;
    int w, h;
};

void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class DensityShapes : public OnPath<std::tuple<Shape, TableLookupPath>> {
    TableLookupPath Path() const override { return std::get<1>(GetParam()); }
};

TEST_P(DensityShapes, FastMatchesLiteralLoop)
{
    const Shape s = std::get<0>(GetParam());
    for (const Op& op : Ops()) {
        for (int levels : {256, 2, 7}) {
            SCOPED_TRACE(testing::Message() << op.name << " levels " << levels);
            Canvas src(s.w, s.h);
            FillRandom(src, s.w * 131 + s.h + levels, levels);
            EXPECT_EQ(Compare(op, src), "");
        }
    }
}

// 31, 32, 33 and 63, 64, 65 sit on either side of one 32-byte and one 64-byte
// vector, where a fast path switches from whole vectors to the row's rest.
INSTANTIATE_TEST_SUITE_P(Shapes, DensityShapes,
                         testing::Combine(testing::Values(Shape{"1x1", 1, 1}, Shape{"1x9", 1, 9}, Shape{"9x1", 9, 1},
                                                          Shape{"2x2", 2, 2}, Shape{"17x13", 17, 13},
                                                          Shape{"40x33", 40, 33}, Shape{"31x3", 31, 3},
                                                          Shape{"32x3", 32, 3}, Shape{"33x3", 33, 3},
                                                          Shape{"63x2", 63, 2}, Shape{"64x2", 64, 2},
                                                          Shape{"65x2", 65, 2}, Shape{"130x5", 130, 5}),
                                          testing::ValuesIn(kForcedPaths)),
                         [](const testing::TestParamInfo<std::tuple<Shape, TableLookupPath>>& i) {
                             return std::string("s") + std::get<0>(i.param).name + "_" +
                                    PathName(std::get<1>(i.param));
                         });

class DensityProperty : public OnPath<TableLookupPath> {
    TableLookupPath Path() const override { return GetParam(); }
};

TEST_P(DensityProperty, RandomSizesMatchLiteralLoop)
{
    std::mt19937 rng(4711);
    for (int round = 0; round < 100; ++round) {
        Canvas src(1 + rng() % 150, 1 + rng() % 30, rng() % 3, rng() % 3, rng() % 3, rng() % 3);
        FillRandom(src, rng(), 1 + rng() % 256);
        const double value = std::ldexp(static_cast<double>(rng() % 100000), -14);
        SCOPED_TRACE(testing::Message() << src.range.w << "x" << src.range.h << " value " << value);
        EXPECT_EQ(Compare({"contrast", ContrastKernel, ref::Contrast, value}, src), "");
        if (value > 0) {
            EXPECT_EQ(Compare({"gamma", GammaKernel, ref::Gamma, value}, src), "");
        }
        EXPECT_EQ(Compare({"equalize", EqualizeFast, EqualizeRef, 0}, src), "");
    }
}

// Any table, not just the monotone curves the filters build: a fast path
// that takes an entry from the wrong 16-entry row, the wrong half or the
// neighbouring lane would go unseen with tables whose neighbours are alike.
TEST_P(DensityProperty, AnyTableOverEveryDensityMatchesLiteralLoop)
{
    std::mt19937 rng(2024);
    for (int round = 0; round < 60; ++round) {
        uint8_t table[256];
        for (uint8_t& t : table)
            t = static_cast<uint8_t>(rng());
        // Every density once per row, starting at a different place in each
        // row, so each density lands in every position of a vector.
        const int w = 256 + static_cast<int>(rng() % 80);
        Canvas src(w, 64 + rng() % 4, rng() % 3, rng() % 3, rng() % 3, rng() % 3);
        for (int y = 0; y < src.range.h; ++y)
            for (int x = 0; x < w; ++x)
                src.in(x, y) = static_cast<uint8_t>(x + 5 * y);
        Canvas fast = src;
        FillRandom(fast, rng());
        std::vector<uint8_t> want = fast.px;
        LookupKernel(src.px.data(), fast.px.data(), src.stride, src.range, table);
        ref::Lookup(src.px.data(), want.data(), src.stride, src.range, table);
        SCOPED_TRACE(testing::Message() << "round " << round << " width " << w);
        ASSERT_EQ(FirstDifference(fast, want), "");
    }
}

// One table entry set at a time: the others are 0, so any pixel that
// borrows from another entry shows up as a wrong 0 or a stray 255.
TEST_P(DensityProperty, EachEntryAloneReachesOnlyItsOwnDensity)
{
    Canvas src(256 + 37, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < src.range.w; ++x)
            src.in(x, y) = static_cast<uint8_t>(x + 3 * y);
    for (int k = 0; k < 256; ++k) {
        uint8_t table[256] = {};
        table[k] = 255;
        Canvas out(src.range.w, 2);
        LookupKernel(src.px.data(), out.px.data(), src.stride, src.range, table);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < src.range.w; ++x)
                ASSERT_EQ(out.in(x, y), src.in(x, y) == k ? 255 : 0) << "entry " << k << " at " << x << "," << y;
    }
}

// The document runs filters with the source plane as destination too, and
// a row's last partial vector must not map pixels a second time then.
TEST_P(DensityProperty, InPlaceMatchesLiteralLoop)
{
    std::mt19937 rng(77);
    for (int round = 0; round < 40; ++round) {
        Canvas src(1 + rng() % 140, 1 + rng() % 6, rng() % 3, rng() % 3, rng() % 3, rng() % 3);
        FillRandom(src, rng());
        uint8_t table[256];
        for (uint8_t& t : table)
            t = static_cast<uint8_t>(rng());
        std::vector<uint8_t> want = src.px;
        ref::Lookup(src.px.data(), want.data(), src.stride, src.range, table);
        LookupKernel(src.px.data(), src.px.data(), src.stride, src.range, table);
        SCOPED_TRACE(testing::Message() << "round " << round << " " << src.range.w << "x" << src.range.h);
        ASSERT_EQ(FirstDifference(src, want), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, DensityProperty, testing::ValuesIn(kForcedPaths),
                         [](const testing::TestParamInfo<TableLookupPath>& i) { return PathName(i.param); });

// Each level takes the widest look-up it has; without VBMI the Avx512
// level falls back to the Avx2 look-up, and an uncapped run takes the
// widest of all.
TEST(TableLookupPath, FollowsTheInstructionSetLevel)
{
    const bool vbmi = TableLookupPathAvailable(TableLookupPath::kVbmi);
    const struct {
        IsaLevel level;
        TableLookupPath path;
    } rows[] = {{IsaLevel::Scalar, TableLookupPath::kScalar},
                {IsaLevel::Sse2, TableLookupPath::kScalar},
                {IsaLevel::Avx2, TableLookupPath::kAvx2},
                {IsaLevel::Avx512, vbmi ? TableLookupPath::kVbmi : TableLookupPath::kAvx2}};
    for (const auto& row : rows) {
        if (!IsaAvailable(row.level))
            continue;
        ScopedIsaCap cap(row.level);
        EXPECT_EQ(ActiveTableLookupPath(), row.path) << IsaName(row.level);
    }
    if (vbmi) {
        EXPECT_EQ(ActiveTableLookupPath(), TableLookupPath::kVbmi);
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

// Single densities through contrast and gamma: the worked examples.
TEST(Density, WorkedExamples)
{
    struct Row {
        const char* op;
        double value;
        int in, out;
    };
    const Row rows[] = {
        {"contrast", 1.0, 0, 0},     {"contrast", 1.0, 137, 137}, {"contrast", 1.0, 255, 255},
        {"contrast", 2.0, 100, 200}, {"contrast", 2.0, 200, 255}, {"contrast", 0.5, 3, 2},
        {"contrast", 0.5, 1, 1},     {"contrast", -1.0, 200, 0},  {"contrast", 0.0, 255, 0},
        {"gamma", 1.0, 0, 0},        {"gamma", 1.0, 77, 77},      {"gamma", 1.0, 255, 255},
        {"gamma", 2.0, 64, 127},     {"gamma", 2.0, 0, 0},        {"gamma", 0.5, 255, 255},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.op << " " << row.value << " of " << row.in);
        Canvas c(1, 1), out(1, 1);
        c.in(0, 0) = static_cast<uint8_t>(row.in);
        if (std::string(row.op) == "contrast")
            ContrastKernel(c.px.data(), out.px.data(), c.stride, c.range, row.value);
        else
            GammaKernel(c.px.data(), out.px.data(), c.stride, c.range, row.value);
        EXPECT_EQ(out.in(0, 0), row.out);
    }
}

TEST(Gamma, ZeroNegativeAndNanAreRefusedAndWriteNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double g : {0.0, -0.0, -1.0, -inf, nan}) {
        SCOPED_TRACE(g);
        EXPECT_FALSE(IsGammaAccepted(g));
        Canvas c(3, 2), out(3, 2);
        FillRandom(c, 1);
        FillRandom(out, 2);
        const std::vector<uint8_t> before = out.px;
        GammaKernel(c.px.data(), out.px.data(), c.stride, c.range, g);
        EXPECT_EQ(FirstDifference(out, before), "");
    }
    // The extremes that are accepted keep every entry inside 0..255.
    for (double g : {std::numeric_limits<double>::denorm_min(), 1e-300, inf}) {
        SCOPED_TRACE(g);
        EXPECT_TRUE(IsGammaAccepted(g));
        uint8_t table[256];
        ASSERT_TRUE(GammaTable(g, table));
        EXPECT_EQ(table[255], 255);
    }
}

TEST(Equalize, TwoDensitiesSpreadToTheEndsAndOneDensityBecomesZero)
{
    Canvas two(6, 4), out(6, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            two.in(x, y) = (x + y) % 2 ? 20 : 10;
    EqualizeKernel(two.px.data(), out.px.data(), two.stride, two.range);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(out.in(x, y), (x + y) % 2 ? 255 : 0) << "at " << x << "," << y;

    for (uint8_t level : {0, 77, 255}) {
        SCOPED_TRACE(int(level));
        Canvas one(5, 3), res(5, 3);
        for (uint8_t& p : one.px)
            p = level;
        FillRandom(res, 3);
        EqualizeKernel(one.px.data(), res.px.data(), one.stride, one.range);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(res.in(x, y), 0) << "at " << x << "," << y;
    }
}

TEST(Histogram, CountsOnlyTheRange)
{
    Canvas c(7, 5);
    for (uint8_t& p : c.px)
        p = 9;  // the margin
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            c.in(x, y) = static_cast<uint8_t>(x == 6 ? 255 : y);
    int32_t counts[256];
    std::fill(counts, counts + 256, -5);
    HistogramKernel(c.px.data(), c.stride, c.range, counts);
    int32_t want[256] = {};
    for (int y = 0; y < 5; ++y)
        want[y] = 6;
    want[255] = 5;
    for (int v = 0; v < 256; ++v)
        ASSERT_EQ(counts[v], want[v]) << "density " << v;
}

TEST(DensityBank, EntriesWorkOnTheBankPlanesAndNothingOnAnEmptyBank)
{
    const int w = 9, h = 4;
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(2, w, h), 0);
    for (int i = 0; i < w * h; ++i) {
        bank.GetPlane(0)[i] = static_cast<uint8_t>(i * 7);
        bank.GetPlane(1)[i] = 1;
    }
    bank.SelectPlanes(0, 1);
    int32_t counts[256];
    Histogram(bank, counts);
    EXPECT_EQ(counts[7], 1);
    Contrast(bank, 2.0);
    EXPECT_EQ(bank.GetPlane(1)[1], 14);
    EXPECT_EQ(bank.GetPlane(1)[w * h - 1], 255);
    GammaCorrect(bank, 0.0);  // refused: the contrast result stays
    EXPECT_EQ(bank.GetPlane(1)[1], 14);
    GammaCorrect(bank, 1.0);
    EXPECT_EQ(bank.GetPlane(1)[1], 7);
    Equalize(bank);
    EXPECT_EQ(bank.GetPlane(1)[0], 0);
    EXPECT_EQ(bank.GetPlane(0)[1], 7);

    PlaneBank empty;
    std::fill(counts, counts + 256, 3);
    Histogram(empty, counts);
    EXPECT_EQ(counts[0], 3);
    Contrast(empty, 2.0);
    GammaCorrect(empty, 2.0);
    Equalize(empty);
}

}  // namespace
}  // namespace lumadrift
