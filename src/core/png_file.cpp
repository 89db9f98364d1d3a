// PNG through libpng. libpng reports errors by longjmp, so each function
// that calls into it keeps everything with a destructor in a record owned by
// its caller and holds nothing but plain values itself.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "core/picture_codecs.h"
#include "core/work_progress.h"

namespace lumadrift::codec {

namespace {

[[noreturn]] void PngFail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void PngQuiet(png_structp, png_const_charp) {}

struct PngRead {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    bool ranOut = false;
    int64_t maxPixels = 0;
    BmpError error = BmpError::kBadPictureData;
    png_structp png = nullptr;
    png_infop info = nullptr;
    LoadedBmp result;
    std::vector<uint8_t> wide;  // 16-bit rows, big-endian as libpng gives them
    std::vector<png_bytep> rows;
};

void PngReadData(png_structp png, png_bytep out, size_t n)
{
    auto* r = static_cast<PngRead*>(png_get_io_ptr(png));
    if (n > r->size - r->pos) {
        r->ranOut = true;
        png_error(png, "truncated");
    }
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

bool DecodePng(PngRead& r)
{
    if (setjmp(png_jmpbuf(r.png)))
        return false;
    png_set_read_fn(r.png, &r, PngReadData);
    png_set_user_limits(r.png, 65535, 65535);
    png_read_info(r.png, r.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0;
    png_get_IHDR(r.png, r.info, &width, &height, &depth, &colorType, nullptr, nullptr, nullptr);
    if (BmpError e = CheckSize(width, height, r.maxPixels); e != BmpError::kNone) {
        r.error = e;
        return false;
    }
    const bool gray = (colorType & PNG_COLOR_MASK_COLOR) == 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(r.png);
    if (gray && depth < 8)
        png_set_expand_gray_1_2_4_to_8(r.png);
    if (colorType & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(r.png);
    if (depth <= 8 && !gray)
        png_set_bgr(r.png);
    const int passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);

    const int channels = gray ? 1 : 3;
    const size_t sampleBytes = depth == 16 ? 2 : 1;
    const size_t w = width;
    // The rows must be exactly what the canonical rows hold; anything else
    // means a transform we did not ask for.
    if (png_get_rowbytes(r.png, r.info) != w * static_cast<size_t>(channels) * sampleBytes)
        return false;
    uint8_t* pixels = StartCanonicalDib(r.result, static_cast<int>(width), static_cast<int>(height),
                                        gray ? 8 : 24);
    const size_t stride = DibStride(static_cast<int>(width), gray ? 8 : 24);
    const size_t wideStride = w * static_cast<size_t>(channels) * 2;
    r.rows.resize(height);
    if (sampleBytes == 2)
        r.wide.resize(wideStride * height);
    for (png_uint_32 y = 0; y < height; ++y)
        r.rows[y] = sampleBytes == 2 ? r.wide.data() + y * wideStride
                                     : pixels + static_cast<size_t>(height - 1 - y) * stride;
    // Row by row (every pass of an interlaced file), telling the window
    // now and then that a big picture is still being read.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y) {
            png_read_row(r.png, r.rows[y], nullptr);
            if ((y & 255) == 255)
                WorkTick();
        }
    png_read_end(r.png, nullptr);
    if (sampleBytes == 2) {
        for (png_uint_32 y = 0; y < height; ++y) {
            const uint8_t* s = r.rows[y];
            uint8_t* d = pixels + static_cast<size_t>(height - 1 - y) * stride;
            for (size_t x = 0; x < w; ++x)
                for (int ch = 0; ch < channels; ++ch, s += 2)
                    d[gray ? x : 3 * x + 2 - static_cast<size_t>(ch)] =
                        ScaleSample((uint32_t{s[0]} << 8) | s[1], 65535);
        }
    }
    return true;
}

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t>* out = nullptr;
    std::vector<png_bytep> rows;
};

void PngWriteData(png_structp png, png_bytep data, size_t n)
{
    auto* w = static_cast<PngWrite*>(png_get_io_ptr(png));
    w->out->insert(w->out->end(), data, data + n);
}

void PngFlush(png_structp) {}

bool EncodePng(PngWrite& w, int width, int height, int channels)
{
    if (setjmp(png_jmpbuf(w.png)))
        return false;
    png_set_write_fn(w.png, &w, PngWriteData, PngFlush);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    png_write_image(w.png, w.rows.data());
    png_write_end(w.png, nullptr);
    return true;
}

}  // namespace

BmpError ReadPng(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out)
{
    PngRead r;
    r.data = data;
    r.size = size;
    r.maxPixels = maxPixels;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
    if (!r.png)
        return BmpError::kTooLarge;
    r.info = png_create_info_struct(r.png);
    const bool ok = r.info && DecodePng(r);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    if (!ok)
        return r.ranOut ? BmpError::kTruncated : r.error;
    out = std::move(r.result);
    return BmpError::kNone;
}

bool WritePng(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out)
{
    PngWrite w;
    w.out = &out;
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(channels);
    for (int y = 0; y < height; ++y)
        w.rows.push_back(const_cast<png_bytep>(pixels + static_cast<size_t>(y) * stride));
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngQuiet);
    if (!w.png)
        return false;
    w.info = png_create_info_struct(w.png);
    const bool ok = w.info && EncodePng(w, width, height, channels);
    png_destroy_write_struct(&w.png, &w.info);
    return ok;
}

}  // namespace lumadrift::codec
