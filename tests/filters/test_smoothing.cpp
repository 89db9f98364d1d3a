#include "filters/smoothing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/plane_bank.h"
#include "reference/first_difference.h"
#include "support/canvas.h"
#include "support/isa_levels.h"
#include "reference/smoothing_ref.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<3, 1, 2, 2>;

enum class Fill { Gray, FewLevels, Binary };

void FillRandom(Canvas& c, Fill fill, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (uint8_t& p : c.px) {
        const uint32_t v = rng();
        switch (fill) {
        case Fill::Gray: p = static_cast<uint8_t>(v); break;
        case Fill::FewLevels: p = static_cast<uint8_t>(v % 4 * 85); break;  // many ties
        case Fill::Binary: p = (v & 7) == 0 ? 255 : 0; break;
        }
    }
}

std::string FirstDifference(const Canvas& got, const std::vector<uint8_t>& want)
{
    return ref::FirstDifference(got.px, want, got.stride);
}

struct Window {
    int x, y;
    int rank;  // -1: moving average
};

std::string Describe(const Window& k)
{
    std::ostringstream out;
    out << k.x << "x" << k.y << (k.rank < 0 ? " average" : " rank ") ;
    if (k.rank >= 0)
        out << k.rank;
    return out.str();
}

std::string Compare(const Window& k, const Canvas& src)
{
    Canvas fast = src;
    FillRandom(fast, Fill::Gray, 77);
    std::vector<uint8_t> want = fast.px;
    if (k.rank < 0) {
        MovingAverageKernel(src.px.data(), fast.px.data(), src.stride, src.range, k.x, k.y);
        ref::MovingAverage(src.px.data(), want.data(), src.stride, src.range, k.x, k.y);
    } else {
        RankFilterKernel(src.px.data(), fast.px.data(), src.stride, src.range, k.x, k.y, k.rank);
        ref::RankFilter(src.px.data(), want.data(), src.stride, src.range, k.x, k.y, k.rank);
    }
    return FirstDifference(fast, want);
}

// Averages cover the 16-bit and 32-bit sums and the doubled and running
// window sums; ranks cover the networks, the column histograms with 8-bit
// and 16-bit counts (windows up to 255 pixels and above) and, on the scalar
// level, the row histogram.
const Window kWindows[] = {
    {1, 1, -1}, {3, 3, -1},  {5, 3, -1},  {3, 7, -1},  {15, 15, -1}, {1, 9, -1},
    {9, 1, -1}, {33, 3, -1}, {35, 35, -1}, {63, 1, -1},
    {1, 1, 0},  {3, 3, 4},   {3, 3, 0},   {3, 3, 8},   {3, 3, 3},    {5, 5, 12},
    {5, 5, 24}, {5, 5, 7},   {5, 3, 6},   {1, 7, 3},   {7, 1, 5},    {11, 11, 60},
    {13, 11, 71}, {41, 3, 0}, {3, 41, 122}, {7, 7, 24}, {15, 15, 112}, {9, 21, 3},
    {17, 17, 144}, {31, 9, 278},
};

struct Shape {
    const char* name;
    int w, h;
};

class SmoothingShapes : public testing::TestWithParam<std::tuple<Shape, IsaLevel>> {};

// Every window on every instruction-set level: the scalar level runs the
// row histogram for every rank, Sse2 the networks and the plain column
// histograms, Avx2 and up the vector column histograms.
TEST_P(SmoothingShapes, FastMatchesLiteralLoop)
{
    const Shape s = std::get<0>(GetParam());
    if (!IsaAvailable(std::get<1>(GetParam())))
        GTEST_SKIP() << "this processor does not run " << IsaName(std::get<1>(GetParam()));
    ScopedIsaCap cap(std::get<1>(GetParam()));
    for (const Window& k : kWindows) {
        for (Fill fill : {Fill::Gray, Fill::FewLevels, Fill::Binary}) {
            SCOPED_TRACE(testing::Message() << Describe(k) << " fill " << int(fill));
            Canvas src(s.w, s.h);
            FillRandom(src, fill, s.w * 1009 + s.h * 17 + k.x + k.y);
            EXPECT_EQ(Compare(k, src), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SmoothingShapes,
                         testing::Combine(testing::Values(Shape{"1x1", 1, 1}, Shape{"1x8", 1, 8}, Shape{"8x1", 8, 1},
                                                          Shape{"2x2", 2, 2}, Shape{"3x2", 3, 2},
                                                          Shape{"17x13", 17, 13}, Shape{"45x6", 45, 6},
                                                          Shape{"71x19", 71, 19}, Shape{"300x7", 300, 7}),
                                          testing::ValuesIn(test::kIsaLevels)),
                         [](const testing::TestParamInfo<std::tuple<Shape, IsaLevel>>& i) {
                             return std::string("s") + std::get<0>(i.param).name + "_" + IsaName(std::get<1>(i.param));
                         });

// The 3 x 3 and 5 x 5 windows have a network of their own for each position.
TEST(SmoothingProperty, EveryRankOfTheCommonWindowsMatchesLiteralLoop)
{
    for (int size : {3, 5}) {
        for (int rank = 0; rank < size * size; ++rank) {
            for (Shape s : {Shape{"1x1", 1, 1}, Shape{"2x2", 2, 2}, Shape{"17x13", 17, 13},
                            Shape{"37x3", 37, 3}}) {
                SCOPED_TRACE(testing::Message() << s.name << " " << size << "x" << size << " rank " << rank);
                Canvas src(s.w, s.h);
                FillRandom(src, Fill::Gray, rank * 31 + size);
                EXPECT_EQ(Compare({size, size, rank}, src), "");
            }
        }
    }
}

TEST(SmoothingProperty, RandomSizesAndWindowsMatchLiteralLoop)
{
    std::mt19937 rng(1234567);
    for (int round = 0; round < 120; ++round) {
        Canvas src(1 + rng() % 40, 1 + rng() % 30, rng() % 3, rng() % 3, rng() % 3, rng() % 3);
        FillRandom(src, static_cast<Fill>(rng() % 3), rng());
        const int x = 1 + 2 * static_cast<int>(rng() % 6);
        const int y = 1 + 2 * static_cast<int>(rng() % 6);
        const int rank = static_cast<int>(rng() % (x * y));
        SCOPED_TRACE(testing::Message() << src.range.w << "x" << src.range.h);
        for (Window k : {Window{x, y, -1}, Window{x, y, rank}, Window{x, y, x * y / 2}}) {
            SCOPED_TRACE(Describe(k));
            EXPECT_EQ(Compare(k, src), "");
        }
    }
}

TEST(Smoothing, WorkedExamples)
{
    // One white pixel in the middle of black.
    Canvas dot(5, 5);
    dot.in(2, 2) = 255;
    struct Row {
        Window k;
        int centre, corner, beside;  // at (2,2), (0,0), (1,2)
    };
    const Row rows[] = {
        {{1, 1, -1}, 255, 0, 0},  // 1 x 1 copies
        {{1, 1, 0}, 255, 0, 0},
        {{3, 3, -1}, 28, 0, 28},  // 255 / 9 = 28.3
        {{3, 3, 4}, 0, 0, 0},     // median removes it
        {{3, 3, 8}, 255, 0, 255}, // highest dilates
        {{3, 3, 0}, 0, 0, 0},     // lowest erodes
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Describe(row.k));
        Canvas out(5, 5);
        if (row.k.rank < 0)
            MovingAverageKernel(dot.px.data(), out.px.data(), dot.stride, dot.range, row.k.x, row.k.y);
        else
            RankFilterKernel(dot.px.data(), out.px.data(), dot.stride, dot.range, row.k.x, row.k.y,
                             row.k.rank);
        EXPECT_EQ(out.in(2, 2), row.centre);
        EXPECT_EQ(out.in(0, 0), row.corner);
        EXPECT_EQ(out.in(1, 2), row.beside);
    }

    // A folded 3 x 3 window at the corner counts the corner four times and
    // its two neighbours twice each: (4 * 90 + 2 * 9 + 2 * 0 + 0) / 9 = 42.
    Canvas corner(4, 4), avg(4, 4);
    corner.in(0, 0) = 90;
    corner.in(1, 0) = 9;
    MovingAverageKernel(corner.px.data(), avg.px.data(), corner.stride, corner.range, 3, 3);
    EXPECT_EQ(avg.in(0, 0), (4 * 90 + 2 * 9) / 9);
}

TEST(KernelRules, EvenSizesRaisedThenCheckedAgainstTheRank)
{
    struct Row {
        int x, y, rank;
        int wantX, wantY;
        KernelCheck sizes, withRank;
    };
    using K = KernelCheck;
    const Row rows[] = {
        {3, 3, 8, 3, 3, K::kOk, K::kOk},
        {3, 3, 9, 3, 3, K::kOk, K::kRankOutOfRange},
        {3, 3, -1, 3, 3, K::kOk, K::kRankOutOfRange},
        {4, 4, 24, 5, 5, K::kOk, K::kOk},  // raised to 5 x 5, so 24 fits
        {3, 3, 24, 3, 3, K::kOk, K::kRankOutOfRange},
        {0, 3, 0, 1, 3, K::kOk, K::kOk},
        {-2, 3, 0, -1, 3, K::kSizeBelowOne, K::kSizeBelowOne},
        {3, -3, 0, 3, -3, K::kSizeBelowOne, K::kSizeBelowOne},
        {1, 1, 0, 1, 1, K::kOk, K::kOk},
        {2901, 2901, 0, 2901, 2901, K::kOk, K::kOk},
        {2903, 2903, 0, 2903, 2903, K::kWindowTooLarge, K::kWindowTooLarge},
        {2147483647, 2147483647, 0, 2147483647, 2147483647, K::kWindowTooLarge, K::kWindowTooLarge},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.x << "x" << row.y << " rank " << row.rank);
        int x = row.x, y = row.y;
        EXPECT_EQ(CheckKernelSizes(x, y), row.sizes);
        EXPECT_EQ(x, row.wantX);
        EXPECT_EQ(y, row.wantY);
        x = row.x;
        y = row.y;
        EXPECT_EQ(CheckRankKernel(x, y, row.rank), row.withRank);
    }
    EXPECT_EQ(RankPosition(kRankLowest, 5, 3, 7), 0);
    EXPECT_EQ(RankPosition(kRankHighest, 5, 3, 7), 14);
    EXPECT_EQ(RankPosition(kRankMedian, 5, 3, 7), 7);
    EXPECT_EQ(RankPosition(kRankSpecified, 5, 3, 9), 9);
}

TEST(KernelRules, RefusedParametersWriteNothing)
{
    Canvas src(6, 5), out(6, 5);
    FillRandom(src, Fill::Gray, 1);
    FillRandom(out, Fill::Gray, 2);
    const std::vector<uint8_t> before = out.px;
    for (Window k : {Window{4, 3, -1}, Window{0, 1, -1}, Window{-1, 3, -1}, Window{3, 3, 9},
                     Window{3, 3, -1 - 100}, Window{2, 3, 0}}) {
        SCOPED_TRACE(Describe(k));
        if (k.rank < -1)
            RankFilterKernel(src.px.data(), out.px.data(), src.stride, src.range, k.x, k.y, -1);
        else if (k.rank < 0)
            MovingAverageKernel(src.px.data(), out.px.data(), src.stride, src.range, k.x, k.y);
        else
            RankFilterKernel(src.px.data(), out.px.data(), src.stride, src.range, k.x, k.y, k.rank);
        EXPECT_EQ(FirstDifference(out, before), "");
    }
}

TEST(SmoothingBank, EntriesMatchTheKernelsOnOneOrTwoPlanes)
{
    const int w = 21, h = 9;
    Canvas src(w, h, 0, 0, 0, 0);
    FillRandom(src, Fill::Gray, 8);
    struct Entry {
        const char* name;
        void (*run)(PlaneBank&);
        Window k;
    };
    const Entry entries[] = {
        {"average", [](PlaneBank& b) { MovingAverage(b, 5, 3); }, {5, 3, -1}},
        {"median", [](PlaneBank& b) { RankFilter(b, 3, 5, 7); }, {3, 5, 7}},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        Canvas want(w, h, 0, 0, 0, 0);
        if (e.k.rank < 0)
            ref::MovingAverage(src.px.data(), want.px.data(), w, src.range, e.k.x, e.k.y);
        else
            ref::RankFilter(src.px.data(), want.px.data(), w, src.range, e.k.x, e.k.y, e.k.rank);
        for (int dst : {1, 0}) {
            SCOPED_TRACE(dst == 0 ? "same plane" : "two planes");
            PlaneBank bank;
            ASSERT_EQ(bank.CreatePlaneBank(2, w, h), 0);
            std::copy(src.px.begin(), src.px.end(), bank.GetPlane(0));
            bank.SelectPlanes(0, dst);
            e.run(bank);
            Canvas got(w, h, 0, 0, 0, 0);
            std::copy(bank.GetPlane(dst), bank.GetPlane(dst) + w * h, got.px.begin());
            EXPECT_EQ(FirstDifference(got, want.px), "");
        }
    }
    PlaneBank empty;
    MovingAverage(empty, 3, 3);
    RankFilter(empty, 3, 3, 4);
}

}  // namespace
}  // namespace lumadrift
