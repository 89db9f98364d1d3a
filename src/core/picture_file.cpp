#include "core/picture_file.h"

#include <algorithm>
#include <cstring>

#include "core/file_io.h"
#include "core/picture_codecs.h"

namespace lumadrift {

namespace {

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t n)
{
    return size >= n && std::memcmp(data, magic, n) == 0;
}

std::string LowerExtension(const std::string& name)
{
    const size_t slash = name.find_last_of('/');
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

const char kOpenPictureFilter[] =
    "Picture Files (*.bmp *.png *.tif *.tiff *.jpg *.jpeg *.pgm *.ppm *.pnm);;"
    "BMP Files (*.bmp);;PNG Files (*.png);;TIFF Files (*.tif *.tiff);;"
    "JPEG Files (*.jpg *.jpeg);;PGM/PPM Files (*.pgm *.ppm *.pnm)";
const char kSavePictureFilter[] = "BMP Files (*.bmp);;PNG Files (*.png);;TIFF Files (*.tif *.tiff)";

PictureFormat SniffPictureFormat(const uint8_t* data, size_t size)
{
    if (!data)
        return PictureFormat::kUnknown;
    if (StartsWith(data, size, "BM", 2))
        return PictureFormat::kBmp;
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8))
        return PictureFormat::kPng;
    if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
        StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4))
        return PictureFormat::kTiff;
    if (StartsWith(data, size, "\xFF\xD8\xFF", 3))
        return PictureFormat::kJpeg;
    if (size >= 3 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7' &&
        std::strchr(" \t\r\n#", data[2]) != nullptr && data[2] != '\0')
        return PictureFormat::kNetpbm;
    return PictureFormat::kUnknown;
}

BmpError ParsePicture(const uint8_t* data, size_t size, LoadedBmp& out, int64_t maxPixels)
{
    switch (SniffPictureFormat(data, size)) {
    case PictureFormat::kPng: return codec::ReadPng(data, size, maxPixels, out);
    case PictureFormat::kTiff: return codec::ReadTiff(data, size, maxPixels, out);
    case PictureFormat::kJpeg: return codec::ReadJpeg(data, size, maxPixels, out);
    case PictureFormat::kNetpbm: return codec::ReadNetpbm(data, size, maxPixels, out);
    case PictureFormat::kBmp:
    case PictureFormat::kUnknown: break;
    }
    return ParseBmp(data, size, out, maxPixels);
}

BmpError ReadPictureFile(const std::string& path, LoadedBmp& out)
{
    const InputFile file(path);
    if (!file.ok())
        return BmpError::kCannotRead;
    const int64_t maxPixels = PixelsThatFit(kMaxPicturePixels, AvailableMemory());
    uint8_t magic[8] = {};
    const size_t got = file.ReadAt(0, magic, sizeof magic);
    const PictureFormat f = SniffPictureFormat(magic, got);
    if (f == PictureFormat::kBmp || f == PictureFormat::kUnknown)
        return ReadBmp(file, maxPixels, out);
    // The other formats are compressed (or, for netpbm, as big as the
    // planes): read whole, their decoders check the size before decoding.
    PictureBytes bytes;
    file.ReadAll(bytes);
    return ParsePicture(bytes.data(), bytes.size(), out, maxPixels);
}

bool IsPictureFileName(const std::string& name)
{
    static const char* const kExtensions[] = {".bmp", ".png", ".tif", ".tiff", ".jpg",
                                              ".jpeg", ".pgm", ".ppm", ".pnm"};
    const std::string ext = LowerExtension(name);
    return std::any_of(std::begin(kExtensions), std::end(kExtensions),
                       [&](const char* e) { return ext == e; });
}

PictureFormat SaveFormatForPath(const std::string& path)
{
    const std::string ext = LowerExtension(path);
    if (ext == ".png")
        return PictureFormat::kPng;
    if (ext == ".tif" || ext == ".tiff")
        return PictureFormat::kTiff;
    return PictureFormat::kBmp;
}

const char* PictureExtension(PictureFormat f)
{
    switch (f) {
    case PictureFormat::kPng: return ".png";
    case PictureFormat::kTiff: return ".tif";
    default: return ".bmp";
    }
}

namespace {

std::vector<uint8_t> EncodeRows(PictureFormat f, const uint8_t* pixels, int width, int height, int channels)
{
    std::vector<uint8_t> out;
    const bool ok = f == PictureFormat::kPng ? codec::WritePng(pixels, width, height, channels, out)
                                             : codec::WriteTiff(pixels, width, height, channels, out);
    if (!ok)
        out.clear();
    return out;
}

}  // namespace

std::vector<uint8_t> EncodeGrayPicture(PictureFormat f, const uint8_t* plane, int width, int height)
{
    if (f != PictureFormat::kPng && f != PictureFormat::kTiff)
        return BuildGrayBmp(plane, width, height);
    if (!plane || width <= 0 || height <= 0)
        return {};
    return EncodeRows(f, plane, width, height, 1);
}

std::vector<uint8_t> EncodeLoadedPicture(PictureFormat f, const LoadedBmp& bmp)
{
    if (f != PictureFormat::kPng && f != PictureFormat::kTiff)
        return BuildColorBmp(bmp);
    const int w = bmp.info.width;
    const int h = bmp.info.height;
    if (w <= 0 || h <= 0 || bmp.fileData.size() < 40 + 4 * static_cast<size_t>(bmp.info.tableCount))
        return {};
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::vector<uint8_t> r(n), g(n), b(n);
    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                      bmp.colorTable(), 0, 0, w - 1, h - 1);
    // A palette picture whose colours are all gray is written as gray: the
    // pictures opened from gray files come back as they were.
    bool gray = bmp.info.bitCount <= 8;
    for (int i = 0; gray && i < std::min(bmp.info.tableCount, 256); ++i) {
        const uint8_t* e = bmp.colorTable() + 4 * i;
        gray = e[0] == e[1] && e[1] == e[2];
    }
    if (gray)
        return EncodeRows(f, r.data(), w, h, 1);
    std::vector<uint8_t> rgb(3 * n);
    for (size_t i = 0; i < n; ++i) {
        rgb[3 * i + 0] = r[i];
        rgb[3 * i + 1] = g[i];
        rgb[3 * i + 2] = b[i];
    }
    return EncodeRows(f, rgb.data(), w, h, 3);
}

int WriteGrayPicture(const std::string& path, const uint8_t* plane, int width, int height)
{
    const PictureFormat f = SaveFormatForPath(path);
    if (f == PictureFormat::kBmp)
        return WriteGrayBmpFile(path, plane, width, height);
    const std::vector<uint8_t> file = EncodeGrayPicture(f, plane, width, height);
    return file.empty() ? -1 : WriteFileWhole(path, file);
}

int WriteLoadedPicture(const std::string& path, const LoadedBmp& bmp)
{
    const std::vector<uint8_t> file = EncodeLoadedPicture(SaveFormatForPath(path), bmp);
    return file.empty() ? -1 : WriteFileWhole(path, file);
}

// ---- PGM and PPM ------------------------------------------------------------

namespace codec {

namespace {

struct NetpbmCursor {
    const uint8_t* p;
    const uint8_t* end;

    bool IsSpace(uint8_t c) const { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

    // Skips white space and comments (from '#' to the end of the line).
    void SkipSpace()
    {
        while (p < end) {
            if (*p == '#') {
                while (p < end && *p != '\n' && *p != '\r')
                    ++p;
            } else if (IsSpace(*p)) {
                ++p;
            } else {
                return;
            }
        }
    }

    // A decimal number of at most limit; false at the end, on anything
    // else, or when it exceeds the limit.
    bool Number(uint32_t limit, uint32_t& v, bool& atEnd)
    {
        SkipSpace();
        atEnd = p >= end;
        if (atEnd || *p < '0' || *p > '9')
            return false;
        uint64_t n = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            n = n * 10 + static_cast<uint64_t>(*p++ - '0');
            if (n > limit)
                return false;
        }
        if (p < end && !IsSpace(*p) && *p != '#')
            return false;
        v = static_cast<uint32_t>(n);
        return true;
    }
};

}  // namespace

BmpError ReadNetpbm(const uint8_t* data, size_t size, int64_t maxPixels, LoadedBmp& out)
{
    const char kind = static_cast<char>(data[1]);
    if (kind != '2' && kind != '3' && kind != '5' && kind != '6')
        return BmpError::kUnsupportedPicture;  // bitmaps (P1, P4) and P7
    const bool gray = kind == '2' || kind == '5';
    const bool ascii = kind == '2' || kind == '3';
    NetpbmCursor c{data + 2, data + size};
    uint32_t width = 0, height = 0, maxValue = 0;
    bool atEnd = false;
    if (!c.Number(UINT32_MAX, width, atEnd) || !c.Number(UINT32_MAX, height, atEnd) ||
        !c.Number(65535, maxValue, atEnd))
        return atEnd ? BmpError::kTruncated : BmpError::kBadHeader;
    if (maxValue == 0)
        return BmpError::kBadHeader;
    if (BmpError e = CheckSize(width, height, maxPixels); e != BmpError::kNone)
        return e;
    const int channels = gray ? 1 : 3;
    const uint64_t samples = uint64_t{width} * height * static_cast<uint64_t>(channels);
    const size_t sampleBytes = maxValue > 255 ? 2 : 1;
    if (!ascii) {
        // Exactly one white-space byte separates the header from the raster.
        if (c.p >= c.end)
            return BmpError::kTruncated;
        ++c.p;
        if (static_cast<uint64_t>(c.end - c.p) < samples * sampleBytes)
            return BmpError::kTruncated;
    } else if (static_cast<uint64_t>(c.end - c.p) < 2 * samples - 1) {
        return BmpError::kTruncated;  // every sample takes a digit and a separator
    }

    LoadedBmp result;
    uint8_t* pixels = StartCanonicalDib(result, static_cast<int>(width), static_cast<int>(height), gray ? 8 : 24);
    const size_t stride = DibStride(static_cast<int>(width), gray ? 8 : 24);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + static_cast<size_t>(height - 1 - y) * stride;
        for (uint32_t x = 0; x < width; ++x) {
            for (int ch = 0; ch < channels; ++ch) {
                uint32_t v = 0;
                if (ascii) {
                    if (!c.Number(maxValue, v, atEnd))
                        return atEnd ? BmpError::kTruncated : BmpError::kBadPictureData;
                } else {
                    v = sampleBytes == 2 ? (uint32_t{c.p[0]} << 8) | c.p[1] : c.p[0];
                    c.p += sampleBytes;
                    if (v > maxValue)
                        return BmpError::kBadPictureData;
                }
                // Red, green, blue in the file; blue, green, red in the DIB.
                row[gray ? x : 3 * x + 2 - static_cast<uint32_t>(ch)] = ScaleSample(v, maxValue);
            }
        }
    }
    out = std::move(result);
    return BmpError::kNone;
}

}  // namespace codec

}  // namespace lumadrift
