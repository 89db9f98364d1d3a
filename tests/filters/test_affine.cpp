#include "filters/affine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "support/canvas.h"
#include "support/isa_levels.h"
#include "reference/affine_ref.h"
#include "reference/first_difference.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<0, 0, 0, 0, 250>;

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
    // Centres the vector paths cannot vouch for in advance, so each group
    // of lanes is checked on its own; at the range's origin (3, 2) u and v
    // are 0, which makes the Y numerator -0 in the first and the X
    // numerator 1e-300 in the second: those groups divide.
    {"NegativeZeroCentre", {210, -0.0, -0.0, -0.5, -0.25, 3, 2}},
    {"TinyCentre", {-20, 1e-300, 3, 0.7, 1.3, 3, -1}},
};

// The first level whose bytes differ from the reference, or "". Levels
// the processor lacks are left out here; the tests name them at the end.
std::string MismatchOnAnyPath(const Canvas& in, const AffineParams& p)
{
    const std::vector<uint8_t> want = Reference(in, p);
    for (IsaLevel level : test::kIsaLevels) {
        if (!IsaAvailable(level))
            continue;
        ScopedIsaCap cap(level);
        const std::string diff = ref::FirstDifference(Transform(in, p), want, in.stride);
        if (!diff.empty())
            return std::string(IsaName(level)) + ": " + diff;
    }
    return "";
}

class AffineMatchesReference : public ::testing::TestWithParam<ParamCase> {};

TEST_P(AffineMatchesReference, OnEveryShape)
{
    const AffineParams& p = GetParam().p;
    struct Shape {
        int w, h;
    };
    // Wider than one tile too, so tile seams and the edge rules meet.
    std::vector<Shape> shapes = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {17, 13}, {30, 4}, {131, 70}};
    std::mt19937 rng(31);
    for (int i = 0; i < 10; ++i)
        shapes.push_back({1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 40)});
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h);
        Canvas in(s.w, s.h, 3, 2, 1, 2);
        for (int y = 0; y < s.h; ++y)
            for (int x = 0; x < s.w; ++x)
                in.at(in.range.x0 + x, in.range.y0 + y) = static_cast<uint8_t>(rng());
        ASSERT_EQ(MismatchOnAnyPath(in, p), "");
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

INSTANTIATE_TEST_SUITE_P(Params, AffineMatchesReference, ::testing::ValuesIn(kParams),
                         [](const auto& info) { return std::string(info.param.name); });

// Random ranges from 1 x 1 up, parameters drawn around the cases where the
// rounding of J and K or the edge rules are most delicate.
TEST(AffineProperty, EveryPathMatchesReferenceOnRandomParameters)
{
    std::mt19937 rng(2024);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
    auto pick = [&](std::initializer_list<double> v) { return v.begin()[rng() % v.size()]; };
    for (int i = 0; i < 300; ++i) {
        const int side = i % 10 == 0 ? 200 : 40;
        const int w = 1 + static_cast<int>(rng() % side), h = 1 + static_cast<int>(rng() % side);
        Canvas in(w, h, static_cast<int>(rng() % 4), static_cast<int>(rng() % 3), static_cast<int>(rng() % 4),
                  static_cast<int>(rng() % 3));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                in.at(in.range.x0 + x, in.range.y0 + y) = static_cast<uint8_t>(rng());
        AffineParams p;
        p.angle = rng() % 2 ? uniform(-400, 400) : pick({0, 90, 180, -90, 1e-7, 89.99999, 180.00001, 360});
        p.centerX = uniform(-w, 2 * w);
        p.centerY = uniform(-h, 2 * h);
        p.zoomX = rng() % 2 ? uniform(-3, 3) : pick({1, 2, 4, 0.5, 0.25, -1, 1.2, 0.9, 0.3, 7.77, 1e-3});
        p.zoomY = rng() % 2 ? uniform(-3, 3) : pick({1, 2, 4, 0.5, 0.25, -1, 1.2, 0.9, 0.3, 7.77, 1e-3});
        p.shiftX = rng() % 2 ? std::round(uniform(-20, 20)) : uniform(-w, w);
        p.shiftY = rng() % 2 ? std::round(uniform(-20, 20)) : uniform(-h, h);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " angle " << p.angle << " centre " << p.centerX
                                        << "," << p.centerY << " zoom " << p.zoomX << "," << p.zoomY
                                        << " shift " << p.shiftX << "," << p.shiftY);
        ASSERT_EQ(MismatchOnAnyPath(in, p), "");
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The vector paths divide by multiplying with the reciprocal and
// correcting; a single ulp off would rarely change a byte, so the
// quotients themselves are compared. The hardest numerators put n / d
// within 2^-106 / d of a midpoint between two doubles: d M - 2^s N is a
// small odd number for an odd 54-bit M.
TEST(AffineQuotients, EqualTheDivisionBitForBit)
{
    std::mt19937_64 rng(77);
    auto significand = [&] { return (1ULL << 52) | (rng() & ((1ULL << 52) - 1)); };
    std::vector<double> divisors = {1.0, -1.0, 3.0, 0.9, 1.2, -0.7, 0x1.fffffffffffffp0, 0x1p-100, 0x1p100,
                                    1e-200, 1e200, 0.0, -0.0, INFINITY, NAN};
    for (int i = 0; i < 40; ++i)
        divisors.push_back(std::ldexp(static_cast<double>(significand() | 1), -52 + static_cast<int>(rng() % 20) - 10) *
                           (i % 2 ? -1 : 1));
    for (double d : divisors) {
        SCOPED_TRACE(d);
        std::vector<double> n;
        while (n.size() < 2000)
            n.push_back(std::ldexp(static_cast<double>(significand()), -52 + static_cast<int>(rng() % 80) - 40) *
                        (rng() % 2 ? -1 : 1));
        // Each among ordinary neighbours, so that it alone decides how its
        // group of lanes is computed, whether four or eight wide.
        const double unusual[] = {0.0, -0.0, 1e-300, -4e-320, 0x1p-501, 0x1p-500, 0x1p500, 0x1.0000000000001p500,
                                  1e300, INFINITY, -INFINITY, NAN};
        for (size_t k = 0; k < std::size(unusual); ++k)
            n[16 * k + k % 8] = unusual[k];
        // The hard cases need an odd significand D of d.
        const uint64_t D = std::isnormal(d) ? (Bits(d) & ((1ULL << 52) - 1)) | (1ULL << 52) : 0;
        if (D % 2 == 1) {
            uint64_t inverse = D;  // of D modulo 2^64, by Newton steps
            for (int k = 0; k < 6; ++k)
                inverse *= 2 - D * inverse;
            while (n.size() < 4000) {
                const int shift = 53 + static_cast<int>(rng() % 2);
                const int64_t small = 2 * static_cast<int64_t>(rng() % 32) - 31;
                const uint64_t M = (static_cast<uint64_t>(small) * inverse) & ((1ULL << 54) - 1);
                const unsigned __int128 product = static_cast<unsigned __int128>(D) * M;
                const unsigned __int128 N = (product - static_cast<unsigned __int128>(static_cast<__int128>(small))) >> shift;
                if (M < (1ULL << 53) || N < (1ULL << 52) || N >= (1ULL << 53))
                    continue;
                n.push_back(std::ldexp(static_cast<double>(static_cast<uint64_t>(N)), std::ilogb(d) - 52) *
                            (rng() % 2 ? -1 : 1));
            }
        }
        for (IsaLevel level : test::kIsaLevels) {
            if (!IsaAvailable(level))
                continue;
            SCOPED_TRACE(IsaName(level));
            ScopedIsaCap cap(level);
            std::vector<double> q(n.size());
            AffineQuotients(n.data(), d, q.data(), static_cast<int>(n.size()));
            for (size_t i = 0; i < n.size(); ++i) {
                const double want = n[i] / d;
                if (std::isnan(want))
                    ASSERT_TRUE(std::isnan(q[i])) << "n = " << n[i];
                else
                    ASSERT_EQ(Bits(q[i]), Bits(want))
                        << std::hexfloat << "n = " << n[i] << ": " << q[i] << ", want " << want;
            }
        }
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

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
    AffineTransform(empty, AffineParams{0, 0, 0, 1, 1, 0, 0});

    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(2, 5, 4), 0);
    for (int i = 0; i < 20; ++i)
        bank.GetPlane(0)[i] = static_cast<uint8_t>(i * 11);
    bank.SelectPlanes(0, 1);
    AffineTransform(bank, AffineParams{0, 0, 0, 1, 1, 1, 0});
    const uint8_t* d = bank.GetPlane(1);
    EXPECT_EQ(d[0], 0);       // X = -1: 2 * 0 - 11, cut to 0
    EXPECT_EQ(d[2], 11);      // column 1
    EXPECT_EQ(d[5 + 4], 88);  // row 1, column 3
}

}  // namespace
}  // namespace lumadrift
