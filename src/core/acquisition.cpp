#include "core/acquisition.h"

#include <cmath>

namespace lumadrift {

namespace {

constexpr double kPi = 3.141592654;

// The value stored for a non-finite or out-of-range double is undefined in
// C++; these helpers keep truncation defined for every value the hue can
// take with odd base angles.
inline uint8_t StoreClampedDouble(double v)
{
    if (!(v > -9.2e18 && v < 9.2e18))
        return 0;
    return StoreChannelValue(v);
}

// Each loop keeps one pixel's arithmetic in the described order, so the
// compiler may vectorise across pixels without changing any result.
void Brightness(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    for (size_t i = 0; i < n; ++i) {
        const double y = 0.2999 * r[i] + 0.587 * g[i] + 0.114 * b[i];
        out[i] = static_cast<uint8_t>(static_cast<int>(y));
    }
}

void Saturation(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, uint8_t* out)
{
    for (size_t i = 0; i < n; ++i) {
        const double R = r[i], G = g[i], B = b[i];
        const double y = 0.2999 * R + 0.587 * G + 0.114 * B;
        const double u = R - y;
        const double v = B - y;
        out[i] = static_cast<uint8_t>(static_cast<int>(std::sqrt(u * u + v * v)));
    }
}

void Hue(const uint8_t* r, const uint8_t* g, const uint8_t* b, size_t n, double base, uint8_t* out)
{
    // Neighbouring pixels of real pictures often repeat; atan2 dominates.
    int lastKey = -1;
    uint8_t lastValue = 0;
    for (size_t i = 0; i < n; ++i) {
        const int key = (r[i] << 16) | (g[i] << 8) | b[i];
        if (key != lastKey) {
            const BrightnessSplit s = SplitBrightness(r[i], g[i], b[i]);
            lastValue = StoreClampedDouble(HueValue(s.redDifference, s.blueDifference, base));
            lastKey = key;
        }
        out[i] = lastValue;
    }
}

}  // namespace

BrightnessSplit SplitBrightness(double r, double g, double b)
{
    const double y = 0.2999 * r + 0.587 * g + 0.114 * b;
    return {y, r - y, b - y};
}

double HueValue(double u, double v, double baseAngle)
{
    double a = std::atan2(u, v) * 180.0 / kPi;
    if (a < 0)
        a = a + 360.0;
    double d = std::fabs(a - baseAngle);
    if (d > 180.0)
        d = 360.0 - d;
    return 255.0 - d * 255.0 / 180.0;
}

double SaturationValue(double u, double v)
{
    return std::sqrt(u * u + v * v);
}

bool AcquireChannelPixels(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                          size_t count, int channel, bool invert, double baseAngle,
                          uint8_t* gray)
{
    switch (channel) {
    case kChannelRed:
    case kChannelGreen:
    case kChannelBlue: {
        const uint8_t* src = channel == kChannelRed ? red : channel == kChannelGreen ? green : blue;
        if (invert) {
            for (size_t i = 0; i < count; ++i)
                gray[i] = static_cast<uint8_t>(255 - src[i]);
        } else {
            for (size_t i = 0; i < count; ++i)
                gray[i] = src[i];
        }
        return true;
    }
    case kChannelBrightness:
        Brightness(red, green, blue, count, gray);
        return true;
    case kChannelHue:
        Hue(red, green, blue, count, baseAngle, gray);
        return true;
    case kChannelSaturation:
        Saturation(red, green, blue, count, gray);
        return true;
    default:
        return false;
    }
}

}  // namespace lumadrift
