#include "filters/auto_threshold.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace lumadrift {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A histogram as tests/reference/auto_threshold_expected.py writes it:
// single levels plus triangular bumps (centre, height, slope).
struct Bump {
    int centre;
    int64_t height;
    int64_t slope;
};

struct Shape {
    std::vector<std::pair<int, uint64_t>> levels;
    std::vector<Bump> bumps;
};

GrayHistogram Build(const Shape& s)
{
    GrayHistogram h{};
    for (const auto& [v, c] : s.levels)
        h[v] += c;
    for (const Bump& b : s.bumps)
        for (int v = 0; v < 256; ++v)
            h[v] += static_cast<uint64_t>(std::max<int64_t>(0, b.height - b.slope * std::abs(v - b.centre)));
    return h;
}

std::vector<std::pair<int, uint64_t>> Run(int from, int to, uint64_t count)
{
    std::vector<std::pair<int, uint64_t>> v;
    for (int i = from; i <= to; ++i)
        v.push_back({i, count});
    return v;
}

const std::vector<std::pair<std::string, Shape>>& Shapes()
{
    static const std::vector<std::pair<std::string, Shape>> shapes = {
        {"Empty", {}},
        {"OneLevelAllZero", {{{0, 1000}}, {}}},
        {"OneLevel200", {{{200, 7}}, {}}},
        {"TwoLevelsEqual", {{{50, 100}, {200, 100}}, {}}},
        {"TwoLevelsUnequal", {{{10, 300}, {240, 100}}, {}}},
        {"TwoAdjacentLevels", {{{127, 5}, {128, 7}}, {}}},
        {"FlatFull", {Run(0, 255, 10), {}}},
        {"FlatBand", {Run(100, 150, 3), {}}},
        {"Bimodal", {{}, {{60, 400, 8}, {180, 250, 5}}}},
        {"LongRightTail", {{}, {{40, 1000, 20}, {150, 60, 1}}}},
        {"PeakAtBlack", {{{0, 5000}}, {{128, 100, 1}}}},
        {"ThreeModes", {{}, {{30, 200, 10}, {128, 300, 6}, {220, 150, 5}}}},
        {"BrightObjectOnFloor", {Run(0, 255, 1), {{200, 500, 25}}}},
        {"Sparse", {{{3, 1}, {7, 1}, {250, 1}}, {}}},
        {"ManyPixels", {{{0, 30000001}, {90, 3}, {255, 17}}, {}}},
    };
    return shapes;
}

// Per method: scikit-image's threshold and how many pixels lie above it.
struct Expected {
    const char* name;
    double otsu;
    uint64_t otsuAbove;
    double triangle;
    uint64_t triangleAbove;
    double isodata;
    uint64_t isodataAbove;
    double li;
    uint64_t liAbove;
    double mean;
    uint64_t meanAbove;
};

// Printed by tests/reference/auto_threshold_expected.py and reviewed:
// scikit-image 0.19.3, numpy 1.24.2.
const Expected kExpected[] = {
    {"Empty", kNaN, 0, kNaN, 0, kNaN, 0, kNaN, 0, kNaN, 0},  // no pixels: scikit-image raises or gives NaN; defined NaN
    {"OneLevelAllZero", 0.0, 0, 0.0, 0, 0.0, 0, 0.0, 0, 0.0, 0},  // triangle: raises ValueError, defined 0
    {"OneLevel200", 200.0, 0, 200.0, 0, 200.0, 0, 200.0, 0, 200.0, 0},  // triangle: raises ValueError, defined 200
    {"TwoLevelsEqual", 50.0, 100, 51.0, 100, 125.0, 100, 50.0, 100, 125.0, 100},
    {"TwoLevelsUnequal", 10.0, 100, 11.0, 100, 125.0, 100, 10.0, 100, 67.5, 100},
    {"TwoAdjacentLevels", 127.0, 7, 127.0, 7, 127.0, 7, 127.0, 7, 127.58333333333333, 7},
    {"FlatFull", 127.0, 1280, 1.0, 2540, 127.0, 1280, 101.37688300976379, 1540, 127.5, 1280},
    {"FlatBand", 124.0, 78, 101.0, 147, 124.0, 78, 120.12711490973282, 90, 125.0, 75},
    {"Bimodal", 109.0, 12500, 110.0, 12500, 120.0, 12500, 107.83121072442856, 12524, 106.15384615384616, 12548},
    {"LongRightTail", 95.0, 3585, 90.0, 3600, 95.0, 3585, 51.821744232827804, 18420, 48.25996204933586, 20820},
    {"PeakAtBlack", 72.0, 9010, 1.0, 10000, 72.0, 9010, 0.0, 10000, 85.33333333333333, 8347},
    {"ThreeModes", 101.0, 17844, 178.0, 4500, 98.0, 18240, 71.0814499361921, 19500, 128.93617021276594, 11850},
    {"BrightObjectOnFloor", 133.0, 10122, 180.0, 10075, 132.0, 10123, 113.8485486484219, 10142, 198.19032761310453, 5782},
    {"Sparse", 7.0, 1, 4.0, 2, 127.0, 1, 53.86954578495762, 1, 86.66666666666667, 1},
    {"ManyPixels", 90.0, 17, 1.0, 20, 135.0, 17, 0.0, 20, 0.00015349989255007522, 20},
};

class AutoThresholdTable : public ::testing::TestWithParam<Expected> {};

TEST_P(AutoThresholdTable, MatchesTheReferenceAndItsForeground)
{
    const Expected& e = GetParam();
    const Shape* shape = nullptr;
    for (const auto& [name, s] : Shapes())
        if (name == e.name)
            shape = &s;
    ASSERT_NE(shape, nullptr);
    const GrayHistogram h = Build(*shape);
    const struct {
        AutoThresholdMethod method;
        const char* name;
        double t;
        uint64_t above;
    } methods[] = {
        {AutoThresholdMethod::kOtsu, "otsu", e.otsu, e.otsuAbove},
        {AutoThresholdMethod::kTriangle, "triangle", e.triangle, e.triangleAbove},
        {AutoThresholdMethod::kIsoData, "isodata", e.isodata, e.isodataAbove},
        {AutoThresholdMethod::kLi, "li", e.li, e.liAbove},
        {AutoThresholdMethod::kMean, "mean", e.mean, e.meanAbove},
    };
    for (const auto& m : methods) {
        SCOPED_TRACE(m.name);
        const double t = AutoThreshold(m.method, h);
        const int min = ThresholdToMin(t);
        if (std::isnan(m.t)) {
            EXPECT_TRUE(std::isnan(t));
            EXPECT_EQ(min, -1);
            continue;
        }
        // Li's logarithms may differ from the reference's in the last bits.
        EXPECT_NEAR(t, m.t, 1e-9);
        // The band's lower edge MIN keeps exactly the method's foreground.
        uint64_t above = 0;
        for (int v = min + 1; v < 256; ++v)
            above += h[v];
        EXPECT_EQ(above, m.above) << "MIN " << min;
    }
}

INSTANTIATE_TEST_SUITE_P(Histograms, AutoThresholdTable, ::testing::ValuesIn(kExpected),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AutoThreshold, MinIsTheFloorClampedToTheGrayRange)
{
    const struct { double t; int min; } rows[] = {
        {kNaN, -1}, {-3.5, 0}, {0.0, 0}, {0.999, 0}, {100.0, 100}, {100.7, 100}, {254.99, 254}, {255.0, 255}, {300, 255},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ThresholdToMin(r.t), r.min) << r.t;
}

TEST(AutoThreshold, HistogramCountsOnlyTheRectangle)
{
    // 4 x 3 plane, stride 5; the rectangle is columns 1..2 of rows 1..2.
    const uint8_t plane[] = {9, 9, 9, 9, 0,
                             9, 1, 2, 9, 0,
                             9, 2, 2, 9, 0};
    const GrayHistogram h = HistogramOf(plane, 5, 1, 1, 2, 2);
    EXPECT_EQ(h[1], 1u);
    EXPECT_EQ(h[2], 3u);
    EXPECT_EQ(h[9] + h[0], 0u);
}

}  // namespace
}  // namespace lumadrift
