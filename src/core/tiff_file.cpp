// TIFF through libtiff, on memory buffers. Errors and warnings go to
// handlers given with the open, never to stderr or to process-wide state, so
// batch workers can read at the same time.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "core/picture_codecs.h"
#include "core/work_progress.h"

namespace lumadrift::codec {

namespace {

struct TiffMemory {
    const uint8_t* data = nullptr;       // reading
    std::vector<uint8_t>* out = nullptr; // writing
    uint64_t size = 0;
    uint64_t pos = 0;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<TiffMemory*>(h);
    if (!m->data || n < 0 || m->pos >= m->size)
        return 0;
    const uint64_t k = std::min<uint64_t>(static_cast<uint64_t>(n), m->size - m->pos);
    std::memcpy(buf, m->data + m->pos, static_cast<size_t>(k));
    m->pos += k;
    return static_cast<tmsize_t>(k);
}

tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n)
{
    auto* m = static_cast<TiffMemory*>(h);
    if (!m->out || n < 0)
        return -1;
    const uint64_t end = m->pos + static_cast<uint64_t>(n);
    if (end > m->out->size())
        m->out->resize(static_cast<size_t>(end));
    std::memcpy(m->out->data() + m->pos, buf, static_cast<size_t>(n));
    m->pos = end;
    m->size = std::max(m->size, end);
    return n;
}

toff_t MemSeek(thandle_t h, toff_t off, int whence)
{
    auto* m = static_cast<TiffMemory*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = m->pos;
    else if (whence == SEEK_END)
        base = m->size;
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    // Offsets are unsigned here; libtiff passes negative ones only relative
    // to the end, which never comes before the start of a buffer it wrote.
    const uint64_t pos = base + off;
    if (pos > (uint64_t{1} << 40))
        return static_cast<toff_t>(-1);
    m->pos = pos;
    return pos;
}

int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<TiffMemory*>(h)->size; }
int MemMap(thandle_t, void**, toff_t*) { return 0; }
void MemUnmap(thandle_t, void*, toff_t) {}

int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFreer {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

TiffPtr OpenMemory(TiffMemory& m, const char* mode, tmsize_t maxAlloc)
{
    std::unique_ptr<TIFFOpenOptions, OptionsFreer> opts(TIFFOpenOptionsAlloc());
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts.get(), Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts.get(), Quiet, nullptr);
    if (maxAlloc > 0)
        TIFFOpenOptionsSetMaxSingleMemAlloc(opts.get(), maxAlloc);
    return TiffPtr(TIFFClientOpenExt("picture", mode, &m, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                                     MemMap, MemUnmap, opts.get()));
}

// Where the samples of the direct path go: channel c of pixel x of image row
// y is byte dst[(height-1-y) * stride + x * step + offset[c]].
struct SampleSink {
    uint8_t* pixels;
    size_t stride;
    int height;
    int step;            // 1 (gray) or 3
    int offset[3];       // per channel
    int bits;            // 8 or 16
    bool invert;         // min-is-white

    // count pixels of one channel, sampleStep samples apart in src.
    void Put(const uint8_t* src, size_t sampleStep, int channel, uint32_t y, uint32_t x0, size_t count) const
    {
        uint8_t* d = pixels + static_cast<size_t>(height - 1 - static_cast<int>(y)) * stride +
                     static_cast<size_t>(x0) * static_cast<size_t>(step) + static_cast<size_t>(offset[channel]);
        const uint8_t flip = invert ? 0xFF : 0x00;
        if (bits == 8) {
            for (size_t i = 0; i < count; ++i, d += step)
                *d = src[i * sampleStep] ^ flip;
        } else {
            for (size_t i = 0; i < count; ++i, d += step) {
                uint16_t v;  // libtiff gives samples in the machine's order
                std::memcpy(&v, src + 2 * i * sampleStep, 2);
                *d = ScaleSample(v, 65535) ^ flip;
            }
        }
    }
};

// 8- and 16-bit gray and RGB, stripped or tiled, chunky or planar.
BmpError ReadDirect(TIFF* tif, uint32_t width, uint32_t height, uint16_t bits, uint16_t spp,
                    uint16_t planar, int channels, tmsize_t maxAlloc, const SampleSink& sink)
{
    const bool separate = planar == PLANARCONFIG_SEPARATE;
    const size_t bytes = bits / 8;
    const size_t pixelStep = separate ? 1 : spp;  // samples from one pixel to the next
    const int passes = separate ? channels : 1;
    if (!TIFFIsTiled(tif)) {
        const tmsize_t lineSize = TIFFScanlineSize(tif);
        if (lineSize <= 0 || lineSize > maxAlloc ||
            static_cast<uint64_t>(lineSize) < uint64_t{width} * pixelStep * bytes)
            return BmpError::kBadPictureData;
        std::vector<uint8_t> line(static_cast<size_t>(lineSize));
        for (int pass = 0; pass < passes; ++pass)
            for (uint32_t y = 0; y < height; ++y) {
                if (TIFFReadScanline(tif, line.data(), y, static_cast<uint16_t>(pass)) < 0)
                    return BmpError::kBadPictureData;
                for (int c = separate ? pass : 0; c < (separate ? pass + 1 : channels); ++c)
                    sink.Put(line.data() + (separate ? 0 : c * bytes), pixelStep, c, y, 0, width);
                if ((y & 255) == 255)
                    WorkTick();
            }
        return BmpError::kNone;
    }
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const tmsize_t tileSize = TIFFTileSize(tif);
    const tmsize_t rowSize = TIFFTileRowSize(tif);
    if (tw == 0 || th == 0 || tileSize <= 0 || rowSize <= 0 || tileSize > maxAlloc ||
        static_cast<uint64_t>(rowSize) < uint64_t{tw} * pixelStep * bytes ||
        static_cast<uint64_t>(tileSize) < static_cast<uint64_t>(rowSize) * th)
        return BmpError::kBadPictureData;
    std::vector<uint8_t> tile(static_cast<size_t>(tileSize));
    for (int pass = 0; pass < passes; ++pass)
        for (uint64_t ty = 0; ty < height; ty += th)
            for (uint64_t tx = 0; tx < width; tx += tw) {
                if (TIFFReadTile(tif, tile.data(), static_cast<uint32_t>(tx), static_cast<uint32_t>(ty), 0,
                                 static_cast<uint16_t>(pass)) < 0)
                    return BmpError::kBadPictureData;
                const size_t count = static_cast<size_t>(std::min<uint64_t>(tw, width - tx));
                for (uint64_t r = 0; r < th && ty + r < height; ++r) {
                    const uint8_t* row = tile.data() + static_cast<size_t>(r) * static_cast<size_t>(rowSize);
                    for (int c = separate ? pass : 0; c < (separate ? pass + 1 : channels); ++c)
                        sink.Put(row + (separate ? 0 : c * bytes), pixelStep, c, static_cast<uint32_t>(ty + r),
                                 static_cast<uint32_t>(tx), count);
                }
            }
    return BmpError::kNone;
}

}  // namespace

BmpError ReadTiff(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out)
{
    TiffMemory m;
    m.data = data;
    m.size = size;
    // No single buffer needs more than a whole picture's worth of 16-bit RGBA.
    const tmsize_t maxAlloc = static_cast<tmsize_t>(std::max<int64_t>(maxPixels * 8, int64_t{16} << 20));
    TiffPtr tif = OpenMemory(m, "rm", maxAlloc);
    if (!tif)
        return BmpError::kBadPictureData;
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
        return BmpError::kBadHeader;
    if (BmpError e = CheckSize(width, height, maxPixels); e != BmpError::kNone)
        return e;
    uint16_t bits = 1, spp = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, photometric = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    if (!TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric))
        return BmpError::kBadHeader;
    if (format != SAMPLEFORMAT_UINT)
        return BmpError::kUnsupportedPicture;
    const bool grayKind = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool direct = (bits == 8 || bits == 16) &&
                        ((grayKind && spp >= 1) || (photometric == PHOTOMETRIC_RGB && spp >= 3));

    LoadedBmp result;
    uint8_t* pixels = StartCanonicalDib(result, static_cast<int>(width), static_cast<int>(height), grayKind ? 8 : 24);
    const size_t stride = DibStride(static_cast<int>(width), grayKind ? 8 : 24);
    if (direct) {
        const SampleSink sink{pixels, stride, static_cast<int>(height), grayKind ? 1 : 3,
                              {grayKind ? 0 : 2, 1, 0}, bits, photometric == PHOTOMETRIC_MINISWHITE};
        if (BmpError e = ReadDirect(tif.get(), width, height, bits, spp, planar, grayKind ? 1 : 3, maxAlloc, sink);
            e != BmpError::kNone)
            return e;
    } else {
        char message[1024];
        if (!TIFFRGBAImageOK(tif.get(), message))
            return BmpError::kUnsupportedPicture;
        std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
        if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1))
            return BmpError::kBadPictureData;
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t* s = raster.data() + static_cast<size_t>(y) * width;
            uint8_t* d = pixels + static_cast<size_t>(height - 1 - y) * stride;
            for (uint32_t x = 0; x < width; ++x) {
                if (grayKind) {
                    d[x] = static_cast<uint8_t>(TIFFGetR(s[x]));
                } else {
                    d[3 * x + 0] = static_cast<uint8_t>(TIFFGetB(s[x]));
                    d[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(s[x]));
                    d[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(s[x]));
                }
            }
        }
    }
    out = std::move(result);
    return BmpError::kNone;
}

bool WriteTiff(const uint8_t* pixels, int width, int height, int channels, std::vector<uint8_t>& out)
{
    out.clear();
    TiffMemory m;
    m.out = &out;
    TiffPtr tif = OpenMemory(m, "w", 0);
    if (!tif)
        return false;
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(channels);
    // The predictor works on the row in place, so each row goes through a copy.
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < height; ++y) {
        std::memcpy(row.data(), pixels + static_cast<size_t>(y) * rowBytes, rowBytes);
        if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
            return false;
    }
    if (!TIFFFlush(t))
        return false;
    tif.reset();
    return !out.empty();
}

}  // namespace lumadrift::codec
