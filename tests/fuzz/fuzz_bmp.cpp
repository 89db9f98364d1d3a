// libFuzzer target: any bytes as a BMP file. A file that opens must decode
// and survive a save and a second open; nothing may read or write out of
// bounds (built with AddressSanitizer and UBSan by scripts/fuzz).
#include <cstdint>
#include <vector>

#include "core/bmp.h"

using namespace lumadrift;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadedBmp bmp;
    if (ParseBmp(data, size, bmp) != BmpError::kNone)
        return 0;
    const int w = bmp.info.width;
    const int h = bmp.info.height;
    if (static_cast<long long>(w) * h > (1 << 22))
        return 0;
    std::vector<uint8_t> r(static_cast<size_t>(w) * h), g(r.size()), b(r.size());
    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                      bmp.colorTable(), 0, 0, w - 1, h - 1);
    const std::vector<uint8_t> saved = BuildColorBmp(bmp);
    LoadedBmp again;
    if (ParseBmp(saved.data(), saved.size(), again) != BmpError::kNone)
        __builtin_trap();  // what we write we must read
    return 0;
}
