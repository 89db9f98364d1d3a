#include "filters/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/file_io.h"
#include "core/plane_bank.h"
#include "filters/border.h"
#include "reference/fft_ref.h"
#include "support/isa_levels.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using test::TempDir;

::testing::AssertionResult SameBits(const double* actual, const double* expected, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (std::memcmp(&actual[i], &expected[i], sizeof(double)) != 0)
            return ::testing::AssertionFailure()
                   << "first difference at element " << i << ": " << std::hexfloat << actual[i]
                   << " instead of " << expected[i];
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SamePixels(const uint8_t* actual, const std::vector<uint8_t>& expected,
                                      int w)
{
    for (size_t i = 0; i < expected.size(); ++i)
        if (actual[i] != expected[i])
            return ::testing::AssertionFailure()
                   << "first difference at (" << i % w << ", " << i / w << "): "
                   << int(actual[i]) << " instead of " << int(expected[i]);
    return ::testing::AssertionSuccess();
}

// Image-like integers in some lines, arbitrary doubles of both signs in the
// others, so both the exact and the rounding paths of the butterflies run.
std::vector<double> Signal(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pixel(0, 255);
    std::uniform_real_distribution<double> real(-1000.0, 1000.0);
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = (seed % 2) ? pixel(gen) : real(gen);
    return v;
}

std::vector<uint8_t> Picture(int w, int h, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> pixel(0, 255);
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    for (auto& v : p)
        v = static_cast<uint8_t>(pixel(gen));
    return p;
}

// ---- the transform against the plain stage loop -----------------------------------

TEST(FftTwiddles, AnglesGrowByAddingTheRoundedStep)
{
    for (int n : {1, 2, 8, 1024, 4096}) {
        SCOPED_TRACE(n);
        std::vector<double> s(n), c(n);
        MakeTwiddles(n, s.data(), c.data());
        const ref::Twiddles tw = ref::RefTwiddles(n);
        EXPECT_TRUE(SameBits(s.data(), tw.sine.data(), n));
        EXPECT_TRUE(SameBits(c.data(), tw.cosine.data(), n));
    }
    // The step is 6.283185308 / N, not 2 pi / N: half way round the sine is
    // not zero but sin(3.141592654).
    std::vector<double> s(8), c(8);
    MakeTwiddles(8, s.data(), c.data());
    EXPECT_EQ(s[0], 0.0);
    EXPECT_EQ(c[0], 1.0);
    EXPECT_NE(s[4], 0.0);
    EXPECT_NEAR(s[4], -4.1e-10, 1e-11);
}

TEST(FftBitReverse, ElementTakesTheElementAtItsReversedIndex)
{
    std::vector<double> re = {0, 1, 2, 3, 4, 5, 6, 7};
    std::vector<double> im = {10, 11, 12, 13, 14, 15, 16, 17};
    BitReverse(re.data(), im.data(), 8, 3);
    EXPECT_EQ(re, (std::vector<double>{0, 4, 2, 6, 1, 5, 3, 7}));
    EXPECT_EQ(im, (std::vector<double>{10, 14, 12, 16, 11, 15, 13, 17}));
}

class FftLine : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(FftLine, MatchesTheStageLoopBitForBit)
{
    const auto [log2n, direction] = GetParam();
    const int n = 1 << log2n;
    for (unsigned seed : {1u, 2u}) {
        SCOPED_TRACE(seed);
        std::vector<double> re = Signal(n, seed), im = Signal(n, seed + 10);
        std::vector<double> refRe = re, refIm = im;
        const ref::Twiddles tw = ref::RefTwiddles(n);
        ref::RefFft1D(refRe, refIm, tw, direction);

        std::vector<double> s(n), c(n), workRe(n), workIm(n);
        MakeTwiddles(n, s.data(), c.data());
        Fft1D(re.data(), im.data(), workRe.data(), workIm.data(), n, log2n, s.data(), c.data(),
              direction);
        EXPECT_TRUE(SameBits(re.data(), refRe.data(), n));
        EXPECT_TRUE(SameBits(im.data(), refIm.data(), n));
        // The result is left in the work arrays too.
        EXPECT_TRUE(SameBits(workRe.data(), refRe.data(), n));
        EXPECT_TRUE(SameBits(workIm.data(), refIm.data(), n));
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, FftLine,
                         ::testing::Combine(::testing::Values(0, 1, 2, 3, 4, 5, 8, 11),
                                            ::testing::Values(1, -1)));

struct GridCase {
    int nx, ny;
};

class FftGridShapes : public ::testing::TestWithParam<std::tuple<GridCase, int>> {};

// Every instruction set, thread count and grid shape (single lines, blocks
// of sixteen and passes too short for one, odd and even stage counts,
// Nx != Ny) must give exactly the plain row-transpose-row-transpose result.
TEST_P(FftGridShapes, MatchesRowsTransposeRowsBitForBit)
{
    const auto [shape, direction] = GetParam();
    const size_t cells = static_cast<size_t>(shape.nx) * shape.ny;
    const std::vector<double> re0 = Signal(cells, 3), im0 = Signal(cells, 4);
    std::vector<double> refRe = re0, refIm = im0;
    ref::RefFft2D(refRe, refIm, shape.nx, shape.ny, direction);
    for (IsaLevel level : test::kIsaLevels) {
        if (!IsaAvailable(level))
            continue;
        ScopedIsaCap cap(level);
        for (int threads = 1; threads <= 5; ++threads) {
            SCOPED_TRACE(::testing::Message() << IsaName(level) << " (instruction set " << FftInstructionLevel()
                                              << "), " << threads << " threads");
            std::vector<double> re = re0, im = im0;
            ASSERT_EQ(FftGrid(re.data(), im.data(), shape.nx, shape.ny, direction, threads), 0);
            EXPECT_TRUE(SameBits(re.data(), refRe.data(), cells));
            EXPECT_TRUE(SameBits(im.data(), refIm.data(), cells));
        }
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FftGridShapes,
    ::testing::Combine(::testing::Values(GridCase{2, 2}, GridCase{2, 32}, GridCase{32, 2},
                                         GridCase{4, 8}, GridCase{8, 8}, GridCase{16, 64},
                                         GridCase{128, 16}, GridCase{64, 4}),
                       ::testing::Values(1, -1)),
    [](const auto& info) {
        const GridCase g = std::get<0>(info.param);
        return std::to_string(g.nx) + "x" + std::to_string(g.ny) +
               (std::get<1>(info.param) > 0 ? "_forward" : "_inverse");
    });

TEST(FftGrid, RefusesWhatItCannotTransformAndLeavesTheGridAlone)
{
    struct Row {
        const char* what;
        int nx, ny, direction, threads;
    };
    const Row rows[] = {
        {"no thread", 8, 8, 1, 0},       {"six threads", 8, 8, 1, 6},
        {"negative threads", 8, 8, 1, -1}, {"width not a power of two", 12, 8, 1, 1},
        {"height 1", 8, 1, 1, 1},        {"direction 0", 8, 8, 0, 1},
        {"direction 2", 8, 8, 2, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const size_t cells = static_cast<size_t>(r.nx) * r.ny;
        std::vector<double> re = Signal(cells, 5), im = Signal(cells, 6);
        const std::vector<double> re0 = re, im0 = im;
        EXPECT_EQ(FftGrid(re.data(), im.data(), r.nx, r.ny, r.direction, r.threads), -1);
        EXPECT_TRUE(SameBits(re.data(), re0.data(), cells));
        EXPECT_TRUE(SameBits(im.data(), im0.data(), cells));
    }
}

TEST(FftTranspose, EveryCellLandsAcrossTileBorders)
{
    for (auto [len, count] : {std::pair{3, 5}, std::pair{64, 33}, std::pair{1, 40}}) {
        SCOPED_TRACE(::testing::Message() << len << "x" << count);
        const size_t cells = static_cast<size_t>(len) * count;
        std::vector<double> re(cells), im(cells), tre(cells, -1), tim(cells, -1);
        for (size_t i = 0; i < cells; ++i) {
            re[i] = static_cast<double>(i);
            im[i] = -static_cast<double>(i);
        }
        TransposeGrid(re.data(), im.data(), tre.data(), tim.data(), len, count);
        for (int y = 0; y < count; ++y)
            for (int x = 0; x < len; ++x) {
                ASSERT_EQ(tre[x * count + y], y * len + x);
                ASSERT_EQ(tim[x * count + y], -(y * len + x));
            }
    }
}

TEST(FftQuadrants, ZeroFrequencyMovesToTheCentreAndBack)
{
    // 4 x 2: quadrants are 2 x 1.
    std::vector<double> re = {0, 1, 2, 3,  //
                              4, 5, 6, 7};
    std::vector<double> im = re;
    SwapGridQuadrants(re.data(), im.data(), 4, 2);
    EXPECT_EQ(re, (std::vector<double>{6, 7, 4, 5,  //
                                       2, 3, 0, 1}));
    EXPECT_EQ(im, re);
    SwapGridQuadrants(re.data(), im.data(), 4, 2);
    EXPECT_EQ(re, (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7}));
}

// ---- the bank ---------------------------------------------------------------------------

TEST(FftBank, GridIsTheNextPowerOfTwoAtLeastTwo)
{
    struct Row {
        int w, h, nx, ny;
    };
    const Row rows[] = {{640, 480, 1024, 512}, {512, 512, 512, 512}, {1, 1, 2, 2},
                        {1, 7, 2, 8},          {17, 13, 32, 16},     {2, 3, 2, 4},
                        {513, 2, 1024, 2}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.w << "x" << r.h);
        FftBank fft;
        ASSERT_EQ(fft.CreateFftBank(2, r.w, r.h), 0);
        EXPECT_EQ(fft.gridWidth(), r.nx);
        EXPECT_EQ(fft.gridHeight(), r.ny);
        EXPECT_EQ(1 << fft.log2Width(), r.nx);
        EXPECT_EQ(1 << fft.log2Height(), r.ny);
        EXPECT_EQ(fft.slots(), 2);
        EXPECT_EQ(fft.source(), 0);
        EXPECT_EQ(fft.destination(), 0);
        EXPECT_NE(fft.Mask(1), nullptr);
        EXPECT_EQ(fft.Real(2), nullptr);
    }
}

TEST(FftBank, RefusalLeavesThePreviousBankAsItWas)
{
    struct Row {
        const char* what;
        int slots, w, h;
    };
    const Row rows[] = {
        {"six slots", 6, 8, 8},
        {"no slot", 0, 8, 8},
        {"zero width", 2, 0, 8},
        {"negative height", 2, 8, -1},
        {"width past 2^30", 2, (1 << 30) + 1, 2},
        {"more than memory can hold", 2, 1 << 30, 1 << 30},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        FftBank fft;
        ASSERT_EQ(fft.CreateFftBank(2, 5, 3), 0);
        fft.SelectFftSlots(1, 0);
        fft.setRunningMaximum(3.5);
        const double* re = fft.Real(1);
        EXPECT_EQ(fft.CreateFftBank(r.slots, r.w, r.h), -1);
        EXPECT_EQ(fft.gridWidth(), 8);
        EXPECT_EQ(fft.gridHeight(), 4);
        EXPECT_EQ(fft.slots(), 2);
        EXPECT_EQ(fft.source(), 1);
        EXPECT_EQ(fft.runningMaximum(), 3.5);
        EXPECT_EQ(fft.Real(1), re);
    }
}

TEST(FftBank, ReleaseEmptiesEverything)
{
    FftBank fft;
    ASSERT_EQ(fft.CreateFftBank(5, 4, 4), 0);
    fft.SelectFftSlots(3, 4);
    fft.setRunningMaximum(9.0);
    fft.ReleaseFftBank();
    EXPECT_TRUE(fft.empty());
    EXPECT_EQ(fft.gridWidth(), 0);
    EXPECT_EQ(fft.source(), 0);
    EXPECT_EQ(fft.runningMaximum(), 0.0);
    EXPECT_EQ(fft.Real(0), nullptr);
    fft.SelectFftSlots(1, 1);  // ignored while empty
    EXPECT_EQ(fft.source(), 0);
}

// A PlaneBank of five planes holding `picture` in plane 0, with an FftBank
// for it: the state the document sets up before the forward pass.
struct FftFixture {
    PlaneBank planes;
    FftBank fft;
    int w, h;

    FftFixture(int width, int height, const std::vector<uint8_t>& picture) : w(width), h(height)
    {
        EXPECT_EQ(planes.CreatePlaneBank(5, w, h), 0);
        std::memcpy(planes.GetPlane(0), picture.data(), picture.size());
        std::memset(planes.GetPlane(1), 0xEE, picture.size());
        planes.SelectPlanes(0, 1);
        EXPECT_EQ(fft.CreateFftBank(2, w, h), 0);
    }
    int Forward(int threads = 1)
    {
        const int r = RunFftForward(planes, fft, threads);
        fft.SelectFftSlots(0, 1);
        return r;
    }
    int Inverse(int threads = 1) { return RunFftInverse(planes, fft, threads); }
    std::vector<uint8_t> Output() const
    {
        const uint8_t* d = planes.GetPlane(1);
        return {d, d + static_cast<size_t>(w) * h};
    }
    size_t cells() const { return static_cast<size_t>(fft.gridWidth()) * fft.gridHeight(); }
};

TEST(FftInput, PlaneContinuesByMirrorImagesToTheGridEdge)
{
    // 5 x 3 -> 8 x 4: columns 0 1 2 3 4 4 3 2, rows 0 1 2 2.
    std::vector<uint8_t> pic(15);
    for (int i = 0; i < 15; ++i)
        pic[i] = static_cast<uint8_t>(10 * (i / 5) + i % 5);
    FftFixture f(5, 3, pic);
    std::fill(f.fft.Imag(0), f.fft.Imag(0) + f.cells(), 7.0);
    LoadFftInput(f.planes, f.fft);
    const std::vector<double> expected = {
        0,  1,  2,  3,  4,  4,  3,  2,   //
        10, 11, 12, 13, 14, 14, 13, 12,  //
        20, 21, 22, 23, 24, 24, 23, 22,  //
        20, 21, 22, 23, 24, 24, 23, 22,
    };
    EXPECT_EQ(std::vector<double>(f.fft.Real(0), f.fft.Real(0) + 32), expected);
    EXPECT_EQ(std::vector<double>(f.fft.Imag(0), f.fft.Imag(0) + 32), std::vector<double>(32, 0.0));
}

struct BandCase {
    const char* name;
    int w, h;
    double min, max;
    int shape;
};

class FftAllPass : public ::testing::TestWithParam<BandCase> {};

// A band from 0 to 1 passes every frequency, the circle's outer radius
// reaching the grid corners: the round trip gives the picture back.
TEST_P(FftAllPass, RangeComesBackUnchanged)
{
    const BandCase c = GetParam();
    const std::vector<uint8_t> pic = Picture(c.w, c.h, 7);
    FftFixture f(c.w, c.h, pic);
    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, c.min, c.max, c.shape);
    for (size_t i = 0; i < f.cells(); ++i)
        ASSERT_EQ(f.fft.Mask(0)[i], 1.0) << "cell " << i;
    ASSERT_EQ(f.Inverse(), 0);
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(1), pic, c.w));
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(0), pic, c.w));  // source untouched
}

INSTANTIATE_TEST_SUITE_P(Shapes, FftAllPass,
                         ::testing::Values(BandCase{"Square1x1", 1, 1, 0.0, 1.0, 0},
                                           BandCase{"Circle1x1", 1, 1, 0.0, 1.0, 1},
                                           BandCase{"Square1x9", 1, 9, 0.0, 1.0, 0},
                                           BandCase{"Circle9x1", 9, 1, 0.0, 1.0, 1},
                                           BandCase{"Square17x13", 17, 13, 0.0, 1.0, 0},
                                           BandCase{"Circle17x13", 17, 13, 0.0, 1.0, 1},
                                           BandCase{"Circle64x16", 64, 16, 0.0, 1.0, 1},
                                           BandCase{"Square33x40", 33, 40, 0.0, 1.0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

class FftZeroBand : public ::testing::TestWithParam<BandCase> {};

// A square of 0 .. 0 keeps only the zero frequency: every pixel becomes the
// mean over the mirrored grid, which is not the mean of the plane when the
// grid is larger than the plane.
TEST_P(FftZeroBand, RangeBecomesTheMirroredGridMean)
{
    const BandCase c = GetParam();
    std::vector<uint8_t> pic = Picture(c.w, c.h, 11);
    if (c.w == 3 && c.h == 1)
        pic = {0, 0, 255};  // grid 0 0 255 255: mean 127.5 -> 128; the plane's is 85
    FftFixture f(c.w, c.h, pic);
    const int nx = f.fft.gridWidth(), ny = f.fft.gridHeight();
    double sum = 0;
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x)
            sum += pic[FoldIntoRange(y, 0, c.h) * c.w + FoldIntoRange(x, 0, c.w)];
    const uint8_t mean = static_cast<uint8_t>(sum / (nx * ny) + 0.5);

    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, c.min, c.max, c.shape);
    ASSERT_EQ(f.Inverse(), 0);
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(1), std::vector<uint8_t>(pic.size(), mean), c.w));
    if (c.w == 3 && c.h == 1) {
        EXPECT_EQ(mean, 128);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, FftZeroBand,
                         ::testing::Values(BandCase{"Square3x1", 3, 1, 0.0, 0.0, 0},
                                           BandCase{"Square17x13", 17, 13, 0.0, 0.0, 0},
                                           BandCase{"Square16x16", 16, 16, 0.0, 0.0, 0},
                                           BandCase{"Circle5x30", 5, 30, 0.0, 0.0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Masks on a 16 x 8 grid (centre (8, 4)), drawn row by row: '#' passes.
struct MaskCase {
    const char* name;
    double min, max;
    int shape;
    const char* rows[8];
};

class FftMaskShapes : public ::testing::TestWithParam<MaskCase> {};

TEST_P(FftMaskShapes, PassesExactlyTheDrawnCells)
{
    const MaskCase c = GetParam();
    FftFixture f(16, 8, Picture(16, 8, 3));
    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, c.min, c.max, c.shape);
    const double* mask = f.fft.Mask(0);
    const double* sre = f.fft.Real(0);
    const double* sim = f.fft.Imag(0);
    const double* dre = f.fft.Real(1);
    const double* dim = f.fft.Imag(1);
    for (int y = 0; y < 8; ++y) {
        std::string row;
        for (int x = 0; x < 16; ++x) {
            const int i = y * 16 + x;
            const bool pass = mask[i] == 1.0;
            row += pass ? '#' : '.';
            if (pass) {
                EXPECT_EQ(dre[i], sre[i]);
                EXPECT_EQ(dim[i], sim[i]);
            } else {
                EXPECT_EQ(mask[i], 0.0);
                EXPECT_EQ(dre[i], 0.0);
                EXPECT_EQ(dim[i], 0.0);
            }
        }
        EXPECT_EQ(row, c.rows[y]) << "row " << y;
    }
}

// Square 0.25 .. 0.75: outer |dx| <= trunc(6.5) = 6, |dy| <= trunc(3.5) = 3;
// inner |dx| < trunc(2.5) = 2, |dy| < trunc(1.5) = 1.
// Circle 0.25 .. 0.75: outer r^2 <= trunc(3.5^2) + trunc(6.5^2) = 12 + 42,
// which reaches row 0 (dy = 4); inner r^2 < trunc(1.5^2) + trunc(2.5^2) = 2 + 6.
INSTANTIATE_TEST_SUITE_P(
    Bands, FftMaskShapes,
    ::testing::Values(
        MaskCase{"SquareBandPass", 0.25, 0.75, kFftMaskSquare,
                 {"................",
                  "..#############.",
                  "..#############.",
                  "..#############.",
                  "..#####...#####.",
                  "..#############.",
                  "..#############.",
                  "..#############."}},
        // MIN above MAX: the same ring is blocked, everything else passes.
        MaskCase{"SquareBandStop", 0.75, 0.25, kFftMaskSquare,
                 {"################",
                  "##.............#",
                  "##.............#",
                  "##.............#",
                  "##.....###.....#",
                  "##.............#",
                  "##.............#",
                  "##.............#"}},
        MaskCase{"CircleBandPass", 0.25, 0.75, kFftMaskCircle,
                 {"..#############.",
                  "..#############.",
                  ".######...######",
                  ".#####.....#####",
                  ".#####.....#####",
                  ".#####.....#####",
                  ".######...######",
                  "..#############."}},
        MaskCase{"CircleBandStop", 0.75, 0.25, kFftMaskCircle,
                 {"##.............#",
                  "##.............#",
                  "#......###......",
                  "#.....#####.....",
                  "#.....#####.....",
                  "#.....#####.....",
                  "#......###......",
                  "##.............#"}},
        // 0.30 above 0.10: inner |dy| < trunc(0.9) = 0 holds nowhere, so the
        // centre is blocked with the rest of the square.
        MaskCase{"SquareBandStopWithoutInner", 0.3, 0.1, kFftMaskSquare,
                 {"################",
                  "################",
                  "################",
                  "######.....#####",
                  "######.....#####",
                  "######.....#####",
                  "################",
                  "################"}},
        MaskCase{"SquareZeroWidth", 0.0, 0.0, kFftMaskSquare,
                 {"................",
                  "................",
                  "................",
                  "................",
                  "........#.......",
                  "................",
                  "................",
                  "................"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FftMask, UserMaskMultipliesEveryCell)
{
    // A mask of 2 doubles the picture; 200 * 2 is clamped to 255.
    std::vector<uint8_t> pic = Picture(12, 5, 9);
    for (auto& v : pic)
        v = static_cast<uint8_t>(v % 100);
    pic[7] = 200;
    FftFixture f(12, 5, pic);
    ASSERT_EQ(f.Forward(), 0);
    std::fill(f.fft.Mask(0), f.fft.Mask(0) + f.cells(), 2.0);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskUser);
    for (size_t i = 0; i < f.cells(); ++i)
        ASSERT_EQ(f.fft.Mask(0)[i], 2.0);  // the user mask stays as it was
    ASSERT_EQ(f.Inverse(), 0);
    std::vector<uint8_t> expected(pic.size());
    for (size_t i = 0; i < pic.size(); ++i)
        expected[i] = static_cast<uint8_t>(std::min(255, pic[i] * 2));
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(1), expected, 12));
}

TEST(FftThreads, FiveWorkersGiveTheOneWorkerResultOnANonSquareGrid)
{
    for (auto [w, h] : {std::pair{40, 12}, std::pair{9, 70}}) {
        SCOPED_TRACE(::testing::Message() << w << "x" << h);
        const std::vector<uint8_t> pic = Picture(w, h, 21);
        FftFixture one(w, h, pic), five(w, h, pic);
        ASSERT_NE(one.fft.gridWidth(), one.fft.gridHeight());
        ASSERT_EQ(one.Forward(1), 0);
        ASSERT_EQ(five.Forward(5), 0);
        ASSERT_TRUE(SameBits(five.fft.Real(0), one.fft.Real(0), one.cells()));
        ASSERT_TRUE(SameBits(five.fft.Imag(0), one.fft.Imag(0), one.cells()));
        ApplyFftPassBand(one.fft, 0.6, 0.2, kFftMaskCircle);
        ApplyFftPassBand(five.fft, 0.6, 0.2, kFftMaskCircle);
        ASSERT_EQ(one.Inverse(1), 0);
        ASSERT_EQ(five.Inverse(5), 0);
        EXPECT_TRUE(SameBits(five.fft.Real(1), one.fft.Real(1), one.cells()));
        EXPECT_TRUE(SameBits(five.fft.Imag(1), one.fft.Imag(1), one.cells()));
        EXPECT_TRUE(SamePixels(five.planes.GetPlane(1), one.Output(), w));
    }
}

TEST(FftThreads, CountOutsideOneToFiveRefuses)
{
    {
        FftFixture f(8, 8, Picture(8, 8, 1));
        std::fill(f.fft.Real(0), f.fft.Real(0) + f.cells(), 3.0);
        EXPECT_EQ(RunFftForward(f.planes, f.fft, 6), -1);
        EXPECT_EQ(f.fft.Real(0)[0], 3.0);  // not even loaded
        f.fft.SelectFftSlots(0, 1);
        EXPECT_EQ(RunFftInverse(f.planes, f.fft, 0), -1);
        EXPECT_EQ(f.Output(), std::vector<uint8_t>(64, 0xEE));
    }
    FftFixture f(8, 8, Picture(8, 8, 1));
    LoadFftInput(f.planes, f.fft);
    const std::vector<double> before(f.fft.Real(0), f.fft.Real(0) + f.cells());
    for (int threads : {0, 6, -1, 100}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(Fft2DThreaded(f.fft, 1, threads), -1);
        EXPECT_TRUE(SameBits(f.fft.Real(0), before.data(), f.cells()));
    }
    EXPECT_EQ(Fft2D(f.fft, 0), -1);
    FftBank empty;
    EXPECT_EQ(Fft2D(empty, 1), -1);
    EXPECT_EQ(Fft2DThreaded(empty, -1, 2), -1);
}

// ---- the preview ------------------------------------------------------------------------

TEST(FftSpectrum, FlatPictureShowsOnlyTheZeroFrequency)
{
    // 5 x 3 -> grid 8 x 4, window offset (1, 0); the zero frequency at grid
    // (4, 2) is pixel (3, 2). Every other cell holds a tiny rounding residue
    // whose logarithm is negative: it shows as 0, not as a wrapped byte.
    FftFixture f(5, 3, std::vector<uint8_t>(15, 100));
    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskSquare);
    ShowSpectrum(f.planes, f.fft);
    std::vector<uint8_t> expected(15, 0);
    expected[2 * 5 + 3] = 255;
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(1), expected, 5));
    bool negativeSeen = false;
    for (size_t i = 0; i < f.cells(); ++i)
        negativeSeen = negativeSeen || f.fft.Real(1)[i] < 0;
    EXPECT_TRUE(negativeSeen) << "the flat picture no longer exercises negative logarithms";
}

TEST(FftSpectrum, MaximumPersistsUntilTheBankIsReleased)
{
    // 2 x 2 of 255 -> grid 2 x 2, zero frequency 1020 at cell (1, 1),
    // power 1040400, ln 13.855. A user mask of 0.5 quarters the power:
    // ln 12.469, shown as trunc(12.469 * 255 / 13.855 + 0.5) = 229 while the
    // old maximum holds.
    FftFixture f(2, 2, {255, 255, 255, 255});
    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskSquare);
    ShowSpectrum(f.planes, f.fft);
    EXPECT_EQ(f.Output(), (std::vector<uint8_t>{0, 0, 0, 255}));
    EXPECT_NEAR(f.fft.runningMaximum(), std::log(1040400.0), 1e-12);

    std::fill(f.fft.Mask(0), f.fft.Mask(0) + 4, 0.5);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskUser);
    ShowSpectrum(f.planes, f.fft);
    EXPECT_EQ(f.Output(), (std::vector<uint8_t>{0, 0, 0, 229}));

    ASSERT_EQ(f.fft.CreateFftBank(2, 2, 2), 0);
    ASSERT_EQ(f.Forward(), 0);
    std::fill(f.fft.Mask(0), f.fft.Mask(0) + 4, 0.5);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskUser);
    ShowSpectrum(f.planes, f.fft);
    EXPECT_EQ(f.Output(), (std::vector<uint8_t>{0, 0, 0, 255}));
}

TEST(FftSpectrum, EverythingBlockedShowsBlack)
{
    FftFixture f(6, 6, Picture(6, 6, 2));
    ASSERT_EQ(f.Forward(), 0);
    std::fill(f.fft.Mask(0), f.fft.Mask(0) + f.cells(), 0.0);
    ApplyFftPassBand(f.fft, 0.0, 1.0, kFftMaskUser);
    ShowSpectrum(f.planes, f.fft);
    EXPECT_EQ(f.fft.runningMaximum(), 0.0);
    EXPECT_TRUE(SamePixels(f.planes.GetPlane(1), std::vector<uint8_t>(36, 0), 6));
}

TEST(FftOutput, ValuesAreClampedThenRounded)
{
    FftFixture f(8, 1, std::vector<uint8_t>(8, 0));
    f.fft.SelectFftSlots(0, 1);
    const double values[8] = {-3.0, -0.4, 0.49, 0.5, 254.5, 255.7, 1e300, std::nan("")};
    std::copy(values, values + 8, f.fft.Real(1));
    StoreFftOutput(f.planes, f.fft);
    EXPECT_EQ(f.Output(), (std::vector<uint8_t>{0, 0, 0, 1, 255, 255, 255, 0}));
}

TEST(FftBankEntries, EmptyBanksChangeNothing)
{
    const std::vector<uint8_t> pic = Picture(4, 4, 4);
    FftFixture f(4, 4, pic);
    std::fill(f.fft.Real(0), f.fft.Real(0) + f.cells(), 42.0);
    PlaneBank noPlanes;
    LoadFftInput(noPlanes, f.fft);
    EXPECT_EQ(f.fft.Real(0)[5], 42.0);
    ShowSpectrum(noPlanes, f.fft);
    StoreFftOutput(noPlanes, f.fft);

    FftBank noFft;
    LoadFftInput(f.planes, noFft);
    ShowSpectrum(f.planes, noFft);
    StoreFftOutput(f.planes, noFft);
    SwapQuadrants(noFft);
    ApplyFftMask(noFft, 0.0, 1.0, 0, kFftMaskSquare);
    EXPECT_EQ(f.Output(), std::vector<uint8_t>(16, 0xEE));

    // A plane larger than the grid (a bank left from another picture).
    FftBank small;
    ASSERT_EQ(small.CreateFftBank(2, 2, 2), 0);
    small.SelectFftSlots(0, 1);
    StoreFftOutput(f.planes, small);
    ShowSpectrum(f.planes, small);
    EXPECT_EQ(f.Output(), std::vector<uint8_t>(16, 0xEE));

    // A selected slot that does not exist.
    f.fft.SelectFftSlots(0, 3);
    StoreFftOutput(f.planes, f.fft);
    ApplyFftMask(f.fft, 0.0, 1.0, 0, kFftMaskSquare);
    EXPECT_EQ(f.Output(), std::vector<uint8_t>(16, 0xEE));
}

// ---- mask files -----------------------------------------------------------------------------

TEST(FftMaskFile, WrittenBytesAreRoundedValuesWithCommasAndCrLf)
{
    FftBank fft;
    ASSERT_EQ(fft.CreateFftBank(2, 4, 2), 0);
    const double values[8] = {1.0, 0.0, -2.0, 3.6, 0.5, 1.5, 2.5, -0.0};
    std::copy(values, values + 8, fft.Mask(0));
    TempDir dir;
    ASSERT_EQ(WriteMaskFile(fft, dir / "m.msk"), 0);
    EXPECT_EQ(test::ReadText(dir / "m.msk"), "1,0,-2,4\r\n0,2,2,-0\r\n");

    const double large[8] = {1e10, -123456789.0, 7, 0.49999, -0.5, 1e-300, 99.5, 100.5};
    std::copy(large, large + 8, fft.Mask(0));
    ASSERT_EQ(WriteMaskFile(fft, dir / "m.msk"), 0);  // replaces the file
    EXPECT_EQ(test::ReadText(dir / "m.msk"), "10000000000,-123456789,7,0\r\n-0,0,100,100\r\n");
}

TEST(FftMaskFile, SavedSquareBandHoldsOnlyZeroAndOneAndReadsBack)
{
    FftFixture f(30, 20, Picture(30, 20, 8));
    ASSERT_EQ(f.Forward(), 0);
    ApplyFftPassBand(f.fft, 0.2, 0.6, kFftMaskSquare);
    TempDir dir;
    ASSERT_EQ(WriteMaskFile(f.fft, dir / "band.msk"), 0);
    const std::string text = test::ReadText(dir / "band.msk");
    std::string kept;
    for (char ch : text)
        if (ch != '0' && ch != '1' && ch != ',')
            kept += ch;
    std::string crlf;
    for (int i = 0; i < 32; ++i)
        crlf += "\r\n";
    EXPECT_EQ(kept, crlf);  // nothing but 0, 1, commas and 32 CR LF
    EXPECT_NE(text.find('0'), std::string::npos);
    EXPECT_NE(text.find('1'), std::string::npos);

    const std::vector<double> mask(f.fft.Mask(0), f.fft.Mask(0) + f.cells());
    std::fill(f.fft.Mask(0), f.fft.Mask(0) + f.cells(), 5.0);
    ASSERT_EQ(ReadMaskFile(f.fft, dir / "band.msk"), 0);
    EXPECT_TRUE(SameBits(f.fft.Mask(0), mask.data(), f.cells()));
}

struct MaskText {
    const char* name;
    std::string text;
    bool valid;
    std::vector<double> values;  // when valid
};

class FftMaskRead : public ::testing::TestWithParam<MaskText> {};

// All on a 4 x 2 grid: 4 values a line, 2 lines.
TEST_P(FftMaskRead, FollowsTheFormatRules)
{
    const MaskText& c = GetParam();
    FftBank fft;
    ASSERT_EQ(fft.CreateFftBank(2, 4, 2), 0);
    std::fill(fft.Mask(0), fft.Mask(0) + 8, -7.0);
    TempDir dir;
    test::WriteText(dir / "t.msk", c.text);
    const int r = ReadMaskFile(fft, dir / "t.msk");
    const std::vector<double> mask(fft.Mask(0), fft.Mask(0) + 8);
    if (c.valid) {
        EXPECT_EQ(r, 0);
        EXPECT_EQ(mask, c.values);
    } else {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(mask, std::vector<double>(8, -7.0)) << "a refused file left the mask changed";
    }
}

const std::string k255(254, '0');

INSTANTIATE_TEST_SUITE_P(
    Texts, FftMaskRead,
    ::testing::Values(
        MaskText{"CommasCrLf", "1,2,3,4\r\n5,6,7,8\r\n", true, {1, 2, 3, 4, 5, 6, 7, 8}},
        MaskText{"TabsBlanksLoneLfLoneCr", "1\t2 3,4\n5,6\t7 8\r", true, {1, 2, 3, 4, 5, 6, 7, 8}},
        MaskText{"SeparatorBeforeLineEnd", "1,2,3,4,\r\n5,6,7,8,\r\n", true,
                 {1, 2, 3, 4, 5, 6, 7, 8}},
        MaskText{"CommaAndBlankAreTwoSeparators", "1,2, 3\r\n5,6,7,8\r\n", true,
                 {1, 2, 0, 3, 5, 6, 7, 8}},
        MaskText{"EmptyTokensAreZero", "1,,3,4\r\n,,,0\r\n", true, {1, 0, 3, 4, 0, 0, 0, 0}},
        MaskText{"LeadingNumbers", "12x,abc,-1.5e1,.5\r\n+3,1e,0x10,inf\r\n", true,
                 {12, 0, -15, 0.5, 3, 1, 0, 0}},
        MaskText{"TokenOf255Characters", "1,2,3," + k255 + "9\r\n5,6,7,8\r\n", true,
                 {1, 2, 3, 9, 5, 6, 7, 8}},
        MaskText{"TokenRunningToTheEnd", "1,2,3,4\r\n5\r\n6,7,8", true, {1, 2, 3, 4, 5, 6, 7, 8}},
        MaskText{"FirstLineOneValueShort", "1,2,3\r\n5,6,7,8\r\n", false, {}},
        MaskText{"NoLineEndAfterLastLine", "1,2,3,4\r\n5,6,7,8", false, {}},
        MaskText{"BlankLineAtTheEnd", "1,2,3,4\r\n5,6,7,8\r\n\r\n", false, {}},
        MaskText{"OneLineTooFew", "1,2,3,4\r\n", false, {}},
        MaskText{"LfCrIsTwoLineEnds", "1,2,3,4\n\r5,6,7,8\r\n", false, {}},
        MaskText{"SecondLineShort", "1,2,3,4\r\n5,6,7\r\n", false, {}},
        MaskText{"SecondLineLong", "1,2,3,4\r\n5,6,7,8,9\r\n", false, {}},
        MaskText{"TrailingSeparatorsOnlyCountAsEmptyTokens", "1,2,3,4\r\n,,,\r\n", false, {}},
        MaskText{"TokenOf256Characters", "1,2,3," + k255 + "09\r\n5,6,7,8\r\n", false, {}},
        MaskText{"EmptyFile", "", false, {}},
        MaskText{"GridOfAnotherSize", "1,2,3,4,5,6,7,8\r\n1,2,3,4,5,6,7,8\r\n", false, {}},
        MaskText{"BinaryGarbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), false, {}},
        MaskText{"Truncated", "1,2,3,4\r\n5,6", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FftMaskFile, MissingFileOrEmptyBankIsRefused)
{
    TempDir dir;
    FftBank fft;
    ASSERT_EQ(fft.CreateFftBank(2, 2, 2), 0);
    EXPECT_EQ(ReadMaskFile(fft, dir / "missing.msk"), -1);
    EXPECT_EQ(ReadMaskFile(fft, dir.path()), -1);  // a directory
    EXPECT_EQ(WriteMaskFile(fft, dir / "no-such-dir/m.msk"), -1);

    FftBank empty;
    test::WriteText(dir / "ok.msk", "1,2\r\n3,4\r\n");
    EXPECT_EQ(ReadMaskFile(empty, dir / "ok.msk"), -1);
    EXPECT_EQ(WriteMaskFile(empty, dir / "new.msk"), -1);
    EXPECT_FALSE(FileExists(dir / "new.msk"));
}

}  // namespace
}  // namespace lumadrift
