// libFuzzer target: any bytes as a BMP file. A file that opens must decode
// and survive a save and a second open; read from disk (headers first, then
// the pixels straight into place) it must give the same answer and bytes as
// parsed in memory; nothing may read or write out of bounds (built with
// AddressSanitizer and UBSan by scripts/fuzz).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/bmp.h"
#include "core/file_io.h"

using namespace lumadrift;

namespace {

// Small pictures only: a few bytes of RLE stream may announce a huge one.
constexpr int64_t kMaxPixels = int64_t{1} << 22;

const std::string& ScratchFile()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_bmp." + std::to_string(::getpid()) + ".bmp";
    }();
    static const bool cleanUp = std::atexit([] { ::unlink(ScratchFile().c_str()); }) == 0;
    (void)cleanUp;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadedBmp bmp;
    const BmpError parsed = ParseBmp(data, size, bmp, kMaxPixels);
    LoadedBmp fromFile;
    if (WriteFileWhole(ScratchFile(), data, size) == 0) {
        if (ReadBmp(InputFile(ScratchFile()), kMaxPixels, fromFile) != parsed)
            __builtin_trap();
        if (parsed == BmpError::kNone && BuildColorBmp(fromFile) != BuildColorBmp(bmp))
            __builtin_trap();
    }
    if (parsed != BmpError::kNone)
        return 0;
    const int w = bmp.info.width;
    const int h = bmp.info.height;
    std::vector<uint8_t> r(static_cast<size_t>(w) * h), g(r.size()), b(r.size());
    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                      bmp.colorTable(), 0, 0, w - 1, h - 1);
    const std::vector<uint8_t> saved = BuildColorBmp(bmp);
    LoadedBmp again;
    if (ParseBmp(saved.data(), saved.size(), again, kMaxPixels) != BmpError::kNone)
        __builtin_trap();  // what we write we must read
    return 0;
}
