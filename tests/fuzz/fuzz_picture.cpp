// libFuzzer target: any bytes as a picture file of any format. A file that
// opens must decode, and its pixels must come back unchanged from a PNG and a
// TIFF save; nothing may read or write out of bounds (built with
// AddressSanitizer and UBSan by scripts/fuzz).
#include <cstdint>
#include <vector>

#include "core/picture_file.h"

using namespace lumadrift;

namespace {

std::vector<uint8_t> Pixels(const LoadedBmp& bmp)
{
    const int w = bmp.info.width;
    const int h = bmp.info.height;
    std::vector<uint8_t> rgb(3 * static_cast<size_t>(w) * h);
    uint8_t* r = rgb.data();
    uint8_t* g = r + static_cast<size_t>(w) * h;
    uint8_t* b = g + static_cast<size_t>(w) * h;
    DecodeDibToPlanes(r, g, b, bmp.pixels(), bmp.pixelBytes(), bmp.info, bmp.colorTable(), 0, 0, w - 1, h - 1);
    return rgb;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Small pictures only: a few header bytes may announce a huge one.
    constexpr int64_t kMaxPixels = int64_t{1} << 20;
    LoadedBmp bmp;
    if (ParsePicture(data, size, bmp, kMaxPixels) != BmpError::kNone)
        return 0;
    const std::vector<uint8_t> pixels = Pixels(bmp);
    for (PictureFormat f : {PictureFormat::kPng, PictureFormat::kTiff}) {
        const std::vector<uint8_t> saved = EncodeLoadedPicture(f, bmp);
        LoadedBmp again;
        if (saved.empty() || ParsePicture(saved.data(), saved.size(), again, kMaxPixels) != BmpError::kNone)
            __builtin_trap();  // what we write we must read
        if (Pixels(again) != pixels)
            __builtin_trap();  // and it must be the same picture
    }
    return 0;
}
