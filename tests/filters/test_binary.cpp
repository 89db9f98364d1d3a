#include "filters/binary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "reference/first_difference.h"
#include "support/canvas.h"
#include "reference/binary_ref.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<3, 2, 2, 3>;

enum class Fill { Gray, Binary, Sparse };

void FillRandom(Canvas& c, Fill fill, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (uint8_t& p : c.px) {
        const uint32_t v = rng();
        switch (fill) {
        case Fill::Gray: p = static_cast<uint8_t>(v); break;
        case Fill::Binary: p = (v & 3) ? 255 : 0; break;
        case Fill::Sparse: p = (v % 7 == 0) ? 255 : 0; break;
        }
    }
}

std::string FirstDifference(const Canvas& got, const std::vector<uint8_t>& want)
{
    return ref::FirstDifference(got.px, want, got.stride);
}

using Kernel = void (*)(const uint8_t*, uint8_t*, int, FilterRange);

struct Filter {
    const char* name;
    Kernel fast;
    Kernel ref;
};

void BinarizeMid(const uint8_t* s, uint8_t* d, int st, FilterRange r) { BinarizeKernel(s, d, st, r, 60, 190, 0); }
void BinarizeMidRef(const uint8_t* s, uint8_t* d, int st, FilterRange r) { ref::Binarize(s, d, st, r, 60, 190, 0); }
void BinarizeInv(const uint8_t* s, uint8_t* d, int st, FilterRange r) { BinarizeKernel(s, d, st, r, 0, 255, 1); }
void BinarizeInvRef(const uint8_t* s, uint8_t* d, int st, FilterRange r) { ref::Binarize(s, d, st, r, 0, 255, 1); }

const Filter kFilters[] = {
    {"BinarizeMid", BinarizeMid, BinarizeMidRef},
    {"BinarizeInverted", BinarizeInv, BinarizeInvRef},
    {"Dilate", DilateKernel, ref::Dilate},
    {"Erode", ErodeKernel, ref::Erode},
    {"Thin", ThinKernel, ref::Thin},
};

// Runs fast and reference on the same source; the destinations start with
// the same junk so an unwritten or stray pixel differs.
std::string Compare(const Filter& f, const Canvas& src)
{
    Canvas fast = src, want = src;
    FillRandom(fast, Fill::Gray, 99);
    want.px = fast.px;
    f.fast(src.px.data(), fast.px.data(), src.stride, src.range);
    f.ref(src.px.data(), want.px.data(), src.stride, src.range);
    return FirstDifference(fast, want.px);
}

struct Shape {
    const char* name;
    int w, h;
};

const Shape kShapes[] = {
    {"1x1", 1, 1}, {"1x9", 1, 9}, {"9x1", 9, 1}, {"2x2", 2, 2}, {"2x7", 2, 7},
    {"7x2", 7, 2}, {"3x3", 3, 3}, {"17x13", 17, 13}, {"64x41", 64, 41},
};

class BinaryShapes : public testing::TestWithParam<Shape> {};

TEST_P(BinaryShapes, FastMatchesLiteralLoop)
{
    const Shape s = GetParam();
    for (const Filter& f : kFilters) {
        for (Fill fill : {Fill::Gray, Fill::Binary, Fill::Sparse}) {
            for (uint32_t seed = 1; seed <= 3; ++seed) {
                SCOPED_TRACE(testing::Message() << f.name << " fill " << int(fill) << " seed " << seed);
                Canvas src(s.w, s.h);
                FillRandom(src, fill, seed * 7919 + s.w * 31 + s.h);
                EXPECT_EQ(Compare(f, src), "");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BinaryShapes, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& i) { return std::string("s") + i.param.name; });

TEST(BinaryProperty, RandomSizesAndPlacementsMatchLiteralLoop)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 150; ++round) {
        const int w = 1 + static_cast<int>(rng() % 40);
        const int h = 1 + static_cast<int>(rng() % 40);
        Canvas src(w, h, rng() % 4, rng() % 4, rng() % 4, rng() % 4);
        FillRandom(src, static_cast<Fill>(rng() % 3), rng());
        const int low = static_cast<int>(rng() % 300) - 20;
        const int high = static_cast<int>(rng() % 300) - 20;
        const int invert = static_cast<int>(rng() & 1);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " low " << low << " high " << high);
        for (const Filter& f : kFilters) {
            SCOPED_TRACE(f.name);
            EXPECT_EQ(Compare(f, src), "");
        }
        Canvas fast = src, want = src;
        BinarizeKernel(src.px.data(), fast.px.data(), src.stride, src.range, low, high, invert);
        ref::Binarize(src.px.data(), want.px.data(), src.stride, src.range, low, high, invert);
        EXPECT_EQ(FirstDifference(fast, want.px), "");
    }
}

// Every density 0..255 once, through the thresholds the dialog hands over.
struct Band {
    int min, max;
    int firstBand, lastBand;  // densities strictly between; first > last: none
};

TEST(Binarize, BandEdgesAreOutside)
{
    const Band bands[] = {
        {128, 128, 1, 0},    // the defaults: all black
        {0, 255, 1, 254},    // 0 and 255 lie on the edges
        {200, 50, 51, 199},  // given the other way round: a black band
        {100, 101, 1, 0},    // adjacent thresholds leave nothing inside
        {100, 102, 101, 101},
        {5, 4, 1, 0},        // inverted and empty: all white
    };
    for (const Band& b : bands) {
        SCOPED_TRACE(testing::Message() << "MIN " << b.min << " MAX " << b.max);
        Canvas c(16, 16), out(16, 16);
        for (int v = 0; v < 256; ++v)
            c.in(v % 16, v / 16) = static_cast<uint8_t>(v);
        const int low = b.min > b.max ? b.max : b.min;
        const int high = b.min > b.max ? b.min : b.max;
        BinarizeKernel(c.px.data(), out.px.data(), c.stride, c.range, low, high, b.min > b.max);
        for (int v = 0; v < 256; ++v) {
            const bool band = v >= b.firstBand && v <= b.lastBand;
            const int want = (band != (b.min > b.max)) ? 255 : 0;
            ASSERT_EQ(out.in(v % 16, v / 16), want) << "density " << v;
        }
    }
}

TEST(Dilate, SinglePixelGrowsToASquareCutAtTheBorder)
{
    struct Case { int x, y; };
    for (Case k : {Case{3, 3}, Case{0, 0}, Case{6, 4}, Case{0, 2}}) {
        SCOPED_TRACE(testing::Message() << "pixel at " << k.x << "," << k.y);
        Canvas c(7, 5), out(7, 5);
        c.in(k.x, k.y) = 255;
        DilateKernel(c.px.data(), out.px.data(), c.stride, c.range);
        for (int y = -c.range.y0; y < c.height - c.range.y0; ++y) {
            for (int x = -c.range.x0; x < c.stride - c.range.x0; ++x) {
                const bool inRange = x >= 0 && y >= 0 && x < 7 && y < 5;
                const bool near = std::abs(x - k.x) <= 1 && std::abs(y - k.y) <= 1;
                ASSERT_EQ(out.in(x, y), inRange && near ? 255 : 0) << "at " << x << "," << y;
            }
        }
    }
}

TEST(Morphology, WhiteRangeStaysWhiteAndGrayValuesCombineBitwise)
{
    for (Shape s : {Shape{"1x1", 1, 1}, Shape{"1x5", 1, 5}, Shape{"5x1", 5, 1}, Shape{"4x3", 4, 3}}) {
        SCOPED_TRACE(s.name);
        Canvas c(s.w, s.h), out(s.w, s.h);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                c.in(x, y) = 255;
        ErodeKernel(c.px.data(), out.px.data(), c.stride, c.range);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                ASSERT_EQ(out.in(x, y), 255) << "at " << x << "," << y;
    }
    Canvas c(4, 1), out(4, 1);
    c.in(1, 0) = 1;
    c.in(2, 0) = 2;
    DilateKernel(c.px.data(), out.px.data(), c.stride, c.range);
    EXPECT_EQ(out.in(0, 0), 1);
    EXPECT_EQ(out.in(1, 0), 3);
    EXPECT_EQ(out.in(2, 0), 3);
    EXPECT_EQ(out.in(3, 0), 2);
}

TEST(Thin, KnownShapes)
{
    {
        SCOPED_TRACE("3x10 bar");
        Canvas c(16, 9), out(16, 9);
        for (int y = 3; y < 6; ++y)
            for (int x = 3; x < 13; ++x)
                c.in(x, y) = 255;
        ThinKernel(c.px.data(), out.px.data(), c.stride, c.range);
        int whiteRows = 0, white = 0;
        for (int y = 0; y < 9; ++y) {
            int inRow = 0;
            for (int x = 0; x < 16; ++x)
                inRow += out.in(x, y) == 255;
            whiteRows += inRow > 0;
            white += inRow;
        }
        EXPECT_EQ(whiteRows, 1);
        EXPECT_GE(white, 8);
    }
    {
        SCOPED_TRACE("isolated pixel");
        Canvas c(5, 5), out(5, 5);
        c.in(2, 2) = 255;
        ThinKernel(c.px.data(), out.px.data(), c.stride, c.range);
        EXPECT_EQ(FirstDifference(out, c.px), "");
    }
    {
        SCOPED_TRACE("all black");
        Canvas c(6, 4), out(6, 4);
        ThinKernel(c.px.data(), out.px.data(), c.stride, c.range);
        EXPECT_EQ(FirstDifference(out, c.px), "");
    }
}

TEST(Thin, LeavesOnlyZeroAnd255)
{
    Canvas c(23, 19), out(23, 19);
    FillRandom(c, Fill::Gray, 5);
    ThinKernel(c.px.data(), out.px.data(), c.stride, c.range);
    for (int y = 0; y < 19; ++y)
        for (int x = 0; x < 23; ++x)
            ASSERT_TRUE(out.in(x, y) == 0 || out.in(x, y) == 255) << "at " << x << "," << y;
}

TEST(Thin, PictureOfBlobsMatchesLiteralLoop)
{
    Canvas c(120, 90);
    std::mt19937 rng(7);
    for (int blob = 0; blob < 12; ++blob) {
        const int cx = rng() % 120, cy = rng() % 90, rad = 3 + rng() % 14;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= rad * rad)
                    c.in(x, y) = 255;
    }
    EXPECT_EQ(Compare(kFilters[4], c), "");
}

// The bank entries over whole planes; one plane as both source and
// destination must give what two planes give.
TEST(BinaryBank, EntriesUseTheBankPlanesAndSurviveOnePlaneAsBoth)
{
    struct Entry {
        const char* name;
        void (*run)(PlaneBank&);
        Kernel kernel;
    };
    const Entry entries[] = {
        {"Binarize", [](PlaneBank& b) { Binarize(b, 60, 190, 0); }, BinarizeMid},
        {"Dilate", Dilate, DilateKernel},
        {"Erode", Erode, ErodeKernel},
        {"Thin", Thin, ThinKernel},
    };
    const int w = 13, h = 11;
    Canvas src(w, h, 0, 0, 0, 0);
    FillRandom(src, Fill::Binary, 3);
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.name);
        Canvas want(w, h, 0, 0, 0, 0);
        e.kernel(src.px.data(), want.px.data(), w, src.range);

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
    Binarize(empty, 0, 255, 0);
    Dilate(empty);
    Erode(empty);
    Thin(empty);
}

}  // namespace
}  // namespace lumadrift
