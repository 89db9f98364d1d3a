#include "filters/affine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "reference/affine_ref.h"
#include "reference/first_difference.h"

namespace lumadrift {
namespace {

// A plane with a bright margin around the range: a read outside the range
// would show up in the result.
struct Canvas {
    int stride = 0;
    int height = 0;
    FilterRange range;
    std::vector<uint8_t> px;

    Canvas(int w, int h, int left = 0, int top = 0, int right = 0, int bottom = 0, uint8_t fill = 250)
        : stride(left + w + right), height(top + h + bottom), range{left, top, w, h},
          px(static_cast<size_t>(stride) * height, fill)
    {
    }
    uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * stride + x]; }
};

std::vector<uint8_t> Transform(const Canvas& in, const AffineParams& p)
{
    std::vector<uint8_t> out(in.px.size(), 0x3C);
    AffineTransformKernel(in.px.data(), out.data(), in.stride, in.range, p);
    return out;
}

std::vector<uint8_t> Reference(const Canvas& in, const AffineParams& p)
{
    std::vector<uint8_t> out(in.px.size(), 0x3C);
    ref::AffineTransform(in.px.data(), out.data(), in.stride, in.range, p.angle, p.centerX, p.centerY,
                         p.zoomX, p.zoomY, p.shiftX, p.shiftY);
    return out;
}

struct ParamCase {
    const char* name;
    AffineParams p;
};

const ParamCase kParams[] = {
    {"Defaults", {}},
    {"Identity", {0, 0, 0, 1, 1, 0, 0}},
    {"IdentityOddCentre", {0, 3.7, -1.3, 1, 1, 0, 0}},
    {"ShiftRight", {0, 0, 0, 1, 1, 10, 0}},
    {"ShiftLeftUp", {0, 0, 0, 1, 1, -2.5, -1.25}},
    {"ZoomTwo", {0, 0, 0, 2, 2, 0, 0}},
    {"ZoomThird", {0, 5, 5, 0.3, 0.7, 0, 0}},
    {"NegativeZoom", {0, 4, 3, -1, -1, 0, 0}},
    {"Rotate30", {30, 8, 6, 1, 1, 0, 0}},
    {"Rotate180", {180, 8, 6, 1, 1, 0, 0}},
    {"RotateMinus45Zoom", {-45, 2, 9, 1.5, 0.8, 3, -2}},
    {"ZeroZoomX", {10, 1, 1, 0, 1, 0, 0}},
    {"ZeroZoomY", {10, 1, 1, 1, 0, 0, 0}},
    {"HugeShift", {0, 0, 0, 1, 1, 1e12, -3e15}},
    {"TinyZoom", {0, 0, 0, 1e-300, 1e-300, 0, 0}},
};

class AffineMatchesReference : public ::testing::TestWithParam<ParamCase> {};

TEST_P(AffineMatchesReference, OnEveryShape)
{
    const AffineParams& p = GetParam().p;
    struct Shape {
        int w, h;
    };
    std::vector<Shape> shapes = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {17, 13}, {30, 4}};
    std::mt19937 rng(31);
    for (int i = 0; i < 10; ++i)
        shapes.push_back({1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 40)});
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        Canvas in(s.w, s.h, 3, 2, 1, 2);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                in.at(in.range.x0 + x, in.range.y0 + y) = static_cast<uint8_t>(rng());
        ASSERT_EQ(ref::FirstDifference(Transform(in, p), Reference(in, p), in.stride), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Params, AffineMatchesReference, ::testing::ValuesIn(kParams),
                         [](const auto& info) { return std::string(info.param.name); });

Canvas Ramp(int w, int h)
{
    Canvas c(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            c.at(x, y) = static_cast<uint8_t>(7 * x + 19 * y + 3);
    return c;
}

TEST(Affine, DefaultZoomGivesABlackRange)
{
    const Canvas in = Ramp(6, 5);
    for (uint8_t v : Transform(in, AffineParams{}))
        ASSERT_EQ(v, 0);
}

TEST(Affine, IdentityLeavesTheRangeUnchanged)
{
    const Canvas in = Ramp(9, 7);
    for (double centre : {0.0, 4.0, 2.5, -16.0}) {
        SCOPED_TRACE(centre);
        EXPECT_EQ(ref::FirstDifference(Transform(in, {0, centre, centre, 1, 1, 0, 0}), in.px, in.stride), "");
    }
}

// Column x takes column x - 10; columns 0..8 fall outside; column 9 maps to
// X = -1, which rounds into column 0 with fx = -1: 2 S(0) - S(1), clamped.
TEST(Affine, ShiftByTenColumns)
{
    Canvas in(16, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 16; ++x)
            in.at(x, y) = static_cast<uint8_t>(10 * x + 5 + y);
    in.at(0, 2) = 200;  // 2 * 200 - S(1, 2) = 385: clamped
    in.at(1, 2) = 15;
    const std::vector<uint8_t> out = Transform(in, {0, 0, 0, 1, 1, 10, 0});
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 16; ++x) {
            int want;
            if (x < 9)
                want = 0;
            else if (x == 9)
                want = std::min(255, std::max(0, 2 * in.at(0, y) - in.at(1, y)));
            else
                want = in.at(x - 10, y);
            ASSERT_EQ(out[static_cast<size_t>(y) * in.stride + x], want) << "at (" << x << ", " << y << ")";
        }
    }
    EXPECT_EQ(out[0 * 16 + 9], 0);     // 2 * 5 - 15 < 0
    EXPECT_EQ(out[2 * 16 + 9], 255);   // 385
}

TEST(Affine, ZoomTwoEnlargesAboutTheOrigin)
{
    const Canvas in = Ramp(8, 8);
    const std::vector<uint8_t> out = Transform(in, {0, 0, 0, 2, 2, 0, 0});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(out[static_cast<size_t>(2 * y) * 8 + 2 * x], in.px[static_cast<size_t>(y) * 8 + x])
                << "at (" << x << ", " << y << ")";
}

// Destination x of a 32-wide strip reads X = x / 4. X = 13 / 4 = 3.25 reads
// column 3 with fx = 0.25; X = 15 / 4 = 3.75 rounds to column 4 with
// fx = -0.25, weighting column 4 by 1.25 and column 5 by -0.25.
TEST(Affine, FourSampleWeights)
{
    Canvas in(32, 1);
    const uint8_t row[8] = {0, 0, 0, 100, 200, 40, 0, 96};
    for (int x = 0; x < 32; ++x)
        in.at(x, 0) = x < 8 ? row[x] : 0;
    const std::vector<uint8_t> out = Transform(in, {0, 0, 0, 4, 1, 0, 0});
    struct Case {
        int x;
        int want;
    };
    // 19: X = 4.75 rounds to column 5, 1.25 * 40 - 0.25 * 0.
    for (const Case c : {Case{12, 100}, Case{13, 125}, Case{15, 240}, Case{19, 50}, Case{28, 96}}) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(out[c.x], c.want);
    }
}

// A range 8 wide inside a wider plane: X = 7.25 lies in the last column,
// whose right neighbour is outside the range, so the sample repeats.
TEST(Affine, LastColumnAndRowRepeatTheirSample)
{
    Canvas in(8, 2, 0, 0, 5, 1, 250);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            in.at(x, y) = static_cast<uint8_t>(30 * x + y);
    const std::vector<uint8_t> out = Transform(in, {0, 0, 0, 1, 1, -0.25, -0.25});
    EXPECT_EQ(out[7], 210);                     // 0.75 * 210 + 0.25 * 210, row step inside
    EXPECT_EQ(out[6], 187);                     // 0.75 * 187.5 + 0.25 * 188.5
    EXPECT_EQ(out[static_cast<size_t>(in.stride) + 7], 211);  // last row and column: p00 alone
    EXPECT_EQ(out[8], 0x3C);                    // outside the range: untouched
}

TEST(Affine, BankEntry)
{
    PlaneBank empty;
    AffineTransform(empty, 0, 0, 0, 1, 1, 0, 0);

    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(2, 5, 4), 0);
    for (int i = 0; i < 20; ++i)
        bank.GetPlane(0)[i] = static_cast<uint8_t>(i * 11);
    bank.SelectPlanes(0, 1);
    AffineTransform(bank, 0, 0, 0, 1, 1, 1, 0);
    const uint8_t* d = bank.GetPlane(1);
    EXPECT_EQ(d[0], 0);       // X = -1: 2 * 0 - 11, cut to 0
    EXPECT_EQ(d[2], 11);      // column 1
    EXPECT_EQ(d[5 + 4], 88);  // row 1, column 3
}

}  // namespace
}  // namespace lumadrift
