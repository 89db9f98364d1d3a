#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/acquisition.h"
#include "core/isa.h"

namespace lumadrift {
namespace {

struct PixelCase {
    const char* what;
    uint8_t r, g, b;
    int channel;
    bool invert;
    double base;
    uint8_t expected;
};

class AcquirePixel : public ::testing::TestWithParam<PixelCase> {};

TEST_P(AcquirePixel, StoredByte)
{
    const PixelCase& c = GetParam();
    uint8_t out = 0xAA;
    ASSERT_TRUE(AcquireChannelPixels(&c.r, &c.g, &c.b, 1, c.channel, c.invert, c.base, &out));
    EXPECT_EQ(out, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, AcquirePixel,
    ::testing::Values(
        PixelCase{"red inverted", 200, 10, 10, kChannelRed, true, 0, 55},
        PixelCase{"red", 200, 10, 10, kChannelRed, false, 0, 200},
        PixelCase{"green inverted", 1, 2, 3, kChannelGreen, true, 0, 253},
        PixelCase{"blue", 1, 2, 3, kChannelBlue, false, 0, 3},
        PixelCase{"brightness of white (255.2295)", 255, 255, 255, kChannelBrightness, false, 0, 255},
        PixelCase{"brightness of blue (29.07)", 0, 0, 255, kChannelBrightness, false, 0, 29},
        PixelCase{"brightness ignores invert", 0, 0, 255, kChannelBrightness, true, 0, 29},
        PixelCase{"hue of black: atan2(0, 0) = 0", 0, 0, 0, kChannelHue, false, 0, 255},
        PixelCase{"hue of gray: 225 degrees", 100, 100, 100, kChannelHue, false, 0, 63},
        PixelCase{"saturation of gray", 200, 200, 200, kChannelSaturation, false, 0, 0},
        PixelCase{"saturation of blue", 0, 0, 255, kChannelSaturation, false, 0, 227},
        PixelCase{"saturation of yellow", 255, 255, 0, kChannelSaturation, false, 0, 227}));

TEST(HueFunction, BaseAngleExamples)
{
    // U = 0, V > 0: a = 0.
    EXPECT_EQ(StoreChannelValue(HueValue(0.0, 5.0, 0.0)), 255);
    // U > 0, V = 0: a is 90 less a hair, because the constant is slightly
    // larger than pi: 127.5 truncates to 127, and at base 90 the hair makes
    // it 254.999..., stored as 254.
    EXPECT_EQ(StoreChannelValue(HueValue(5.0, 0.0, 0.0)), 127);
    EXPECT_EQ(StoreChannelValue(HueValue(5.0, 0.0, 90.0)), 254);
    EXPECT_LT(HueValue(5.0, 0.0, 90.0), 255.0);
}

TEST(HueFunction, BaseAngleOutsideTheCircleKeepsTheLowBits)
{
    // a = 0, base 720: d = 720 -> folded to -360; value 255 + 510 = 765.
    const double v = HueValue(0.0, 5.0, 720.0);
    EXPECT_DOUBLE_EQ(v, 765.0);
    EXPECT_EQ(StoreChannelValue(v), 765 & 0xFF);
    // A negative value keeps its two's-complement low bits.
    const double n = HueValue(0.0, 5.0, -400.0);  // d = 400 -> -40 -> 311.67
    EXPECT_EQ(StoreChannelValue(n), static_cast<uint8_t>(static_cast<int>(n)));
    uint8_t r = 0, g = 0, b = 0, out = 0;
    ASSERT_TRUE(AcquireChannelPixels(&r, &g, &b, 1, kChannelHue, false, 1e300, &out));
}

TEST(Acquisition, UnknownChannelWritesNothing)
{
    const uint8_t r = 1, g = 2, b = 3;
    uint8_t out = 0x5A;
    EXPECT_FALSE(AcquireChannelPixels(&r, &g, &b, 1, 6, false, 0, &out));
    EXPECT_FALSE(AcquireChannelPixels(&r, &g, &b, 1, -1, false, 0, &out));
    EXPECT_EQ(out, 0x5A);
}

// Colours through the loops of every instruction-set level against the
// formulas one pixel at a time; the hue loops decide most pixels from a
// table or a polynomial.
class AcquisitionLoops : public ::testing::TestWithParam<IsaLevel> {
protected:
    void SetUp() override
    {
        if (!IsaAvailable(GetParam()))
            GTEST_SKIP() << "this processor does not run " << IsaName(GetParam());
        cap_ = std::make_unique<ScopedIsaCap>(GetParam());
    }
    std::unique_ptr<ScopedIsaCap> cap_;
};

INSTANTIATE_TEST_SUITE_P(EveryLevel, AcquisitionLoops,
                         ::testing::Values(IsaLevel::Scalar, IsaLevel::Sse2, IsaLevel::Avx2, IsaLevel::Avx512),
                         [](const auto& info) { return std::string(IsaName(info.param)); });

TEST_P(AcquisitionLoops, AgreeWithTheFormulas)
{
    std::vector<uint8_t> r, g, b;
    for (int i = 0; i < 70000; ++i) {
        const uint32_t h = static_cast<uint32_t>(i) * 2654435761u;
        r.push_back(static_cast<uint8_t>(h >> 8));
        g.push_back(static_cast<uint8_t>(h >> 16));
        b.push_back(static_cast<uint8_t>(i % 7 == 0 ? r.back() : h >> 24));
        if (i % 5 == 0 && i > 0) {  // runs of equal pixels
            r.back() = r[r.size() - 2];
            g.back() = g[g.size() - 2];
            b.back() = b[b.size() - 2];
        }
    }
    const size_t n = r.size();
    for (int channel = kChannelBrightness; channel <= kChannelSaturation; ++channel) {
        for (double base : {0.0, 90.0, 137.5, 359.0, 720.0, -45.0}) {
            std::vector<uint8_t> out(n);
            ASSERT_TRUE(AcquireChannelPixels(r.data(), g.data(), b.data(), n, channel, false, base,
                                             out.data()));
            for (size_t i = 0; i < n; ++i) {
                const BrightnessSplit s = SplitBrightness(r[i], g[i], b[i]);
                const double v = channel == kChannelBrightness ? s.y
                                 : channel == kChannelHue
                                     ? HueValue(s.redDifference, s.blueDifference, base)
                                     : SaturationValue(s.redDifference, s.blueDifference);
                ASSERT_EQ(out[i], StoreChannelValue(v))
                    << "channel " << channel << " base " << base << " pixel " << i;
            }
        }
    }
}

}  // namespace
}  // namespace lumadrift
