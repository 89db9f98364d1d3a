#include "core/bmp.h"
#include "core/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/image_model.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Building files by hand -------------------------------------------------

// Everything a hand-made BMP may need. Pixels are the stored bytes, in file
// order; table and masks are stored as given.
struct FileSpec {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    Bytes table;
    Bytes masks;       // after a 40-byte header, inside a longer one
    Bytes gap;         // between table and pixels
    Bytes pixels;
    int64_t statedSize = -1;   // -1: the real length
    int64_t pixelOffset = -1;  // -1: where the pixels really are
    uint16_t reserved1 = 0;
    uint16_t reserved2 = 0;
};

Bytes BuildFile(const FileSpec& s)
{
    // Room for every field even when the stated header size is nonsense.
    Bytes f(14 + std::max<uint32_t>(s.headerSize, 40), 0);
    uint8_t* ih = f.data() + 14;
    PutLe32(ih, s.headerSize);
    if (s.headerSize == 12) {
        PutLe16(ih + 4, static_cast<uint32_t>(s.width));
        PutLe16(ih + 6, static_cast<uint32_t>(s.height));
        PutLe16(ih + 8, 1);
        PutLe16(ih + 10, s.bits);
    } else {
        PutLe32(ih + 4, static_cast<uint32_t>(s.width));
        PutLe32(ih + 8, static_cast<uint32_t>(s.height));
        PutLe16(ih + 12, 1);
        PutLe16(ih + 14, s.bits);
        PutLe32(ih + 16, s.compression);
        PutLe32(ih + 20, static_cast<uint32_t>(s.pixels.size()));
        PutLe32(ih + 24, 2835);
        PutLe32(ih + 28, 2835);
        PutLe32(ih + 32, s.colorsUsed);
        if (s.headerSize > 40 && !s.masks.empty())
            std::memcpy(ih + 40, s.masks.data(), std::min<size_t>(s.masks.size(), s.headerSize - 40));
    }
    f.resize(14 + s.headerSize);
    if (s.headerSize == 40)
        f.insert(f.end(), s.masks.begin(), s.masks.end());
    f.insert(f.end(), s.table.begin(), s.table.end());
    f.insert(f.end(), s.gap.begin(), s.gap.end());
    const size_t offset = f.size();
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    f[0] = 'B';
    f[1] = 'M';
    PutLe32(&f[2], s.statedSize < 0 ? static_cast<uint32_t>(f.size()) : static_cast<uint32_t>(s.statedSize));
    PutLe16(&f[6], s.reserved1);
    PutLe16(&f[8], s.reserved2);
    PutLe32(&f[10], s.pixelOffset < 0 ? static_cast<uint32_t>(offset) : static_cast<uint32_t>(s.pixelOffset));
    return f;
}

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

// A small picture, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> px;
    Rgb at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};

::testing::AssertionResult SamePicture(const Picture& expected, const Picture& actual)
{
    if (expected.width != actual.width || expected.height != actual.height)
        return ::testing::AssertionFailure() << "size " << actual.width << "x" << actual.height
                                             << ", expected " << expected.width << "x" << expected.height;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) {
            const Rgb e = expected.at(x, y);
            const Rgb a = actual.at(x, y);
            if (!(e == a))
                return ::testing::AssertionFailure()
                       << "first difference at (" << x << ", " << y << "): got (" << int(a.r) << ", "
                       << int(a.g) << ", " << int(a.b) << "), expected (" << int(e.r) << ", " << int(e.g)
                       << ", " << int(e.b) << ")";
        }
    return ::testing::AssertionSuccess();
}

Picture DecodeAll(const LoadedBmp& bmp)
{
    Picture p;
    p.width = bmp.info.width;
    p.height = bmp.info.height;
    const size_t n = static_cast<size_t>(p.width) * p.height;
    Bytes r(n, 0x11), g(n, 0x22), b(n, 0x33);
    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                      bmp.colorTable(), 0, 0, p.width - 1, p.height - 1);
    p.px.resize(n);
    for (size_t i = 0; i < n; ++i)
        p.px[i] = {r[i], g[i], b[i]};
    return p;
}

// Parses from a heap block of exactly the file's size, so the sanitizer sees
// any read past its end.
BmpError ParseExact(const Bytes& file, LoadedBmp& out)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[file.size() ? file.size() : 1]);
    if (!file.empty())
        std::memcpy(copy.get(), file.data(), file.size());
    return ParseBmp(copy.get(), file.size(), out);
}

Picture Open(const Bytes& file)
{
    LoadedBmp bmp;
    const BmpError e = ParseExact(file, bmp);
    EXPECT_EQ(e, BmpError::kNone) << BmpErrorMessage(e);
    if (e != BmpError::kNone)
        return {};
    return DecodeAll(bmp);
}

Bytes Table(std::initializer_list<Rgb> colours)
{
    Bytes t;
    for (const Rgb& c : colours)
        t.insert(t.end(), {c.b, c.g, c.r, 0});
    return t;
}

// Stored rows, bottom row first, each padded to the stride with `pad`.
Bytes Rows(const std::vector<Bytes>& topDownRows, size_t stride, uint8_t pad = 0)
{
    Bytes out;
    for (auto it = topDownRows.rbegin(); it != topDownRows.rend(); ++it) {
        Bytes row = *it;
        row.resize(stride, pad);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

Picture Pic(int w, int h, std::vector<Rgb> px) { return Picture{w, h, std::move(px)}; }

// ---- Basic layout ---------------------------------------------------------

TEST(Bmp, StrideRoundsBitsUpToWholeWords)
{
    struct Row { int width, bits; size_t stride; };
    const Row rows[] = {
        {1, 1, 4}, {32, 1, 4}, {33, 1, 8}, {1, 4, 4}, {9, 4, 8}, {3, 8, 4}, {5, 8, 8},
        {1, 16, 4}, {3, 16, 8}, {5, 24, 16}, {4, 24, 12}, {1, 32, 4}, {65535, 24, 196608},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.width) + " px at " + std::to_string(r.bits) + " bits");
        EXPECT_EQ(DibStride(r.width, r.bits), r.stride);
    }
}

// ---- Decoder tables per depth --------------------------------------------

struct DepthCase {
    const char* name;
    FileSpec file;
    Picture expected;
};

std::vector<DepthCase> DepthCases()
{
    std::vector<DepthCase> cases;
    const Rgb k{0, 0, 0};
    {
        // 5 wide: stride 16, one byte of padding per row that must never show.
        FileSpec f;
        f.width = 5;
        f.height = 2;
        f.bits = 24;
        Bytes top, bottom;
        for (int x = 0; x < 5; ++x) {
            top.insert(top.end(), {uint8_t(10 + x), uint8_t(20 + x), uint8_t(30 + x)});
            bottom.insert(bottom.end(), {uint8_t(110 + x), uint8_t(120 + x), uint8_t(130 + x)});
        }
        f.pixels = Rows({top, bottom}, 16, 0xEE);
        std::vector<Rgb> px;
        for (int x = 0; x < 5; ++x) px.push_back({uint8_t(30 + x), uint8_t(20 + x), uint8_t(10 + x)});
        for (int x = 0; x < 5; ++x) px.push_back({uint8_t(130 + x), uint8_t(120 + x), uint8_t(110 + x)});
        cases.push_back({"Bits24Width5Stride16", f, Pic(5, 2, px)});
    }
    {
        // 33 wide: stride 8; pixel 32 is the top bit of the fifth byte.
        FileSpec f;
        f.width = 33;
        f.height = 2;
        f.bits = 1;
        f.table = Table({{1, 2, 3}, {200, 201, 202}});
        const Bytes top = {0x80, 0x00, 0x00, 0x01, 0x80};     // x = 0, 31, 32
        const Bytes bottom = {0x40, 0x00, 0x00, 0x00, 0x7F};  // x = 1; byte 4 bits below the top are padding
        f.pixels = Rows({top, bottom}, 8, 0xFF);
        std::vector<Rgb> px(66, Rgb{1, 2, 3});
        px[0] = px[31] = px[32] = Rgb{200, 201, 202};
        px[33 + 1] = Rgb{200, 201, 202};
        cases.push_back({"Bits1Width33Stride8", f, Pic(33, 2, px)});
    }
    {
        FileSpec f;
        f.width = 3;
        f.height = 2;
        f.bits = 4;
        f.colorsUsed = 3;
        f.table = Table({{0, 0, 0}, {10, 20, 30}, {40, 50, 60}});
        // Index 0xF and 7 lie beyond the three entries: black.
        f.pixels = Rows({{0x12, 0xF5}, {0x21, 0x70}}, 4, 0xAB);
        cases.push_back({"Bits4OddWidthShortTable", f,
                         Pic(3, 2, {{10, 20, 30}, {40, 50, 60}, k, {40, 50, 60}, {10, 20, 30}, k})});
    }
    {
        FileSpec f;
        f.width = 3;
        f.height = 1;
        f.bits = 8;
        f.colorsUsed = 2;
        f.table = Table({{9, 8, 7}, {6, 5, 4}});
        f.pixels = Rows({{1, 0, 5}}, 4);
        cases.push_back({"Bits8IndexBeyondTableIsBlack", f, Pic(3, 1, {{6, 5, 4}, {9, 8, 7}, k})});
    }
    {
        FileSpec f;
        f.width = 3;
        f.height = 2;
        f.bits = 16;
        // 5-6-5, lo byte first.
        f.pixels = Rows({{0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8}, {0xFF, 0xFF, 0x00, 0x00, 0x21, 0x08}}, 8, 0x55);
        cases.push_back({"Bits16ReadAs565", f,
                         Pic(3, 2, {{0, 0, 0xF8}, {0, 0xFC, 0}, {0xF8, 0, 0},
                                    {0xF8, 0xFC, 0xF8}, k, {0x08, 0x04, 0x08}})});
    }
    {
        FileSpec f;
        f.width = 2;
        f.height = 2;
        f.bits = 32;
        f.pixels = Rows({{1, 2, 3, 0xFF, 4, 5, 6, 0x00}, {7, 8, 9, 0x12, 10, 11, 12, 0x34}}, 8);
        cases.push_back({"Bits32FourthByteIgnored", f, Pic(2, 2, {{3, 2, 1}, {6, 5, 4}, {9, 8, 7}, {12, 11, 10}})});
    }
    return cases;
}

class BmpDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(BmpDepth, DecodesEveryPixelFromItsOwnRow)
{
    const DepthCase& c = GetParam();
    EXPECT_TRUE(SamePicture(c.expected, Open(BuildFile(c.file))));
}

// Every sub-rectangle must equal the same crop of the whole image: this
// catches x0 offsets into packed bytes and row order mistakes.
TEST_P(BmpDepth, RectangleIsCropOfWholeImage)
{
    const DepthCase& c = GetParam();
    LoadedBmp bmp;
    ASSERT_EQ(ParseExact(BuildFile(c.file), bmp), BmpError::kNone);
    const Picture whole = DecodeAll(bmp);
    for (int y0 = 0; y0 < whole.height; ++y0)
        for (int y1 = y0; y1 < whole.height; ++y1)
            for (int x0 = 0; x0 < whole.width; ++x0)
                for (int x1 = x0; x1 < whole.width; ++x1) {
                    const int w = x1 - x0 + 1;
                    const size_t n = static_cast<size_t>(w) * (y1 - y0 + 1);
                    Bytes r(n + 1, 0x5A), g(n + 1, 0x5A), b(n + 1, 0x5A);
                    DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                                      bmp.colorTable(), x0, y0, x1, y1);
                    ASSERT_EQ(r[n], 0x5A) << "wrote past the rectangle";
                    for (int y = y0; y <= y1; ++y)
                        for (int x = x0; x <= x1; ++x) {
                            const size_t i = static_cast<size_t>(y - y0) * w + (x - x0);
                            ASSERT_TRUE((Rgb{r[i], g[i], b[i]} == whole.at(x, y)))
                                << "rect " << x0 << "," << y0 << "-" << x1 << "," << y1 << " at " << x << "," << y;
                        }
                }
}

INSTANTIATE_TEST_SUITE_P(Depths, BmpDepth, ::testing::ValuesIn(DepthCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Bmp, DecodeWritesNothingForRefusedRectangles)
{
    FileSpec f;
    f.width = 4;
    f.height = 3;
    f.pixels = Bytes(12 * 3, 7);
    LoadedBmp bmp;
    ASSERT_EQ(ParseExact(BuildFile(f), bmp), BmpError::kNone);
    struct Rect { int x0, y0, x1, y1; };
    const Rect rects[] = {{0, 2, 3, 1}, {2, 0, 1, 2}, {-1, 0, 3, 2}, {0, -1, 3, 2}, {0, 0, 4, 2}, {0, 0, 3, 3}};
    for (const Rect& r : rects) {
        SCOPED_TRACE(std::to_string(r.x0) + "," + std::to_string(r.y0) + "-" + std::to_string(r.x1) + "," +
                     std::to_string(r.y1));
        Bytes red(64, 0xC3), green(64, 0xC3), blue(64, 0xC3);
        DecodeDibToPlanes(red.data(), green.data(), blue.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                          bmp.colorTable(), r.x0, r.y0, r.x1, r.y1);
        EXPECT_EQ(red, Bytes(64, 0xC3));
    }
    // A bit count the decoder does not know, or pixel data shorter than the
    // rows it would need, writes nothing either.
    Bytes red(12, 0xC3), green(12, 0xC3), blue(12, 0xC3);
    DibInfo odd = bmp.info;
    odd.bitCount = 2;
    DecodeDibToPlanes(red.data(), green.data(), blue.data(), bmp.pixels(), bmp.pixelBytes(), odd,
                      bmp.colorTable(), 0, 0, 3, 2);
    EXPECT_EQ(red, Bytes(12, 0xC3));
    DecodeDibToPlanes(red.data(), green.data(), blue.data(), bmp.pixels(), 12 * 2 + 11, bmp.info,
                      bmp.colorTable(), 0, 0, 3, 2);
    EXPECT_EQ(red, Bytes(12, 0xC3));
}

// ---- Plain files keep their bytes and their quirks --------------------------

TEST(Bmp, EightBitTableSizeFollowsColoursUsed)
{
    for (uint32_t used : {0u, 16u}) {
        SCOPED_TRACE("colours used " + std::to_string(used));
        FileSpec f;
        f.width = 2;
        f.height = 1;
        f.bits = 8;
        f.colorsUsed = used;
        const int n = used ? 16 : 256;
        for (int i = 0; i < n; ++i)
            f.table.insert(f.table.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i), 0});
        f.pixels = Rows({{5, 15}}, 4);
        f.pixelOffset = 1;  // never consulted for a plain file
        LoadedBmp bmp;
        ASSERT_EQ(ParseExact(BuildFile(f), bmp), BmpError::kNone);
        EXPECT_EQ(bmp.info.tableCount, n);
        EXPECT_EQ(bmp.pixels() - bmp.infoHeader(), 40 + 4 * n);
        EXPECT_EQ(GetLe32(bmp.fileHeader.data() + 10), 54u + 4 * n);
        EXPECT_TRUE(SamePicture(Pic(2, 1, {{15, 10, 5}, {45, 30, 15}}), DecodeAll(bmp)));
    }
}

TEST(Bmp, TwentyFourBitFileWithColoursUsedTwoSkipsEightBytes)
{
    FileSpec f;
    f.width = 1;
    f.height = 1;
    f.colorsUsed = 2;
    f.table = Table({{1, 1, 1}, {2, 2, 2}});
    f.pixels = {10, 20, 30, 0};
    LoadedBmp bmp;
    ASSERT_EQ(ParseExact(BuildFile(f), bmp), BmpError::kNone);
    EXPECT_EQ(bmp.info.tableCount, 2);
    EXPECT_EQ(bmp.pixels() - bmp.infoHeader(), 48);
    EXPECT_TRUE(SamePicture(Pic(1, 1, {{30, 20, 10}}), DecodeAll(bmp)));
}

TEST(Bmp, ColourWriterGivesBackTheLoadedBytes)
{
    FileSpec f;
    f.width = 3;
    f.height = 2;
    f.bits = 8;
    f.colorsUsed = 4;
    f.table = Table({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}});
    f.pixels = Rows({{0, 1, 2}, {3, 2, 1}}, 4, 0x99);
    f.reserved1 = 0x1234;
    f.reserved2 = 0x5678;
    f.pixelOffset = 0x0BADF00D;
    const Bytes original = BuildFile(f);
    LoadedBmp bmp;
    ASSERT_EQ(ParseExact(original, bmp), BmpError::kNone);
    const Bytes written = BuildColorBmp(bmp);
    ASSERT_EQ(written.size(), original.size());
    for (size_t i = 0; i < written.size(); ++i) {
        if (i >= 6 && i < 14)
            continue;
        ASSERT_EQ(written[i], original[i]) << "byte " << i;
    }
    const uint8_t header[14] = {'B', 'M', uint8_t(original.size()), 0, 0, 0, 0, 0, 0, 0, 54 + 16, 0, 0, 0};
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 14), Bytes(header, header + 14));
}

// The stated size is believed only between what the pixels need and the
// real end of the file; the written header tells the truth.
TEST(Bmp, StatedSizeIsClampedToWhatIsThereAndWhatIsNeeded)
{
    FileSpec base;
    base.width = 2;
    base.height = 2;
    base.pixels = Rows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, 8);
    const size_t needed = 54 + 16;
    struct Row { const char* name; int64_t stated; size_t trailing; size_t kept; };
    const Row rows[] = {
        {"exact", int64_t(needed), 0, needed},
        {"larger than the file", 1 << 20, 0, needed},
        {"larger, with trailing bytes", 1 << 20, 6, needed + 6},
        {"too small", 20, 0, needed},
        {"zero", 0, 3, needed},
        {"inside trailing bytes", int64_t(needed) + 2, 6, needed + 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FileSpec f = base;
        f.statedSize = r.stated;
        Bytes file = BuildFile(f);
        file.insert(file.end(), r.trailing, 0x77);
        LoadedBmp bmp;
        ASSERT_EQ(ParseExact(file, bmp), BmpError::kNone);
        EXPECT_EQ(bmp.fileData.size(), r.kept - 14);
        EXPECT_EQ(GetLe32(bmp.fileHeader.data() + 2), r.kept);
        EXPECT_TRUE(SamePicture(Pic(2, 2, {{3, 2, 1}, {6, 5, 4}, {9, 8, 7}, {12, 11, 10}}), DecodeAll(bmp)));
    }
}

TEST(Bmp, NotABitmapIsRefusedWithTheMessage)
{
    FileSpec f;
    f.pixels = {1, 2, 3, 0};
    Bytes file = BuildFile(f);
    file[0] = 'M';
    file[1] = 'B';
    LoadedBmp bmp;
    EXPECT_EQ(ParseExact(file, bmp), BmpError::kNotBitmap);
    EXPECT_STREQ(BmpErrorMessage(BmpError::kNotBitmap), "ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙではありません");
    EXPECT_EQ(ParseExact(Bytes(file.begin(), file.begin() + 13), bmp), BmpError::kNotBitmap);
    EXPECT_EQ(ParseExact({}, bmp), BmpError::kNotBitmap);
}

TEST(Bmp, EveryRefusalHasItsOwnMessage)
{
    const BmpError errors[] = {
        BmpError::kCannotRead, BmpError::kNotBitmap, BmpError::kTruncated, BmpError::kBadHeader,
        BmpError::kTooLarge, BmpError::kUnsupportedBitCount, BmpError::kUnsupportedCompression,
        BmpError::kBadBitfields, BmpError::kBadRle, BmpError::kBadPictureData, BmpError::kUnsupportedPicture,
    };
    std::vector<std::string> seen;
    for (BmpError e : errors) {
        const std::string m = BmpErrorMessage(e);
        EXPECT_FALSE(m.empty());
        for (const std::string& s : seen)
            EXPECT_NE(m, s);
        seen.push_back(m);
    }
}

// ---- Gray writer golden bytes ----------------------------------------------

Bytes GrayHeaderBytes(uint32_t width, uint32_t height, uint32_t size)
{
    Bytes h = {'B', 'M'};
    auto le32 = [&](uint32_t v) { h.insert(h.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
    le32(size);
    le32(0);
    le32(1078);
    le32(40);
    le32(width);
    le32(height);
    h.insert(h.end(), {1, 0, 8, 0});
    le32(0);
    le32(0);
    le32(0);
    le32(0);
    le32(256);
    le32(256);
    for (int i = 0; i < 256; ++i)
        h.insert(h.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    return h;
}

TEST(Bmp, GrayWriterGoldenBytes)
{
    {
        SCOPED_TRACE("6 x 2");
        const uint8_t plane[] = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
        Bytes expected = GrayHeaderBytes(6, 2, 1094);
        expected.insert(expected.end(), {11, 12, 13, 14, 15, 16, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0});
        EXPECT_EQ(BuildGrayBmp(plane, 6, 2), expected);
    }
    {
        SCOPED_TRACE("5 x 3");
        const uint8_t plane[] = {255, 254, 253, 252, 251, 1, 2, 3, 4, 5, 0, 128, 0, 128, 0};
        Bytes expected = GrayHeaderBytes(5, 3, 1102);
        expected.insert(expected.end(), {0, 128, 0, 128, 0, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0, 0,
                                         255, 254, 253, 252, 251, 0, 0, 0});
        EXPECT_EQ(BuildGrayBmp(plane, 5, 3), expected);
    }
    {
        SCOPED_TRACE("4 x 1: no padding");
        const uint8_t plane[] = {9, 8, 7, 6};
        Bytes expected = GrayHeaderBytes(4, 1, 1082);
        expected.insert(expected.end(), {9, 8, 7, 6});
        EXPECT_EQ(BuildGrayBmp(plane, 4, 1), expected);
    }
}

TEST(Bmp, GrayFileReadsBackAsTheSamePlane)
{
    for (int width : {1, 2, 3, 4, 5, 17}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const int height = 3;
        Bytes plane(static_cast<size_t>(width) * height);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<uint8_t>(i * 37 + 5);
        const Bytes file = BuildGrayBmp(plane.data(), width, height);
        LoadedBmp bmp;
        ASSERT_EQ(ParseExact(file, bmp), BmpError::kNone);
        EXPECT_EQ(BuildColorBmp(bmp), file);
        const Picture p = DecodeAll(bmp);
        for (size_t i = 0; i < plane.size(); ++i)
            ASSERT_TRUE((p.px[i] == Rgb{plane[i], plane[i], plane[i]})) << "pixel " << i;
    }
}

// ---- Converted variants against the equivalent plain file -------------------

// A 5 x 3 indexed picture and a palette of 6 colours used by the variants.
const std::vector<Bytes> kIndexRows = {{0, 1, 2, 3, 4}, {5, 4, 3, 2, 1}, {1, 1, 0, 5, 5}};
const std::vector<Rgb> kPalette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}, {200, 100, 50}};

Bytes PaletteBytes(size_t entrySize)
{
    Bytes t;
    for (const Rgb& c : kPalette) {
        t.insert(t.end(), {c.b, c.g, c.r});
        if (entrySize == 4)
            t.push_back(0);
    }
    return t;
}

Bytes Pack(const std::vector<Bytes>& rows, int bits, size_t stride, bool bottomUp)
{
    std::vector<Bytes> packed;
    for (const Bytes& r : rows) {
        Bytes p;
        if (bits == 8) {
            p = r;
        } else if (bits == 4) {
            for (size_t x = 0; x < r.size(); x += 2)
                p.push_back(uint8_t(r[x] << 4 | (x + 1 < r.size() ? r[x + 1] : 0)));
        } else {  // 1
            p.assign((r.size() + 7) / 8, 0);
            for (size_t x = 0; x < r.size(); ++x)
                p[x / 8] |= uint8_t((r[x] & 1) << (7 - x % 8));
        }
        packed.push_back(p);
    }
    if (!bottomUp) {
        Bytes out;
        for (Bytes p : packed) {
            p.resize(stride, 0);
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    }
    return Rows(packed, stride);
}

Picture IndexedPicture(const std::vector<Bytes>& rows, const std::vector<Rgb>& pal)
{
    Picture p{int(rows[0].size()), int(rows.size()), {}};
    for (const Bytes& r : rows)
        for (uint8_t i : r)
            p.px.push_back(i < pal.size() ? pal[i] : Rgb{0, 0, 0});
    return p;
}

FileSpec PlainIndexed(int bits, const std::vector<Bytes>& rows)
{
    FileSpec f;
    f.width = int(rows[0].size());
    f.height = int(rows.size());
    f.bits = uint16_t(bits);
    f.colorsUsed = uint32_t(kPalette.size());
    f.table = PaletteBytes(4);
    f.pixels = Pack(rows, bits, DibStride(f.width, bits), true);
    return f;
}

Bytes Bgr24Rows(const Picture& p, bool bottomUp)
{
    std::vector<Bytes> rows;
    for (int y = 0; y < p.height; ++y) {
        Bytes r;
        for (int x = 0; x < p.width; ++x)
            r.insert(r.end(), {p.at(x, y).b, p.at(x, y).g, p.at(x, y).r});
        rows.push_back(r);
    }
    if (!bottomUp)
        std::reverse(rows.begin(), rows.end());
    return Rows(rows, DibStride(p.width, 24));
}

struct VariantCase {
    const char* name;
    std::function<Bytes()> build;
    Picture expected;
};

Bytes Le16s(std::initializer_list<uint16_t> v)
{
    Bytes b;
    for (uint16_t x : v) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8)});
    return b;
}
Bytes Le32s(std::initializer_list<uint32_t> v)
{
    Bytes b;
    for (uint32_t x : v) b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
    return b;
}
std::vector<VariantCase> VariantCases()
{
    std::vector<VariantCase> v;
    const Picture indexed = IndexedPicture(kIndexRows, kPalette);
    for (int bits : {1, 4, 8}) {
        std::vector<Bytes> rows = kIndexRows;
        if (bits == 1)
            for (Bytes& r : rows)
                for (uint8_t& i : r) i &= 1;
        const Picture expected = IndexedPicture(rows, kPalette);
        v.push_back({bits == 1 ? "CoreHeader1Bit" : bits == 4 ? "CoreHeader4Bit" : "CoreHeader8Bit",
                     [bits, rows] {
                         FileSpec f = PlainIndexed(bits, rows);
                         f.headerSize = 12;
                         // A core table has 2^bits three-byte entries.
                         f.table = PaletteBytes(3);
                         f.table.resize(3u << bits, 0);
                         return BuildFile(f);
                     },
                     expected});
        v.push_back({bits == 1 ? "TopDown1Bit" : bits == 4 ? "TopDown4Bit" : "TopDown8Bit",
                     [bits, rows] {
                         FileSpec f = PlainIndexed(bits, rows);
                         f.height = -f.height;
                         f.pixels = Pack(rows, bits, DibStride(f.width, bits), false);
                         return BuildFile(f);
                     },
                     expected});
    }
    v.push_back({"CoreHeaderTableShortenedByPixelOffset",
                 [] {
                     FileSpec f = PlainIndexed(8, kIndexRows);
                     f.headerSize = 12;
                     f.table = PaletteBytes(3);  // 6 entries, not 256; the offset says so
                     return BuildFile(f);
                 },
                 indexed});
    const Picture rgb = Pic(3, 2, {{1, 2, 3}, {250, 128, 0}, {9, 99, 199}, {0, 0, 0}, {255, 255, 255}, {77, 66, 55}});
    v.push_back({"CoreHeader24Bit",
                 [rgb] {
                     FileSpec f;
                     f.headerSize = 12;
                     f.width = 3;
                     f.height = 2;
                     f.pixels = Bgr24Rows(rgb, true);
                     return BuildFile(f);
                 },
                 rgb});
    v.push_back({"TopDown24Bit",
                 [rgb] {
                     FileSpec f;
                     f.width = 3;
                     f.height = -2;
                     f.pixels = Bgr24Rows(rgb, false);
                     return BuildFile(f);
                 },
                 rgb});
    for (uint32_t hs : {108u, 124u}) {
        v.push_back({hs == 108 ? "V4Header24BitWithGapBeforePixels" : "V5Header24BitWithGapBeforePixels",
                     [rgb, hs] {
                         FileSpec f;
                         f.headerSize = hs;
                         f.width = 3;
                         f.height = 2;
                         f.gap = Bytes(20, 0xCD);  // e.g. a colour profile; the pixel offset skips it
                         f.pixels = Bgr24Rows(rgb, true);
                         return BuildFile(f);
                     },
                     rgb});
        v.push_back({hs == 108 ? "V4Header8Bit" : "V5Header8Bit",
                     [hs] {
                         FileSpec f = PlainIndexed(8, kIndexRows);
                         f.headerSize = hs;
                         return BuildFile(f);
                     },
                     indexed});
    }
    v.push_back({"V5HeaderPixelOffsetInsideTableIsIgnored",
                 [] {
                     FileSpec f = PlainIndexed(8, kIndexRows);
                     f.headerSize = 124;
                     f.pixelOffset = 14 + 124 + 4;
                     return BuildFile(f);
                 },
                 indexed});
    v.push_back({"V5HeaderPixelOffsetPastEndIsIgnored",
                 [] {
                     FileSpec f = PlainIndexed(8, kIndexRows);
                     f.headerSize = 124;
                     f.pixelOffset = 100000;
                     return BuildFile(f);
                 },
                 indexed});

    // Bit fields: narrower fields are widened by repeating their bits (full
    // scale stays 255), wider ones keep their top 8 bits.
    const Picture fields = Pic(4, 1, {{0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0x08}, {0xFF, 0xFF, 0xFF}});
    v.push_back({"Bitfields555",
                 [] {
                     FileSpec f;
                     f.width = 4;
                     f.bits = 16;
                     f.compression = 3;
                     f.masks = Le32s({0x7C00, 0x03E0, 0x001F});
                     f.pixels = Le16s({0x7C00, 0x03E0, 0x0001, 0x7FFF});
                     return BuildFile(f);
                 },
                 fields});
    v.push_back({"Rgb16WithV5HeaderMeans555",
                 [] {
                     FileSpec f;
                     f.headerSize = 124;
                     f.width = 4;
                     f.bits = 16;
                     f.pixels = Le16s({0x7C00, 0x03E0, 0x0001, 0x7FFF});
                     return BuildFile(f);
                 },
                 fields});
    v.push_back({"Bitfields565WidensEachField",
                 [] {
                     FileSpec f;
                     f.width = 4;
                     f.bits = 16;
                     f.compression = 3;
                     f.masks = Le32s({0xF800, 0x07E0, 0x001F});
                     f.pixels = Le16s({0x001F, 0x07E0, 0xF800, 0x0821});
                     return BuildFile(f);
                 },
                 Pic(4, 1, {{0, 0, 0xFF}, {0, 0xFF, 0}, {0xFF, 0, 0}, {0x08, 0x04, 0x08}})});
    v.push_back({"Bitfields101010KeepsTopEightBits",
                 [] {
                     FileSpec f;
                     f.headerSize = 56;
                     f.width = 3;
                     f.bits = 32;
                     f.compression = 3;
                     f.masks = Le32s({0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000});
                     f.pixels = Le32s({0x3FF00000 | 0x3 << 10 | 0x3, 0x20000000 | 0x00080000, 0xFFFFFFFF});
                     return BuildFile(f);
                 },
                 Pic(3, 1, {{0xFF, 0x00, 0x00}, {0x80, 0x80, 0x00}, {0xFF, 0xFF, 0xFF}})});
    v.push_back({"AlphaBitfields8888",
                 [] {
                     FileSpec f;
                     f.width = 2;
                     f.bits = 32;
                     f.compression = 6;
                     f.masks = Le32s({0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000});
                     f.pixels = Le32s({0x80102030, 0x00FFEEDD});
                     return BuildFile(f);
                 },
                 Pic(2, 1, {{0x10, 0x20, 0x30}, {0xFF, 0xEE, 0xDD}})});
    v.push_back({"V5BitfieldsRgbaOrderTopDown",
                 [] {
                     FileSpec f;
                     f.headerSize = 124;
                     f.width = 1;
                     f.height = -2;
                     f.bits = 32;
                     f.compression = 3;
                     f.masks = Le32s({0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000});
                     f.pixels = Le32s({0x00030201, 0x00060504});
                     return BuildFile(f);
                 },
                 Pic(1, 2, {{1, 2, 3}, {4, 5, 6}})});
    v.push_back({"V2HeaderBitfields444",
                 [] {
                     FileSpec f;
                     f.headerSize = 52;
                     f.width = 1;
                     f.bits = 16;
                     f.compression = 3;
                     f.masks = Le32s({0x0F00, 0x00F0, 0x000F});
                     f.pixels = Le16s({0x0F81, 0});
                     return BuildFile(f);
                 },
                 Pic(1, 1, {{0xFF, 0x88, 0x11}})});

    // RLE: the stream's first row is the bottom row. Pixels never written
    // keep index 0.
    auto rle = [](int bits, int w, int h, Bytes stream) {
        FileSpec f;
        f.width = w;
        f.height = h;
        f.bits = uint16_t(bits);
        f.compression = bits == 8 ? 1 : 2;
        f.colorsUsed = uint32_t(kPalette.size());
        f.table = PaletteBytes(4);
        f.pixels = std::move(stream);
        return BuildFile(f);
    };
    auto idx = [](std::vector<Bytes> topDown) { return IndexedPicture(topDown, kPalette); };
    v.push_back({"Rle8RunsAndEndOfLine", [rle] { return rle(8, 4, 2, {3, 5, 0, 0, 2, 1, 1, 4, 0, 1}); },
                 idx({{1, 1, 4, 0}, {5, 5, 5, 0}})});
    v.push_back({"Rle8Delta",
                 [rle] { return rle(8, 4, 3, {1, 2, 0, 2, 2, 1, 1, 3, 0, 0, 0, 2, 3, 0, 1, 5, 0, 1}); },
                 idx({{0, 0, 0, 5}, {0, 0, 0, 3}, {2, 0, 0, 0}})});
    v.push_back({"Rle8AbsoluteOddLengthIsPadded",
                 [rle] { return rle(8, 5, 1, {0, 3, 4, 3, 2, 0, 2, 1, 0, 1}); }, idx({{4, 3, 2, 1, 1}})});
    v.push_back({"Rle8AbsoluteEvenLengthHasNoPad",
                 [rle] { return rle(8, 5, 1, {0, 4, 4, 3, 2, 5, 1, 1, 0, 1}); }, idx({{4, 3, 2, 5, 1}})});
    v.push_back({"Rle8RunPastRowEnd",
                 [rle] { return rle(8, 3, 2, {9, 2, 0, 0, 1, 3, 0, 1}); }, idx({{3, 0, 0}, {2, 2, 2}})});
    v.push_back({"Rle8AbsolutePastRowEnd",
                 [rle] { return rle(8, 3, 2, {0, 5, 1, 2, 3, 4, 5, 0, 2, 5, 0, 0, 1, 4}); },
                 idx({{4, 0, 0}, {1, 2, 3}})});
    v.push_back({"Rle8PastLastRow",
                 [rle] { return rle(8, 2, 1, {2, 1, 0, 0, 2, 5, 0, 2, 0, 9, 2, 4}); }, idx({{1, 1}})});
    v.push_back({"Rle8TruncatedStream",
                 [rle] { return rle(8, 6, 1, {2, 5, 0, 5, 1, 2}); }, idx({{5, 5, 1, 2, 0, 0}})});
    v.push_back({"Rle8TruncatedDelta", [rle] { return rle(8, 3, 1, {1, 3, 0, 2, 1}); }, idx({{3, 0, 0}})});
    v.push_back({"Rle8EmptyStream", [rle] { return rle(8, 2, 2, {}); }, idx({{0, 0}, {0, 0}})});
    v.push_back({"Rle4RunsAlternateNibbles",
                 [rle] { return rle(4, 5, 2, {5, 0x12, 0, 0, 3, 0x34, 0, 1}); },
                 idx({{3, 4, 3, 0, 0}, {1, 2, 1, 2, 1}})});
    v.push_back({"Rle4AbsoluteWithPadding",
                 [rle] { return rle(4, 7, 1, {0, 5, 0x12, 0x34, 0x50, 0, 2, 0x44, 0, 1}); },
                 idx({{1, 2, 3, 4, 5, 4, 4}})});
    v.push_back({"Rle4AbsoluteWithoutPadding",
                 [rle] { return rle(4, 4, 1, {0, 3, 0x51, 0x20, 1, 0x40, 0, 1}); }, idx({{5, 1, 2, 4}})});
    v.push_back({"Rle4DeltaAndRunPastRowEnd",
                 [rle] { return rle(4, 3, 2, {0, 2, 1, 1, 7, 0x35, 0, 1}); }, idx({{0, 3, 5}, {0, 0, 0}})});
    v.push_back({"Rle4TruncatedAbsolute",
                 [rle] { return rle(4, 4, 1, {0, 4, 0x12}); }, idx({{1, 2, 0, 0}})});
    v.push_back({"Rle8TopDown",
                 [] {
                     FileSpec f;
                     f.width = 2;
                     f.height = -2;
                     f.bits = 8;
                     f.compression = 1;
                     f.colorsUsed = uint32_t(kPalette.size());
                     f.table = PaletteBytes(4);
                     f.pixels = {2, 1, 0, 0, 2, 3, 0, 1};
                     return BuildFile(f);
                 },
                 idx({{1, 1}, {3, 3}})});
    return v;
}

class BmpVariant : public ::testing::TestWithParam<VariantCase> {};

TEST_P(BmpVariant, DecodesLikeThePlainFile)
{
    const VariantCase& c = GetParam();
    EXPECT_TRUE(SamePicture(c.expected, Open(c.build())));
}

// The converted form is a plain file: written back and opened again it must
// be kept byte for byte and give the same picture.
TEST_P(BmpVariant, ConvertsToCanonicalPlainFile)
{
    const VariantCase& c = GetParam();
    LoadedBmp bmp;
    ASSERT_EQ(ParseExact(c.build(), bmp), BmpError::kNone);
    const uint8_t* ih = bmp.infoHeader();
    EXPECT_EQ(GetLe32(ih), 40u);
    EXPECT_EQ(static_cast<int32_t>(GetLe32(ih + 8)), bmp.info.height);
    EXPECT_GT(bmp.info.height, 0);
    EXPECT_EQ(GetLe32(ih + 16), 0u);
    EXPECT_EQ(GetLe16(ih + 14), static_cast<uint32_t>(bmp.info.bitCount));
    EXPECT_EQ(GetLe32(bmp.fileHeader.data() + 10), 54u + 4 * bmp.info.tableCount);
    EXPECT_EQ(bmp.pixelBytes(), DibStride(bmp.info.width, bmp.info.bitCount) * bmp.info.height);
    const Bytes canonical = BuildColorBmp(bmp);
    EXPECT_EQ(GetLe32(canonical.data() + 2), canonical.size());
    LoadedBmp again;
    ASSERT_EQ(ParseExact(canonical, again), BmpError::kNone);
    EXPECT_EQ(BuildColorBmp(again), canonical);
    EXPECT_TRUE(SamePicture(c.expected, DecodeAll(again)));
}

INSTANTIATE_TEST_SUITE_P(Variants, BmpVariant, ::testing::ValuesIn(VariantCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The RLE decoder's output rows, not only the decoded colours: nibbles land
// in the right half of the byte and unwritten pixels stay index 0.
TEST(Bmp, Rle4ExpandsToTheSamePixelBytesAsThePlainFile)
{
    const std::vector<Bytes> rows = {{1, 2, 3}, {4, 5, 0}};
    FileSpec plain = PlainIndexed(4, rows);
    FileSpec rle = plain;
    rle.compression = 2;
    rle.pixels = {2, 0x45, 0, 0, 0, 3, 0x12, 0x30, 0, 1};
    LoadedBmp a, b;
    ASSERT_EQ(ParseExact(BuildFile(plain), a), BmpError::kNone);
    ASSERT_EQ(ParseExact(BuildFile(rle), b), BmpError::kNone);
    EXPECT_EQ(Bytes(a.pixels(), a.pixels() + a.pixelBytes()), Bytes(b.pixels(), b.pixels() + b.pixelBytes()));
}

// ---- Malformed files ----------------------------------------------------------

struct BadCase {
    const char* name;
    std::function<void(FileSpec&)> change;
    BmpError expected;
};

TEST(Bmp, MalformedHeadersAreRefusedWithTheReason)
{
    const BadCase cases[] = {
        {"width 0", [](FileSpec& f) { f.width = 0; }, BmpError::kBadHeader},
        {"negative width", [](FileSpec& f) { f.width = -3; }, BmpError::kBadHeader},
        {"height 0", [](FileSpec& f) { f.height = 0; }, BmpError::kBadHeader},
        {"header size 20", [](FileSpec& f) { f.headerSize = 20; }, BmpError::kBadHeader},
        {"header size 0", [](FileSpec& f) { f.headerSize = 0; }, BmpError::kBadHeader},
        {"width 65536", [](FileSpec& f) { f.width = 65536; }, BmpError::kTooLarge},
        {"height 65536", [](FileSpec& f) { f.height = 65536; }, BmpError::kTooLarge},
        {"top-down height -65536", [](FileSpec& f) { f.height = -65536; }, BmpError::kTooLarge},
        {"more than 2^30 pixels", [](FileSpec& f) { f.width = 32769; f.height = 32768; }, BmpError::kTooLarge},
        {"more than 2^30 pixels to convert", [](FileSpec& f) { f.width = 32768; f.height = -32769; },
         BmpError::kTooLarge},
        {"2^30 plain pixels are read", [](FileSpec& f) { f.width = 32768; f.height = 32768; },
         BmpError::kTruncated},
        {"2^30 pixels to convert are read", [](FileSpec& f) { f.width = 32768; f.height = -32768; },
         BmpError::kTruncated},
        {"width x height overflows", [](FileSpec& f) { f.width = 0x7FFFFFFF; f.height = 0x7FFFFFFF; }, BmpError::kTooLarge},
        {"RLE claiming a huge picture",
         [](FileSpec& f) { f.bits = 8; f.compression = 1; f.width = 65535; f.height = 65535; }, BmpError::kTooLarge},
        {"pixels beyond the file", [](FileSpec& f) { f.width = 4000; f.height = 3000; }, BmpError::kTruncated},
        {"top-down pixels beyond the file", [](FileSpec& f) { f.width = 400; f.height = -300; }, BmpError::kTruncated},
        {"colours used 0xFFFFFFFF", [](FileSpec& f) { f.colorsUsed = 0xFFFFFFFF; }, BmpError::kTruncated},
        {"colours used 0xFFFFFFFF in a V5 file",
         [](FileSpec& f) { f.headerSize = 124; f.colorsUsed = 0xFFFFFFFF; }, BmpError::kTruncated},
        {"bit count 2", [](FileSpec& f) { f.bits = 2; }, BmpError::kUnsupportedBitCount},
        {"bit count 0", [](FileSpec& f) { f.bits = 0; }, BmpError::kUnsupportedBitCount},
        {"bit count 64", [](FileSpec& f) { f.bits = 64; }, BmpError::kUnsupportedBitCount},
        {"JPEG", [](FileSpec& f) { f.compression = 4; }, BmpError::kUnsupportedCompression},
        {"PNG", [](FileSpec& f) { f.compression = 5; }, BmpError::kUnsupportedCompression},
        {"code 11", [](FileSpec& f) { f.compression = 11; }, BmpError::kUnsupportedCompression},
        {"OS/2 Huffman", [](FileSpec& f) { f.headerSize = 64; f.bits = 1; f.compression = 3; },
         BmpError::kUnsupportedCompression},
        {"RLE8 with 4 bits", [](FileSpec& f) { f.bits = 4; f.compression = 1; }, BmpError::kUnsupportedBitCount},
        {"RLE4 with 8 bits", [](FileSpec& f) { f.bits = 8; f.compression = 2; }, BmpError::kUnsupportedBitCount},
        {"bit fields with 24 bits", [](FileSpec& f) { f.compression = 3; f.masks = Le32s({0xFF0000, 0xFF00, 0xFF}); },
         BmpError::kUnsupportedBitCount},
        {"non-contiguous mask",
         [](FileSpec& f) { f.bits = 32; f.compression = 3; f.masks = Le32s({0xF0F00000, 0xFF00, 0xFF}); },
         BmpError::kBadBitfields},
        {"16-bit mask beyond the pixel",
         [](FileSpec& f) { f.bits = 16; f.compression = 3; f.masks = Le32s({0x1F0000, 0x7E0, 0x1F}); },
         BmpError::kBadBitfields},
        {"all masks empty", [](FileSpec& f) { f.bits = 32; f.compression = 3; f.masks = Le32s({0, 0, 0}); },
         BmpError::kBadBitfields},
        {"masks missing after the header", [](FileSpec& f) { f.bits = 16; f.compression = 3; f.pixels.clear(); },
         BmpError::kTruncated},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.name);
        FileSpec f;
        f.width = 2;
        f.height = 2;
        f.pixels = Bytes(16, 0x42);
        c.change(f);
        LoadedBmp bmp;
        const BmpError e = ParseExact(BuildFile(f), bmp);
        EXPECT_EQ(e, c.expected) << BmpErrorMessage(e);
    }
}

TEST(Bmp, RefusedFileLeavesTheLoadedImageAsItWas)
{
    const uint8_t plane[] = {1, 2, 3, 4};
    LoadedBmp bmp;
    const Bytes gray = BuildGrayBmp(plane, 2, 2);
    ASSERT_EQ(ParseBmp(gray.data(), gray.size(), bmp), BmpError::kNone);
    const Bytes before = BuildColorBmp(bmp);
    FileSpec bad;
    bad.bits = 2;
    EXPECT_EQ(ParseExact(BuildFile(bad), bmp), BmpError::kUnsupportedBitCount);
    EXPECT_EQ(BuildColorBmp(bmp), before);
    EXPECT_EQ(bmp.info.width, 2);
}

// Every prefix of a small file of each kind must be refused or decoded
// without touching a byte outside it (the sanitizer build watches).
TEST(Bmp, TruncatedAtEveryLengthNeverReadsOutside)
{
    std::vector<std::pair<std::string, Bytes>> files;
    for (const VariantCase& c : VariantCases())
        files.emplace_back(c.name, c.build());
    for (const DepthCase& c : DepthCases())
        files.emplace_back(c.name, BuildFile(c.file));
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        for (size_t len = 0; len <= file.size(); ++len) {
            const Bytes prefix(file.begin(), file.begin() + len);
            LoadedBmp bmp;
            if (ParseExact(prefix, bmp) != BmpError::kNone)
                continue;
            EXPECT_GE(bmp.pixelBytes(), DibStride(bmp.info.width, bmp.info.bitCount) * bmp.info.height);
            DecodeAll(bmp);
        }
    }
}

TEST(Bmp, PlainFileCutInsideThePixelsIsRefused)
{
    FileSpec f;
    f.width = 5;
    f.height = 2;
    f.pixels = Bytes(32, 1);
    const Bytes file = BuildFile(f);
    LoadedBmp bmp;
    EXPECT_EQ(ParseExact(Bytes(file.begin(), file.end() - 1), bmp), BmpError::kTruncated);
    EXPECT_EQ(ParseExact(Bytes(file.begin(), file.begin() + 60), bmp), BmpError::kTruncated);
    EXPECT_EQ(ParseExact(Bytes(file.begin(), file.begin() + 16), bmp), BmpError::kTruncated);
}

// ---- Files -------------------------------------------------------------------

TEST(Bmp, ReadBmpFileMatchesParseBmp)
{
    test::TempDir dir;
    LoadedBmp bmp;
    EXPECT_EQ(ReadBmpFile(dir / "missing.bmp", bmp), BmpError::kCannotRead);
    for (const VariantCase& c : VariantCases()) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.build();
        // The whole file, and cut inside the file header, the info header,
        // the masks or table, and the last pixel row: a file read from disk
        // (headers first, then the pixels straight into place) is refused
        // or taken exactly as the same bytes in memory.
        for (size_t len : {file.size(), size_t{0}, size_t{13}, size_t{30}, size_t{60}, file.size() - 1}) {
            SCOPED_TRACE(len);
            const Bytes cut(file.begin(), file.begin() + std::min(len, file.size()));
            test::WriteBytes(dir / "v.bmp", cut);
            LoadedBmp fromFile, fromMemory;
            const BmpError e = ParseExact(cut, fromMemory);
            ASSERT_EQ(ReadBmpFile(dir / "v.bmp", fromFile), e);
            if (e == BmpError::kNone) {
                EXPECT_EQ(BuildColorBmp(fromFile), BuildColorBmp(fromMemory));
            }
        }
    }
}

// Reads of picture size are split over the workers: every piece must land
// in its place, and a read past the end gives exactly the bytes there are.
TEST(InputFile, ReadsInPiecesUpToTheEnd)
{
    test::TempDir dir;
    const size_t size = (size_t{40} << 20) + 123;
    Bytes file(size);
    for (size_t i = 0; i < size; ++i)
        file[i] = static_cast<uint8_t>(i ^ (i >> 13));
    test::WriteBytes(dir / "big", file);
    const InputFile f(dir / "big");
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.size(), size);
    const struct {
        uint64_t offset;
        size_t n, got;
    } rows[] = {
        {0, size, size}, {5, size, size - 5}, {size_t{17} << 20, size_t{20} << 20, size_t{20} << 20},
        {size - 10, 100, 10}, {size, 10, 0}, {size + 1000, size_t{33} << 20, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.offset);
        Bytes out(r.n, 0);
        ASSERT_EQ(f.ReadAt(r.offset, out.data(), r.n), r.got);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + r.got, file.begin() + r.offset));
    }
    const InputFile missing(dir / "none");
    EXPECT_FALSE(missing.ok());
    EXPECT_FALSE(InputFile(dir.path()).ok());  // not a regular file
}

// The gray file written in pieces holds the bytes of BuildGrayBmp, for
// widths with each amount of row padding and a picture of several pieces.
TEST(Bmp, GrayFileWrittenInPiecesMatchesTheWholeBuild)
{
    test::TempDir dir;
    for (const auto& [w, h] : {std::pair{1, 1}, {3, 2}, {17, 13}, {1022, 2100}, {1025, 1031}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        Bytes plane(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = static_cast<uint8_t>(i * 7 + i / 251);
        ASSERT_EQ(WriteGrayBmpFile(dir / "g.bmp", plane.data(), w, h), 0);
        EXPECT_EQ(test::ReadBytes(dir / "g.bmp"), BuildGrayBmp(plane.data(), w, h));
    }
    EXPECT_EQ(WriteGrayBmpFile(dir / "missing/g.bmp", Bytes(4).data(), 2, 2), -1);
}

// The pixel limit of an open (what the memory allows) holds for every
// variant, checked on the headers before the pixels are read.
TEST(Bmp, PixelLimitRefusesEveryVariant)
{
    test::TempDir dir;
    for (const VariantCase& c : VariantCases()) {
        SCOPED_TRACE(c.name);
        const Bytes file = c.build();
        LoadedBmp bmp;
        ASSERT_EQ(ParseExact(file, bmp), BmpError::kNone);
        const int64_t pixels = int64_t{bmp.info.width} * bmp.info.height;
        test::WriteBytes(dir / "v.bmp", file);
        for (const auto& [limit, expected] : {std::pair{pixels, BmpError::kNone}, std::pair{pixels - 1, BmpError::kTooLarge}}) {
            LoadedBmp parsed, read;
            EXPECT_EQ(ParseBmp(file.data(), file.size(), parsed, limit), expected);
            EXPECT_EQ(ReadBmp(InputFile(dir / "v.bmp"), limit, read), expected);
        }
    }
}

// ---- Files written by other programs --------------------------------------------

bool CommandWorks(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// 6 x 4 picture whose channels take three levels.
Picture InteropPicture(uint8_t middle = 128)
{
    Picture p{6, 4, {}};
    const uint8_t levels[3] = {0, middle, 255};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            p.px.push_back({levels[x % 3], levels[(x / 3 + y) % 3], levels[(x + 2 * y) % 3]});
    return p;
}

void WritePpm(const std::string& path, const Picture& p)
{
    std::string s = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    for (const Rgb& c : p.px)
        s += {char(c.r), char(c.g), char(c.b)};
    test::WriteText(path, s);
}

TEST(BmpInterop, ImageMagickFiles)
{
    if (!CommandWorks("convert -version | grep -q ImageMagick"))
        GTEST_SKIP() << "ImageMagick is not installed";
    test::TempDir dir;
    const Picture pic = InteropPicture();
    WritePpm(dir / "in.ppm", pic);
    const Picture pure = InteropPicture(0);
    WritePpm(dir / "pure.ppm", pure);
    Picture gray = pic;
    for (Rgb& c : gray.px) c.g = c.b = c.r;
    WritePpm(dir / "gray.ppm", gray);
    // bits and compression say what the writer must have produced, so that
    // each row really exercises the variant it is meant to.
    struct Row { const char* args; const char* input; Picture expected; uint16_t bits; uint32_t compression; };
    const Row rows[] = {
        {"-type truecolor BMP3:", "in.ppm", pic, 24, 0},
        {"-type truecolor BMP:", "in.ppm", pic, 24, 0},
        {"-type truecolor -define bmp:format=bmp4", "in.ppm", pic, 24, 0},
        {"-type palette -compress none BMP3:", "in.ppm", pic, 8, 0},
        {"-type palette -compress none BMP:", "in.ppm", pic, 8, 0},
        {"-type palette -compress RLE BMP3:", "in.ppm", pic, 8, 1},
        {"-type palette -compress RLE BMP:", "in.ppm", pic, 8, 1},
        {"-type truecolormatte BMP:", "in.ppm", pic, 32, 3},
        // Only 0 and 255 are fed to the 16-bit writers: whether they round or
        // truncate, the fields become all zeros and all ones, read back as 0
        // and 255.
        {"-define bmp:subtype=RGB565 BMP:", "pure.ppm", pure, 16, 3},
        {"-define bmp:subtype=RGB555 BMP:", "pure.ppm", pure, 16, 3},
        {"-monochrome BMP3:", "gray.ppm", {}, 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.args);
        std::string args = r.args;
        std::string prefix;
        if (args.back() == ':') {
            const size_t sp = args.rfind(' ');
            prefix = sp == std::string::npos ? args : args.substr(sp + 1);
            args = sp == std::string::npos ? "" : args.substr(0, sp);
        }
        const std::string out = dir / "out.bmp";
        std::remove(out.c_str());
        ASSERT_TRUE(CommandWorks("convert " + dir / r.input + " " + args + " " + prefix + out));
        const Bytes raw = test::ReadBytes(out);
        ASSERT_GE(raw.size(), 34u);
        EXPECT_EQ(GetLe16(raw.data() + 28), r.bits);
        EXPECT_EQ(GetLe32(raw.data() + 30), r.compression);
        LoadedBmp bmp;
        const BmpError e = ReadBmpFile(out, bmp);
        ASSERT_EQ(e, BmpError::kNone) << BmpErrorMessage(e);
        const Picture got = DecodeAll(bmp);
        if (r.bits == 1) {
            // Thresholding is the writer's business; what it wrote must be
            // black and white and keep the pure ones.
            for (size_t i = 0; i < got.px.size(); ++i) {
                const Rgb c = got.px[i];
                ASSERT_TRUE(c == (Rgb{0, 0, 0}) || c == (Rgb{255, 255, 255})) << "pixel " << i;
                if (gray.px[i].r != 128) {
                    EXPECT_EQ(c.r, gray.px[i].r) << "pixel " << i;
                }
            }
            continue;
        }
        EXPECT_TRUE(SamePicture(r.expected, got));
    }
}

TEST(BmpInterop, PillowFiles)
{
    // The distribution's interpreter may carry Pillow when the first one on
    // the path does not.
    std::string python;
    for (const char* candidate : {"python3", "/usr/bin/python3"})
        if (CommandWorks(std::string(candidate) + " -c 'import PIL'")) {
            python = candidate;
            break;
        }
    if (python.empty())
        GTEST_SKIP() << "Pillow is not installed";
    test::TempDir dir;
    const Picture pic = InteropPicture();
    // The script builds the same picture as InteropPicture.
    const std::string script = R"(
import sys
from PIL import Image
out = sys.argv[1]
levels = [0, 128, 255]
img = Image.new('RGB', (6, 4))
for y in range(4):
    for x in range(6):
        img.putpixel((x, y), (levels[x % 3], levels[(x // 3 + y) % 3], levels[(x + 2 * y) % 3]))
img.save(out + '/rgb.bmp')
img.convert('RGBA').save(out + '/rgba.bmp')
pal = Image.new('P', (6, 4))
flat = []
for i in range(27):
    flat += [levels[i // 9], levels[i // 3 % 3], levels[i % 3]]
pal.putpalette(flat)
for y in range(4):
    for x in range(6):
        r, g, b = img.getpixel((x, y))
        pal.putpixel((x, y), levels.index(r) * 9 + levels.index(g) * 3 + levels.index(b))
pal.save(out + '/p.bmp')
gray = Image.new('L', (6, 4))
for y in range(4):
    for x in range(6):
        gray.putpixel((x, y), levels[(x + y) % 3])
gray.save(out + '/l.bmp')
mono = Image.new('1', (9, 3))
for y in range(3):
    for x in range(9):
        mono.putpixel((x, y), 255 if (x * 7 + y) % 3 == 0 else 0)
mono.save(out + '/1.bmp')
)";
    test::WriteText(dir / "make.py", script);
    ASSERT_TRUE(CommandWorks(python + " " + dir / "make.py" + " " + dir.path()));

    Picture gray{6, 4, {}};
    const uint8_t levels[3] = {0, 128, 255};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const uint8_t v = levels[(x + y) % 3];
            gray.px.push_back({v, v, v});
        }
    Picture mono{9, 3, {}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 9; ++x) {
            const uint8_t v = (x * 7 + y) % 3 == 0 ? 255 : 0;
            mono.px.push_back({v, v, v});
        }
    const struct { const char* file; Picture expected; } rows[] = {
        {"rgb.bmp", pic}, {"rgba.bmp", pic}, {"p.bmp", pic}, {"l.bmp", gray}, {"1.bmp", mono},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.file);
        LoadedBmp bmp;
        const BmpError e = ReadBmpFile(dir / r.file, bmp);
        ASSERT_EQ(e, BmpError::kNone) << BmpErrorMessage(e);
        EXPECT_TRUE(SamePicture(r.expected, DecodeAll(bmp)));
    }
}

}  // namespace
}  // namespace lumadrift
