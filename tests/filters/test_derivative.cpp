#include "filters/derivative.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "support/canvas.h"
#include "support/isa_levels.h"
#include "reference/derivative_ref.h"
#include "reference/first_difference.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<2, 3, 3, 1>;

void FillRandom(Canvas& c, std::mt19937& rng)
{
    for (uint8_t& p : c.px)
        p = static_cast<uint8_t>(rng());
}

using Fast = std::function<int(const uint8_t*, uint8_t*, int, FilterRange)>;
using Slow = std::function<void(const uint8_t*, uint8_t*, int, FilterRange)>;

struct FilterCase {
    std::string name;
    Fast fast;
    Slow slow;
};

FilterCase Gradient(const std::string& name, int size, std::vector<int8_t> a, std::vector<int8_t> b)
{
    return {name,
            [=](const uint8_t* s, uint8_t* d, int st, FilterRange r) {
                return GradientMagnitudeKernel(s, d, st, r, size, a.data(), b.data());
            },
            [=](const uint8_t* s, uint8_t* d, int st, FilterRange r) {
                ref::GradientMagnitude(s, d, st, r, size, a.data(), b.data());
            }};
}

FilterCase Convolution(const std::string& name, int cols, int rows, std::vector<double> k)
{
    return {name,
            [=](const uint8_t* s, uint8_t* d, int st, FilterRange r) {
                return ConvolveKernel(s, d, st, r, cols, rows, k.data());
            },
            [=](const uint8_t* s, uint8_t* d, int st, FilterRange r) { ref::Convolve(s, d, st, r, cols, rows, k.data()); }};
}

std::vector<double> RandomKernel(int n, uint32_t seed, bool integral)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-3.0, 5.0);
    std::vector<double> k(static_cast<size_t>(n));
    for (double& v : k) {
        v = integral ? std::round(u(rng)) : u(rng);
        if (rng() % 5 == 0)
            v = 0.0;
    }
    return k;
}

std::vector<FilterCase> AllFilters()
{
    std::vector<FilterCase> f;
    f.push_back(Gradient("Roberts", 3, {kRobertsA, kRobertsA + 9}, {kRobertsB, kRobertsB + 9}));
    f.push_back(Gradient("Sobel", 3, {kSobelA, kSobelA + 9}, {kSobelB, kSobelB + 9}));
    f.push_back(Gradient("Prewitt", 3, {kPrewittA, kPrewittA + 9}, {kPrewittB, kPrewittB + 9}));
    // Coefficients too large for 16-bit sums take the 32-bit path, where
    // the sum of squares wraps.
    f.push_back(Gradient("LargeCoefficients", 3, {127, -128, 127, 100, 0, -100, 90, 80, 70},
                         {-128, -128, -128, 0, 0, 0, 127, 127, 127}));
    f.push_back(Gradient("FiveByFive", 5, std::vector<int8_t>(25, 1), std::vector<int8_t>(25, -1)));
    f.push_back(Convolution("Laplacian", 3, 3, {kLaplacianKernel, kLaplacianKernel + 9}));
    f.push_back(Convolution("Smooth", 3, 3, {kSmoothKernel, kSmoothKernel + 9}));
    f.push_back(Convolution("Sharpen", 3, 3, {kSharpenKernel, kSharpenKernel + 9}));
    f.push_back(Convolution("IntegerSumTen", 3, 3, {1, 1, 1, 1, 2, 1, 1, 1, 1}));
    f.push_back(Convolution("IntegerNegativeSum", 3, 3, {0, -1, 0, -1, 2, -1, 0, -1, 0}));
    f.push_back(Convolution("Real3x3", 3, 3, RandomKernel(9, 1, false)));
    f.push_back(Convolution("Real5x5", 5, 5, RandomKernel(25, 2, false)));
    f.push_back(Convolution("Integer5x5", 5, 5, RandomKernel(25, 3, true)));
    f.push_back(Convolution("Wide7x3", 7, 3, RandomKernel(21, 4, false)));
    f.push_back(Convolution("Tall1x9", 1, 9, RandomKernel(9, 5, false)));
    f.push_back(Convolution("Large21x21", 21, 21, RandomKernel(441, 6, false)));
    f.push_back(Convolution("Tiny", 3, 3, {1e-300, -1e-300, 0.1, 0.2, 0.3, 1e-7, 0, 0, -0.0}));
    f.push_back(Convolution("NotANumber", 3, 3, {1, NAN, 1, 1, 1, 1, 1, 1, 1}));
    f.push_back(Convolution("Infinite", 3, 3, {0, 0, 0, 0, INFINITY, 0, 0, 0, -1}));
    return f;
}

struct Shape {
    int w, h;
};

std::vector<Shape> Shapes()
{
    std::vector<Shape> s = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {17, 13}, {2, 40}, {40, 2},
                            {31, 3}, {33, 5}, {64, 4}, {3, 3}, {5, 4}};
    std::mt19937 rng(2024);
    for (int i = 0; i < 12; ++i)
        s.push_back({1 + static_cast<int>(rng() % 70), 1 + static_cast<int>(rng() % 30)});
    return s;
}

class DerivativeMatchesReference : public ::testing::TestWithParam<std::tuple<FilterCase, IsaLevel>> {};

// Every shape, from one pixel up, byte for byte against the per-pixel sums,
// kernels larger than the range included, on every instruction-set level.
TEST_P(DerivativeMatchesReference, OnEveryShape)
{
    const FilterCase& f = std::get<0>(GetParam());
    const IsaLevel level = std::get<1>(GetParam());
    if (!IsaAvailable(level))
        GTEST_SKIP() << "this processor does not run " << IsaName(level);
    ScopedIsaCap cap(level);
    std::mt19937 rng(77);
    for (const Shape& s : Shapes()) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        Canvas in(s.w, s.h);
        FillRandom(in, rng);
        std::vector<uint8_t> got(in.px.size(), 0xA5), want(in.px.size(), 0xA5);
        ASSERT_EQ(f.fast(in.px.data(), got.data(), in.stride, in.range), 0);
        f.slow(in.px.data(), want.data(), in.stride, in.range);
        ASSERT_EQ(ref::FirstDifference(got, want, in.stride), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, DerivativeMatchesReference,
                         ::testing::Combine(::testing::ValuesIn(AllFilters()), ::testing::ValuesIn(test::kIsaLevels)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + IsaName(std::get<1>(info.param));
                         });

// ---- worked examples ----

TEST(Gradient, SobelOnAVerticalStepEdge)
{
    Canvas in(8, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 4; x < 8; ++x)
            in.in(x, y) = 255;
    Canvas out = in;
    SobelKernel(in.px.data(), out.px.data(), in.stride, in.range);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int want = (x == 3 || x == 4) ? 255 : 0;
            ASSERT_EQ(out.in(x, y), want) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(Gradient, RobertsFlatRegionIsZeroUpToTheLastColumnAndRow)
{
    Canvas in(6, 4, 2, 3, 3, 1, 90);
    in.px[0] = 0;  // outside the range: must not be seen
    Canvas out = in;
    RobertsKernel(in.px.data(), out.px.data(), in.stride, in.range);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(out.in(x, y), 0) << "at (" << x << ", " << y << ")";
}

TEST(Gradient, RobertsIsTheDiagonalDifferences)
{
    Canvas in(3, 3);
    const uint8_t v[9] = {10, 20, 30, 40, 50, 60, 70, 80, 95};
    for (int i = 0; i < 9; ++i)
        in.in(i % 3, i / 3) = v[i];
    Canvas out = in;
    RobertsKernel(in.px.data(), out.px.data(), in.stride, in.range);
    // (0,0): sqrt((10-50)^2 + (20-40)^2) = sqrt(2000) = 44.7
    EXPECT_EQ(out.in(0, 0), 44);
    // (2,2) folds onto itself: 0. (1,1): sqrt((50-95)^2 + (60-80)^2) = 49.2
    EXPECT_EQ(out.in(2, 2), 0);
    EXPECT_EQ(out.in(1, 1), 49);
}

struct ConvolutionExample {
    const char* name;
    const double* kernel;
    uint8_t background;
    uint8_t centre;
    uint8_t wantCentre;
    uint8_t wantNeighbour;
    uint8_t wantFar;
};

class FixedConvolution : public ::testing::TestWithParam<ConvolutionExample> {};

TEST_P(FixedConvolution, SinglePixelOnFlatBackground)
{
    const ConvolutionExample& e = GetParam();
    Canvas in(7, 7, 2, 3, 3, 1, e.background);
    in.in(3, 3) = e.centre;
    Canvas out = in;
    ConvolveKernel(in.px.data(), out.px.data(), in.stride, in.range, 3, 3, e.kernel);
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 7; ++x) {
            const int d = std::max(std::abs(x - 3), std::abs(y - 3));
            const int want = d == 0 ? e.wantCentre : d == 1 ? e.wantNeighbour : e.wantFar;
            ASSERT_EQ(out.in(x, y), want) << "at (" << x << ", " << y << ")";
        }
    }
}

const ConvolutionExample kConvolutionExamples[] = {
    {"LaplacianFlat", kLaplacianKernel, 200, 200, 0, 0, 0},
    {"LaplacianHole", kLaplacianKernel, 200, 0, 255, 0, 0},
    {"SmoothFlat", kSmoothKernel, 77, 77, 77, 77, 77},
    {"SharpenFlat", kSharpenKernel, 120, 120, 120, 120, 120},
};

INSTANTIATE_TEST_SUITE_P(Examples, FixedConvolution,
                         ::testing::ValuesIn(kConvolutionExamples),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Convolution, SmoothingSpreadsASpikeBySixteenths)
{
    Canvas in(5, 5);
    in.in(2, 2) = 255;
    Canvas out = in;
    SmoothKernel(in.px.data(), out.px.data(), in.stride, in.range);
    EXPECT_EQ(out.in(2, 2), 63);  // 1020 / 16 = 63.75
    EXPECT_EQ(out.in(1, 2), 31);  // 510 / 16
    EXPECT_EQ(out.in(1, 1), 15);  // 255 / 16
    EXPECT_EQ(out.in(0, 0), 0);
}

TEST(Convolution, AllZeroKernelTurnsTheRangeBlack)
{
    Canvas in(4, 3, 2, 3, 3, 1, 120);
    Canvas out = in;
    const std::vector<double> zeros(9, 0.0);
    ConvolveKernel(in.px.data(), out.px.data(), in.stride, in.range, 3, 3, zeros.data());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(out.in(x, y), 0) << "at (" << x << ", " << y << ")";
}

TEST(Convolution, RefusesEvenOrEmptySizes)
{
    Canvas in(4, 4);
    Canvas out(4, 4, 2, 3, 3, 1, 9);
    const std::vector<double> k(16, 1.0);
    const int8_t g[16] = {};
    struct Sizes {
        int cols, rows;
    };
    for (const Sizes s : {Sizes{2, 3}, Sizes{3, 2}, Sizes{0, 1}, Sizes{1, 0}, Sizes{-3, 3}}) {
        SCOPED_TRACE(testing::Message() << s.cols << "x" << s.rows);
        EXPECT_EQ(ConvolveKernel(in.px.data(), out.px.data(), in.stride, in.range, s.cols, s.rows, k.data()), -1);
    }
    EXPECT_EQ(GradientMagnitudeKernel(in.px.data(), out.px.data(), in.stride, in.range, 4, g, g), -1);
    EXPECT_EQ(GradientMagnitudeKernel(in.px.data(), out.px.data(), in.stride, in.range, 0, g, g), -1);
    for (uint8_t p : out.px)
        ASSERT_EQ(p, 9);
}

TEST(Convolution, BankEntriesMatchTheKernels)
{
    PlaneBank empty;
    Sobel(empty);
    Smooth(empty);
    EXPECT_EQ(Convolve(empty, 3, 3, kSmoothKernel), 0);

    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(3, 9, 6), 0);
    std::mt19937 rng(5);
    for (int i = 0; i < 54; ++i)
        bank.GetPlane(1)[i] = static_cast<uint8_t>(rng());
    bank.SelectPlanes(1, 2);
    const std::vector<uint8_t> src(bank.GetPlane(1), bank.GetPlane(1) + 54);
    std::vector<uint8_t> want(54);
    const std::vector<std::pair<std::function<void(PlaneBank&)>, std::function<void(const uint8_t*, uint8_t*, int, FilterRange)>>> pairs = {
        {Roberts, RobertsKernel}, {Sobel, SobelKernel}, {Prewitt, PrewittKernel},
        {Laplacian, LaplacianKernel}, {Smooth, SmoothKernel}, {Sharpen, SharpenKernel}};
    for (size_t i = 0; i < pairs.size(); ++i) {
        SCOPED_TRACE(i);
        pairs[i].first(bank);
        pairs[i].second(src.data(), want.data(), 9, FilterRange{0, 0, 9, 6});
        const std::vector<uint8_t> got(bank.GetPlane(2), bank.GetPlane(2) + 54);
        EXPECT_EQ(ref::FirstDifference(got, want, 9), "");
    }
}

// ---- kernel files ----

struct KernelFileCase {
    const char* name;
    std::string text;
    int result;
    int cols, rows;               // after widening
    std::vector<double> values;   // after widening
};

const KernelFileCase kKernelFiles[] = {
    {"TwoByTwoWidens", "1,2\r\n3,4\r\n", 0, 3, 3, {1, 1.5, 2, 2, 2.5, 3, 3, 3.5, 4}},
    {"SmoothingWithBlanks", "1 2 1\n2 4 2\n1 2 1\n", 0, 3, 3, {1, 2, 1, 2, 4, 2, 1, 2, 1}},
    {"Tabs", "1\t2\t3\r\n", 0, 3, 1, {1, 2, 3}},
    {"LoneCarriageReturns", "5,6,7\r8,9,10\r-1,-2,-3\r", 0, 3, 3, {5, 6, 7, 8, 9, 10, -1, -2, -3}},
    {"MixedLineEnds", "1\r\n2\n3\r", 0, 1, 3, {1, 2, 3}},
    {"CommaAndBlankAreTwoSeparators", "1, 2\r\n", 0, 3, 1, {1, 0, 2}},
    {"SeparatorBeforeLineEndTakesIt", "1,2,\r\n3,4,\r\n5,6,\r\n", 0, 3, 3, {1, 1.5, 2, 3, 3.5, 4, 5, 5.5, 6}},
    {"ColumnsOnlyWiden", "2,4\r\n6,8\r\n10,12\r\n", 0, 3, 3, {2, 3, 4, 6, 7, 8, 10, 11, 12}},
    {"RowsOnlyWiden", "1,2,3\n5,6,7\n", 0, 3, 3, {1, 2, 3, 3, 4, 5, 5, 6, 7}},
    {"LeadingNumbers", "12x,abc,+1.5e1\n", 0, 3, 1, {12, 0, 15}},
    {"NotNumbersInTheseFiles", "inf,nan,0x10\n", 0, 3, 1, {0, 0, 0}},
    {"EmptyLineIsOneZero", "\r\n", 0, 1, 1, {0}},
    {"DecimalsAndSigns", "-0.25 .5 3.\n", 0, 3, 1, {-0.25, 0.5, 3}},
    {"NoFinalLineEnd", "1,2\r\n3,4", -1, 0, 0, {}},
    {"BlankLineAtTheEnd", "1,2\r\n3,4\r\n\r\n", -1, 0, 0, {}},
    {"ShortSecondRow", "1,2,3\r\n4,5\r\n", -1, 0, 0, {}},
    {"LongSecondRow", "1,2\r\n3,4,5\r\n", -1, 0, 0, {}},
    {"EmptyFile", "", -1, 0, 0, {}},
    {"NoLineEndAtAll", "1 2 3", -1, 0, 0, {}},
    {"Garbage", std::string("\x01\xff\x80zz\0\x02", 7), -1, 0, 0, {}},
    {"GarbageLine", std::string("\x01\xff\x80zz\0\x02\n", 8), 0, 1, 1, {0}},
    {"TrailingJunkAfterTheValues", "1\r\nx", -1, 0, 0, {}},
    {"Token255", std::string(255, '7') + "\n", 0, 1, 1, {std::strtod(std::string(255, '7').c_str(), nullptr)}},
    {"Token256", std::string(256, '7') + "\n", -1, 0, 0, {}},
    {"LongTokenInTheLastRow", "1,2\n" + std::string(300, '0') + "1,3\n", -1, 0, 0, {}},
};

class KernelFiles : public ::testing::TestWithParam<KernelFileCase> {};

TEST_P(KernelFiles, Read)
{
    const KernelFileCase& c = GetParam();
    test::TempDir dir;
    const std::string path = dir / "kernel.knl";
    test::WriteBytes(path, test::Bytes(c.text));
    ConvolutionKernel k;
    k.cols = -5;
    ASSERT_EQ(ReadKernelFile(path, k), c.result);
    if (c.result != 0) {
        EXPECT_EQ(k.cols, -5);  // untouched
        return;
    }
    EXPECT_EQ(k.cols, c.cols);
    EXPECT_EQ(k.rows, c.rows);
    EXPECT_EQ(k.values, c.values);
}

INSTANTIATE_TEST_SUITE_P(Rules, KernelFiles, ::testing::ValuesIn(kKernelFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KernelFile, ShapeCounting)
{
    struct Case {
        std::string text;
        int cols, rows;
    };
    const Case cases[] = {
        {"", 1, 0},
        {"1,2,3", 3, 0},
        {"1,2,3,\r\n", 3, 1},
        {"1,,2\n", 3, 1},
        {"1, 2\r\n", 3, 1},
        {"a\r\n\r\n\n\r", 1, 4},
        {"1 2\r\n3 4 5 6\r\n", 2, 2},  // only the first line fixes the columns
        {",\n", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        int cols = -1, rows = -1;
        CountKernelShape(c.text, cols, rows);
        EXPECT_EQ(cols, c.cols);
        EXPECT_EQ(rows, c.rows);
    }
}

TEST(KernelFile, ParseRefusesImpossibleShapes)
{
    std::vector<double> v;
    EXPECT_EQ(ParseKernelValues("1\n", 0, 1, v), -1);
    EXPECT_EQ(ParseKernelValues("1\n", 1, 0, v), -1);
    EXPECT_EQ(ParseKernelValues("1\n", 100000, 100000, v), -1);
    EXPECT_EQ(ParseKernelValues("1,2\n", 2, 1, v), 0);
    EXPECT_EQ(v, (std::vector<double>{1, 2}));
}

TEST(KernelFile, WidenAveragesInRowOrder)
{
    std::vector<double> v = {0.1, 0.2, 0.7, 1e16};
    int cols = 2, rows = 2;
    WidenKernelToOdd(v, cols, rows);
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[4], (((0.1 + 0.2) + 0.7) + 1e16) / 4);
    std::vector<double> odd = {1, 2, 3};
    cols = 3;
    rows = 1;
    WidenKernelToOdd(odd, cols, rows);
    EXPECT_EQ(odd, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(cols, 3);
}

TEST(KernelFile, MissingFileOrDirectoryIsInvalid)
{
    test::TempDir dir;
    ConvolutionKernel k;
    EXPECT_EQ(ReadKernelFile(dir / "none.knl", k), -1);
    EXPECT_EQ(ReadKernelFile(dir.path(), k), -1);
}

TEST(UserConvolution, KernelPerMode)
{
    test::TempDir dir;
    test::WriteText(dir / "k.knl", "1,2\r\n3,4\r\n");
    const std::vector<double> nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<double> many(25, 0.5);
    struct Case {
        int mode;
        std::vector<double> typed;
        std::string path;
        int result;
        int size;
    };
    const Case cases[] = {
        {3, nine, "", 0, 3},
        {3, many, "", 0, 3},
        {5, many, "", 0, 5},
        {5, nine, "", -1, 0},
        {0, {}, dir / "k.knl", 0, 3},
        {0, nine, dir / "missing.knl", -1, 0},
        {4, many, dir / "k.knl", -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        ConvolutionKernel k;
        ASSERT_EQ(UserConvolutionKernel(c.mode, c.typed, c.path, k), c.result);
        if (c.result == 0) {
            EXPECT_EQ(k.cols, c.size);
            EXPECT_EQ(k.rows, c.size);
            EXPECT_EQ(k.values.size(), static_cast<size_t>(c.size * c.size));
        }
    }
}

}  // namespace
}  // namespace lumadrift
