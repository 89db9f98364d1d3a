// Channel acquisition: one channel of a colour rectangle as an 8-bit plane.
//
// Channels: 0 red, 1 green, 2 blue (complemented when invert is set),
// 3 brightness, 4 hue, 5 saturation. For 3..5 every pixel is computed in
// double: Y = 0.2999 R + 0.587 G + 0.114 B, U = R - Y, V = B - Y;
// hue: a = atan2(U, V) * 180 / 3.141592654 (+360 when negative),
// d = |a - base| folded once (360 - d when above 180), value 255 - d*255/180;
// saturation: sqrt(U*U + V*V). The stored byte is the low 8 bits of the
// value truncated toward zero. invert does not apply to 3..5.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumadrift {

enum AcquireChannel : int {
    kChannelRed = 0,
    kChannelGreen = 1,
    kChannelBlue = 2,
    kChannelBrightness = 3,
    kChannelHue = 4,
    kChannelSaturation = 5,
};

// One acquisition: the channel, the inversion of 0..2, the hue's base angle
// and the range of the colour picture it takes (image pixels).
struct AcquireParams {
    int channel = kChannelRed;
    int invert = 0;
    double baseAngle = 0.0;
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct BrightnessSplit {
    double y;
    double redDifference;   // R - Y
    double blueDifference;  // B - Y
};

BrightnessSplit SplitBrightness(double r, double g, double b);
// Hue and saturation values (before truncation) from U = R - Y, V = B - Y.
double HueValue(double u, double v, double baseAngle);
double SaturationValue(double u, double v);

// The stored byte of a computed value: low 8 bits of the truncation.
inline uint8_t StoreChannelValue(double v)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int64_t>(v)));
}

// Fills gray[0..count) from the colour planes. false for an unknown channel
// (nothing written).
bool AcquireChannelPixels(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                          size_t count, int channel, bool invert, double baseAngle,
                          uint8_t* gray);

// Paths: brightness and saturation have a portable loop and an Avx2 one,
// hue a portable loop, an Avx2 one and an Avx512 one (core/isa.h picks).

}  // namespace lumadrift
