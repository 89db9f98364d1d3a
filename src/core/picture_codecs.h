// The format readers and writers behind core/picture_file.h. Readers fill a
// canonical DIB (StartCanonicalDib) and leave out unchanged on failure;
// writers take rows top first, gray (1 byte) or red, green, blue (3 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/bmp.h"

namespace lumadrift::codec {

BmpError ReadPng(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out);
BmpError ReadTiff(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out);
BmpError ReadJpeg(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out);
BmpError ReadNetpbm(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out);

bool WritePng(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out);
bool WriteTiff(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out);

// kNone when width x height is a picture the limits and maxPixels allow.
inline BmpError CheckSize(int64_t width, int64_t height, int64_t maxPixels)
{
    if (BmpError e = CheckPictureSize(width, height); e != BmpError::kNone)
        return e;
    return width * height > maxPixels ? BmpError::kTooLarge : BmpError::kNone;
}

// A sample of 0..max as 0..255, rounded half up.
inline uint8_t ScaleSample(uint32_t v, uint32_t max)
{
    return static_cast<uint8_t>((uint64_t{v} * 255 + max / 2) / max);
}

}  // namespace lumadrift::codec
