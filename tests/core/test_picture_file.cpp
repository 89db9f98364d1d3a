// Pictures in PNG, TIFF, JPEG and PGM/PPM: what opens, what is refused, and
// what a save in those formats reads back as. The files are made here with
// the same libraries, so every variant is exactly the one a row names.
#include "core/picture_file.h"

#include <gtest/gtest.h>

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "core/file_io.h"
#include "core/work_progress.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> px;  // top row first
};

Picture Gray(int w, int h, std::vector<uint8_t> v)
{
    Picture p{w, h, {}};
    for (uint8_t g : v)
        p.px.push_back({g, g, g});
    return p;
}

Picture Decode(const LoadedBmp& bmp)
{
    const int w = bmp.info.width, h = bmp.info.height;
    std::vector<uint8_t> r(size_t(w) * h), g(r.size()), b(r.size());
    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                      bmp.colorTable(), 0, 0, w - 1, h - 1);
    Picture p{w, h, {}};
    for (size_t i = 0; i < r.size(); ++i)
        p.px.push_back({r[i], g[i], b[i]});
    return p;
}

std::string Describe(const Picture& p)
{
    std::string s = std::to_string(p.width) + "x" + std::to_string(p.height) + ":";
    for (const Rgb& c : p.px)
        s += " " + std::to_string(c.r) + "/" + std::to_string(c.g) + "/" + std::to_string(c.b);
    return s;
}

// 16-bit samples where rounding and cutting to the top byte disagree
// (129 and 255 round up to 1), and their 8-bit results.
const std::vector<uint16_t> kWide = {0, 129, 255, 32896, 65535, 128};
const std::vector<uint8_t> kWideAs8 = {0, 1, 1, 128, 255, 0};

// ---- Writers for the test files -------------------------------------------

struct PngSpec {
    int width, height, colorType, depth;
    Bytes samples;                     // packed rows as PNG stores them
    std::vector<png_color> palette{};
    bool interlace = false;
};

void PngAppend(png_structp png, png_bytep d, size_t n)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), d, d + n);
}

Bytes MakePng(const PngSpec& s)
{
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng refused the test picture";
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, PngAppend, nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty())
        png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    png_write_info(png, info);
    const size_t stride = s.samples.size() / s.height;
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y)
        rows.push_back(const_cast<png_bytep>(s.samples.data() + y * stride));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes BigEndian16(const std::vector<uint16_t>& v)
{
    Bytes b;
    for (uint16_t x : v)
        b.insert(b.end(), {uint8_t(x >> 8), uint8_t(x)});
    return b;
}

struct TiffSpec {
    int width, height, spp, bits, photometric;
    int planar = PLANARCONFIG_CONTIG;
    int tile = 0;                       // tile side, 0 for strips
    int compression = COMPRESSION_NONE;
    int sampleFormat = SAMPLEFORMAT_UINT;
    std::vector<uint16_t> samples;      // chunky order, one per sample
    std::vector<uint16_t> colormap{};   // red, green, blue tables of 1 << bits
    int pages = 1;
};

Bytes MakeTiff(const TiffSpec& s)
{
    test::TempDir dir;
    const std::string path = dir / "t.tif";
    TIFF* t = TIFFOpen(path.c_str(), "w");
    for (int page = 0; page < s.pages; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
        TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, s.sampleFormat);
        if (s.spp == 2 || s.spp == 4) {
            const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (!s.colormap.empty()) {
            const size_t n = s.colormap.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n, s.colormap.data() + 2 * n);
        }
        if (s.tile) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
            TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
        }
        // Pages after the first are black.
        auto sample = [&](int x, int y, int c) -> uint32_t {
            return page == 0 ? s.samples[(size_t(y) * s.width + x) * s.spp + c] : 0;
        };
        const int planes = s.planar == PLANARCONFIG_SEPARATE ? s.spp : 1;
        const int perPixel = s.planar == PLANARCONFIG_SEPARATE ? 1 : s.spp;
        // Rows (or tiles) of packed samples, most significant bits first.
        auto pack = [&](int x0, int y, int count, int plane, uint8_t* out) {
            int bit = 0;
            for (int x = x0; x < x0 + count; ++x)
                for (int c = 0; c < perPixel; ++c) {
                    const uint32_t v = x < s.width && y < s.height ? sample(x, y, plane + c) : 0;
                    if (s.bits == 16) {
                        const uint16_t w = static_cast<uint16_t>(v);
                        std::memcpy(out + bit / 8, &w, 2);
                    } else if (s.bits == 32) {
                        std::memcpy(out + bit / 8, &v, 4);
                    } else {
                        out[bit / 8] |= static_cast<uint8_t>(v << (8 - s.bits - bit % 8));
                    }
                    bit += s.bits;
                }
        };
        for (int p = 0; p < planes; ++p) {
            if (s.tile) {
                std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(t)));
                for (int ty = 0; ty < s.height; ty += s.tile)
                    for (int tx = 0; tx < s.width; tx += s.tile) {
                        std::fill(tile.begin(), tile.end(), 0);
                        for (int r = 0; r < s.tile; ++r)
                            pack(tx, ty + r, s.tile, p, tile.data() + r * TIFFTileRowSize(t));
                        TIFFWriteTile(t, tile.data(), tx, ty, 0, static_cast<uint16_t>(p));
                    }
            } else {
                std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t)));
                for (int y = 0; y < s.height; ++y) {
                    std::fill(row.begin(), row.end(), 0);
                    pack(0, y, s.width, p, row.data());
                    TIFFWriteScanline(t, row.data(), y, static_cast<uint16_t>(p));
                }
            }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return test::ReadBytes(path);
}

Bytes MakeJpeg(int width, int height, int components, J_COLOR_SPACE space, const Bytes& samples)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buf = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buf, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(y) * width * components);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buf, buf + size);
    jpeg_destroy_compress(&c);
    std::free(buf);
    return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---- Files that open ----------------------------------------------------------

struct OpenCase {
    const char* name;
    std::function<Bytes()> file;
    int bitCount;       // of the canonical DIB: 8 (gray table) or 24
    Picture expected;
};

// A 3 x 2 colour picture and its samples in file order.
const Picture kColour{3, 2, {{255, 0, 0}, {0, 200, 0}, {0, 0, 100}, {1, 2, 3}, {250, 128, 7}, {9, 9, 9}}};

std::vector<uint16_t> ColourSamples(int extra = 0)
{
    std::vector<uint16_t> v;
    for (const Rgb& c : kColour.px) {
        v.insert(v.end(), {c.r, c.g, c.b});
        if (extra)
            v.push_back(17);
    }
    return v;
}

std::vector<OpenCase> OpenCases()
{
    std::vector<OpenCase> v;
    const Bytes gray = {0, 10, 200, 255, 128, 7};
    auto gray16 = [] { return std::vector<uint16_t>(kWide.begin(), kWide.end()); };
    auto u16 = [](const Bytes& b) { return std::vector<uint16_t>(b.begin(), b.end()); };
    Bytes rgb;
    for (const Rgb& c : kColour.px)
        rgb.insert(rgb.end(), {c.r, c.g, c.b});

    v.push_back({"PngGray8", [=] { return MakePng({3, 2, PNG_COLOR_TYPE_GRAY, 8, gray}); }, 8, Gray(3, 2, gray)});
    v.push_back({"PngGray16RoundsToEightBits",
                 [=] { return MakePng({6, 1, PNG_COLOR_TYPE_GRAY, 16, BigEndian16(kWide)}); }, 8,
                 Gray(6, 1, kWideAs8)});
    v.push_back({"PngGray1", [] { return MakePng({9, 1, PNG_COLOR_TYPE_GRAY, 1, {0xA5, 0x80}}); }, 8,
                 Gray(9, 1, {255, 0, 255, 0, 0, 255, 0, 255, 255})});
    v.push_back({"PngRgb8", [=] { return MakePng({3, 2, PNG_COLOR_TYPE_RGB, 8, rgb}); }, 24, kColour});
    v.push_back({"PngRgb16", [=] {
                     std::vector<uint16_t> s;
                     for (uint16_t w : kWide)
                         s.insert(s.end(), {w, uint16_t(65535 - w), w});
                     return MakePng({6, 1, PNG_COLOR_TYPE_RGB, 16, BigEndian16(s)});
                 },
                 24, [] {
                     Picture p{6, 1, {}};
                     for (size_t i = 0; i < kWide.size(); ++i)
                         p.px.push_back({kWideAs8[i], uint8_t(255 - kWideAs8[i]), kWideAs8[i]});
                     return p;
                 }()});
    v.push_back({"PngPalette4", [] {
                     PngSpec s{3, 1, PNG_COLOR_TYPE_PALETTE, 4, {0x12, 0x00}};
                     s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
                     return MakePng(s);
                 },
                 24, Picture{3, 1, {{40, 50, 60}, {70, 80, 90}, {10, 20, 30}}}});
    v.push_back({"PngGrayAlphaDropsAlpha", [] { return MakePng({2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {50, 0, 60, 255}}); },
                 8, Gray(2, 1, {50, 60})});
    v.push_back({"PngRgbaInterlaced", [=] {
                     Bytes s;
                     for (const Rgb& c : kColour.px)
                         s.insert(s.end(), {c.r, c.g, c.b, 99});
                     PngSpec spec{3, 2, PNG_COLOR_TYPE_RGB_ALPHA, 8, s};
                     spec.interlace = true;
                     return MakePng(spec);
                 },
                 24, kColour});

    v.push_back({"TiffGray8", [=] { return MakeTiff({3, 2, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, u16(gray)}); },
                 8, Gray(3, 2, gray)});
    v.push_back({"TiffGray16RoundsToEightBits", [=] {
                     return MakeTiff({3, 2, 1, 16, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_LZW, SAMPLEFORMAT_UINT, gray16()});
                 },
                 8, Gray(3, 2, kWideAs8)});
    v.push_back({"TiffMinIsWhite", [=] { return MakeTiff({3, 2, 1, 8, PHOTOMETRIC_MINISWHITE, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, u16(gray)}); },
                 8, Gray(3, 2, {255, 245, 55, 0, 127, 248})});
    v.push_back({"TiffGrayTiled", [=] {
                     std::vector<uint16_t> s;
                     for (int i = 0; i < 20 * 17; ++i)
                         s.push_back(uint16_t(i * 7 % 256));
                     return MakeTiff({20, 17, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 16, COMPRESSION_ADOBE_DEFLATE, SAMPLEFORMAT_UINT, s});
                 },
                 8, [] {
                     std::vector<uint8_t> s;
                     for (int i = 0; i < 20 * 17; ++i)
                         s.push_back(uint8_t(i * 7 % 256));
                     return Gray(20, 17, s);
                 }()});
    v.push_back({"TiffRgb8Lzw", [] { return MakeTiff({3, 2, 3, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, 0, COMPRESSION_LZW, SAMPLEFORMAT_UINT, ColourSamples()}); },
                 24, kColour});
    v.push_back({"TiffRgba8DropsAlpha", [] { return MakeTiff({3, 2, 4, 8, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, ColourSamples(1)}); },
                 24, kColour});
    v.push_back({"TiffRgb16Planar", [] {
                     std::vector<uint16_t> s;
                     for (uint16_t w : kWide)
                         s.insert(s.end(), {w, uint16_t(65535 - w), w});
                     return MakeTiff({3, 2, 3, 16, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, s});
                 },
                 24, [] {
                     Picture p{3, 2, {}};
                     for (size_t i = 0; i < kWide.size(); ++i)
                         p.px.push_back({kWideAs8[i], uint8_t(255 - kWideAs8[i]), kWideAs8[i]});
                     return p;
                 }()});
    v.push_back({"TiffRgb16TiledPlanar", [] {
                     std::vector<uint16_t> s;
                     for (int i = 0; i < 18 * 17; ++i)
                         s.insert(s.end(), {kWide[i % 6], kWide[(i + 1) % 6], kWide[(i + 2) % 6]});
                     return MakeTiff({18, 17, 3, 16, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, 16, COMPRESSION_NONE, SAMPLEFORMAT_UINT, s});
                 },
                 24, [] {
                     Picture p{18, 17, {}};
                     for (int i = 0; i < 18 * 17; ++i)
                         p.px.push_back({kWideAs8[i % 6], kWideAs8[(i + 1) % 6], kWideAs8[(i + 2) % 6]});
                     return p;
                 }()});
    v.push_back({"TiffPalette", [] {
                     TiffSpec s{3, 1, 1, 2, PHOTOMETRIC_PALETTE, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, {1, 2, 0}};
                     s.colormap = {10 * 257, 40 * 257, 70 * 257, 0,  20 * 257, 50 * 257, 80 * 257, 0,
                                   30 * 257, 60 * 257, 90 * 257, 0};
                     return MakeTiff(s);
                 },
                 24, Picture{3, 1, {{40, 50, 60}, {70, 80, 90}, {10, 20, 30}}}});
    v.push_back({"TiffBilevel", [] { return MakeTiff({9, 1, 1, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, {1, 0, 1, 0, 0, 1, 0, 1, 1}}); },
                 8, Gray(9, 1, {255, 0, 255, 0, 0, 255, 0, 255, 255})});
    v.push_back({"TiffTakesTheFirstPage", [=] {
                     TiffSpec s{3, 2, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, u16(gray)};
                     s.pages = 3;
                     return MakeTiff(s);
                 },
                 8, Gray(3, 2, gray)});

    v.push_back({"PgmBinary", [] { return Text("P5\n# made by hand\n3 2\n255\n") + Bytes{0, 10, 200, 255, 128, 7}; }, 8,
                 Gray(3, 2, gray)});
    v.push_back({"PgmAsciiSmallMaxScales", [] { return Text("P2 3 1 15\n0 7\n15\n"); }, 8, Gray(3, 1, {0, 119, 255})});
    v.push_back({"PgmBinary16", [] { return Text("P5 6 1 65535\n") + BigEndian16(kWide); }, 8, Gray(6, 1, kWideAs8)});
    v.push_back({"PpmBinary", [=] { return Text("P6\n3 2\n255\n") + rgb; }, 24, kColour});
    v.push_back({"PpmAscii", [] { return Text("P3\n3 2 255\n255 0 0  0 200 0  0 0 100\n1 2 3 250 128 7 9 9 9"); }, 24, kColour});
    return v;
}

class PictureOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(PictureOpen, BecomesTheCanonicalDibOfItsPixels)
{
    const OpenCase& c = GetParam();
    const Bytes file = c.file();
    LoadedBmp bmp;
    const BmpError e = ParsePicture(file.data(), file.size(), bmp);
    ASSERT_EQ(e, BmpError::kNone) << BmpErrorMessage(e);
    EXPECT_EQ(bmp.info.bitCount, c.bitCount);
    EXPECT_EQ(Describe(Decode(bmp)), Describe(c.expected));
    // The canonical form is itself a plain BMP that reads back the same.
    const Bytes asBmp = BuildColorBmp(bmp);
    LoadedBmp again;
    ASSERT_EQ(ParseBmp(asBmp.data(), asBmp.size(), again), BmpError::kNone);
    EXPECT_EQ(again.fileData, bmp.fileData);
    // Read from a file, the same; with one pixel fewer allowed, refused.
    test::TempDir dir;
    test::WriteBytes(dir / "p", file);
    LoadedBmp fromFile, limited;
    ASSERT_EQ(ReadPictureFile(dir / "p", fromFile), BmpError::kNone);
    EXPECT_EQ(fromFile.fileData, bmp.fileData);
    const int64_t pixels = int64_t{bmp.info.width} * bmp.info.height;
    EXPECT_EQ(ParsePicture(file.data(), file.size(), limited, pixels - 1), BmpError::kTooLarge);
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureOpen, ::testing::ValuesIn(OpenCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PictureOpen, JpegGrayAndColourComeCloseToWhatWasWritten)
{
    // A flat picture survives the lossy coding within a level or two.
    const struct { int components; J_COLOR_SPACE space; int bitCount; Rgb colour; } rows[] = {
        {1, JCS_GRAYSCALE, 8, {90, 90, 90}},
        {3, JCS_RGB, 24, {200, 40, 120}},
    };
    for (const auto& r : rows) {
        Bytes samples;
        for (int i = 0; i < 16 * 8; ++i) {
            if (r.components == 1)
                samples.push_back(r.colour.r);
            else
                samples.insert(samples.end(), {r.colour.r, r.colour.g, r.colour.b});
        }
        const Bytes file = MakeJpeg(16, 8, r.components, r.space, samples);
        LoadedBmp bmp;
        ASSERT_EQ(ParsePicture(file.data(), file.size(), bmp), BmpError::kNone);
        EXPECT_EQ(bmp.info.bitCount, r.bitCount);
        for (const Rgb& c : Decode(bmp).px) {
            EXPECT_NEAR(c.r, r.colour.r, 2);
            EXPECT_NEAR(c.g, r.colour.g, 2);
            EXPECT_NEAR(c.b, r.colour.b, 2);
        }
    }
}

// ---- Files that are refused ---------------------------------------------------

struct BadCase {
    const char* name;
    std::function<Bytes()> file;
    BmpError error;
};

Bytes Cut(Bytes b, size_t keep)
{
    b.resize(std::min(keep, b.size()));
    return b;
}

Bytes Flip(Bytes b, size_t at)
{
    b.at(at) ^= 0x5A;
    return b;
}

Bytes Png16x16()
{
    Bytes s(16 * 16);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = uint8_t(i * 37);
    return MakePng({16, 16, PNG_COLOR_TYPE_GRAY, 8, s});
}

Bytes Jpeg16x16()
{
    Bytes s(16 * 16 * 3);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = uint8_t(i * 37);
    return MakeJpeg(16, 16, 3, JCS_RGB, s);
}

Bytes Tiff4x4() { return MakeTiff({4, 4, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, std::vector<uint16_t>(16, 9)}); }

std::vector<BadCase> BadCases()
{
    return {
        {"PngCutInItsData", [] { const Bytes b = Png16x16(); return Cut(b, b.size() - 20); }, BmpError::kTruncated},
        {"PngHeaderOnly", [] { return Cut(Png16x16(), 8); }, BmpError::kTruncated},
        {"PngBrokenHeaderChecksum", [] { return Flip(Png16x16(), 29); }, BmpError::kBadPictureData},
        {"PngBrokenData", [] { const Bytes b = Png16x16(); return Flip(b, b.size() - 30); }, BmpError::kBadPictureData},
        {"TiffCut", [] { return Cut(Tiff4x4(), 12); }, BmpError::kBadPictureData},
        {"TiffDirectoryPastTheEnd", [] { Bytes b = Tiff4x4(); b[4] = b[5] = b[6] = 0x7F; return b; }, BmpError::kBadPictureData},
        {"TiffFloatSamples", [] { return MakeTiff({2, 1, 1, 32, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_IEEEFP, {0, 0}}); },
         BmpError::kUnsupportedPicture},
        {"JpegCut", [] { const Bytes b = Jpeg16x16(); return Cut(b, b.size() / 2); }, BmpError::kBadPictureData},
        {"JpegOnlyTheStartMarker", [] { return Bytes{0xFF, 0xD8, 0xFF}; }, BmpError::kBadPictureData},
        {"JpegGarbledHeader", [] { Bytes b = Jpeg16x16(); for (size_t i = 4; i < 40; ++i) b[i] = 0xA5; return b; }, BmpError::kBadPictureData},
        {"JpegCmyk", [] { return MakeJpeg(8, 8, 4, JCS_CMYK, Bytes(8 * 8 * 4, 50)); }, BmpError::kUnsupportedPicture},
        {"PgmRasterCut", [] { return Text("P5 4 4 255\n") + Bytes(15, 1); }, BmpError::kTruncated},
        {"PgmSampleAboveMax", [] { return Text("P5 2 1 100\n") + Bytes{5, 101}; }, BmpError::kBadPictureData},
        {"PgmMaxZero", [] { return Text("P5 2 1 0\n") + Bytes{0, 0}; }, BmpError::kBadHeader},
        {"PgmZeroWidth", [] { return Text("P5 0 1 255\n"); }, BmpError::kBadHeader},
        {"PgmTooLarge", [] { return Text("P5 70000 1 255\n") + Bytes(70000, 0); }, BmpError::kTooLarge},
        {"PgmHeaderCut", [] { return Text("P5 2 "); }, BmpError::kTruncated},
        {"PpmAsciiLetters", [] { return Text("P3 1 1 255\n1 x 3\n"); }, BmpError::kBadPictureData},
        {"PbmIsNotRead", [] { return Text("P4 8 1\n") + Bytes{0xFF}; }, BmpError::kUnsupportedPicture},
        {"UnknownBytes", [] { return Text("GIF89a......"); }, BmpError::kNotBitmap},
    };
}

class PictureRefused : public ::testing::TestWithParam<BadCase> {};

TEST_P(PictureRefused, WithItsMessageAndNothingChanged)
{
    const BadCase& c = GetParam();
    const Bytes file = c.file();
    LoadedBmp bmp;
    const Bytes before = test::Bytes("BM untouched");
    bmp.fileData.assign(before.begin(), before.end());
    bmp.info.width = 77;
    EXPECT_EQ(ParsePicture(file.data(), file.size(), bmp), c.error);
    EXPECT_STRNE(BmpErrorMessage(c.error), "");
    EXPECT_EQ(Bytes(bmp.fileData.begin(), bmp.fileData.end()), before);
    EXPECT_EQ(bmp.info.width, 77);
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureRefused, ::testing::ValuesIn(BadCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Saving -------------------------------------------------------------------

// Reading a tall picture in any library format tells the calling thread's
// work observer now and then, so the window can show it is still busy.
TEST(PictureOpen, TallPicturesTickTheWorkObserver)
{
    struct Counter : WorkObserver {
        int ticks = 0;
        void OnWorkBegin() override {}
        void OnWorkEnd() override {}
        void OnWorkTick(int, int) override { ++ticks; }
    } counter;
    const int w = 4, h = 600;
    const Bytes gray(static_cast<size_t>(w) * h, 77);
    PngSpec interlaced{w, h, PNG_COLOR_TYPE_GRAY, 8, gray};
    interlaced.interlace = true;
    const struct { const char* what; Bytes file; } rows[] = {
        {"png", MakePng({w, h, PNG_COLOR_TYPE_GRAY, 8, gray})},
        {"interlaced png", MakePng(interlaced)},
        {"tiff", MakeTiff({w, h, 1, 8, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, 0, COMPRESSION_NONE, SAMPLEFORMAT_UINT, std::vector<uint16_t>(gray.begin(), gray.end())})},
        {"jpeg", MakeJpeg(w, h, 1, JCS_GRAYSCALE, gray)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        counter.ticks = 0;
        SetWorkObserver(&counter);
        LoadedBmp back;
        const BmpError e = ParsePicture(r.file.data(), r.file.size(), back);
        SetWorkObserver(nullptr);
        ASSERT_EQ(e, BmpError::kNone);
        EXPECT_EQ(back.info.height, h);
        EXPECT_GE(counter.ticks, 2);
    }
}

TEST(PictureSave, FormatFollowsTheExtension)
{
    const struct { const char* path; PictureFormat format; } rows[] = {
        {"a.png", PictureFormat::kPng},  {"/x/A.PNG", PictureFormat::kPng}, {"a.tif", PictureFormat::kTiff},
        {"a.TIFF", PictureFormat::kTiff}, {"a.bmp", PictureFormat::kBmp},  {"a.png.bmp", PictureFormat::kBmp},
        {"a.jpg", PictureFormat::kBmp},   {"dir.png/a", PictureFormat::kBmp}, {"png", PictureFormat::kBmp},
    };
    for (const auto& r : rows)
        EXPECT_EQ(SaveFormatForPath(r.path), r.format) << r.path;
}

// Every save format reads back to the same pixels: gray planes, the loaded
// colour picture, and palette pictures (gray ones become gray files).
TEST(PictureSave, RoundTripsKeepEveryPixel)
{
    const int w = 5, h = 3;  // rows of 5 gray bytes or 15 colour bytes: padding in the DIB
    std::vector<uint8_t> plane;
    for (int i = 0; i < w * h; ++i)
        plane.push_back(uint8_t(i * 17 + 3));
    LoadedBmp colour, palette;
    {
        std::vector<uint8_t> bgr;
        for (int i = 0; i < w * h; ++i)
            bgr.insert(bgr.end(), {uint8_t(i), uint8_t(255 - i * 9), uint8_t(i * 13)});
        const Bytes colourFile = BuildBmp24(bgr.data(), w, h, 3 * w);
        const Bytes paletteFile = BuildGrayBmp(plane.data(), w, h);
        ASSERT_EQ(ParseBmp(colourFile.data(), colourFile.size(), colour), BmpError::kNone);
        ASSERT_EQ(ParseBmp(paletteFile.data(), paletteFile.size(), palette), BmpError::kNone);
    }
    for (PictureFormat f : {PictureFormat::kPng, PictureFormat::kTiff, PictureFormat::kBmp}) {
        SCOPED_TRACE(PictureExtension(f));
        const struct { const char* what; Bytes file; Picture expected; int bitCount; } rows[] = {
            {"gray plane", EncodeGrayPicture(f, plane.data(), w, h), Gray(w, h, plane), 8},
            {"colour picture", EncodeLoadedPicture(f, colour), Decode(colour), 24},
            {"gray palette picture", EncodeLoadedPicture(f, palette), Decode(palette), 8},
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(r.what);
            ASSERT_FALSE(r.file.empty());
            EXPECT_EQ(SniffPictureFormat(r.file.data(), r.file.size()), f);
            LoadedBmp back;
            ASSERT_EQ(ParsePicture(r.file.data(), r.file.size(), back), BmpError::kNone);
            EXPECT_EQ(back.info.bitCount, r.bitCount);
            EXPECT_EQ(Describe(Decode(back)), Describe(r.expected));
        }
    }
}

TEST(PictureSave, BatchFoldersOfferEveryFormat)
{
    for (const char* name : {"a.bmp", "a.PNG", "a.tif", "a.tiff", "a.jpg", "a.JPEG", "a.pgm", "a.ppm", "a.pnm"})
        EXPECT_TRUE(IsPictureFileName(name)) << name;
    for (const char* name : {"a.txt", "a.flt", "bmp", "a.gif", "dir.png/a"})
        EXPECT_FALSE(IsPictureFileName(name)) << name;
}

}  // namespace
}  // namespace lumadrift
