#include "core/bmp.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/file_io.h"
#include "core/image_model.h"
#include "core/isa.h"
#include "core/memory.h"
#include "core/parallel.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace lumadrift {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kCoreHeaderSize = 12;
// Every header byte ReadLayout looks at: the file header, the longest info
// header and the bit-field masks after a 40-byte one.
constexpr size_t kHeadBytes = kFileHeaderSize + 124 + 16;

// Far beyond any picture this workbench can display or process, and small
// enough that every byte count below fits comfortably in 64 bits. It also
// bounds what a few bytes of RLE stream may ask us to allocate.
constexpr int64_t kMaxSide = 65535;

enum Compression : uint32_t {
    kBiRgb = 0,
    kBiRle8 = 1,
    kBiRle4 = 2,
    kBiBitfields = 3,
    kBiJpeg = 4,
    kBiPng = 5,
    kBiAlphaBitfields = 6,
};

bool IsDibBitCount(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Everything the converter needs to know about the stored file.
struct SourceLayout {
    uint32_t headerSize = 0;
    int64_t width = 0;
    int64_t height = 0;      // absolute value
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = kBiRgb;
    uint64_t tableCount = 0;
    size_t tableEntrySize = 4;
    size_t tableStart = 0;   // offsets into the file
    size_t pixelStart = 0;
    uint32_t masks[3] = {0, 0, 0};
    uint32_t xResolution = 0;
    uint32_t yResolution = 0;
};

uint64_t DefaultTableCount(int bits)
{
    return bits <= 8 ? (uint64_t{1} << bits) : 0;
}

// A 40-byte info header describing a canonical bottom-up uncompressed DIB.
void PutCanonicalInfoHeader(uint8_t* ih, int width, int height, int bits, uint32_t tableCount,
                            uint32_t xRes, uint32_t yRes)
{
    PutLe32(ih + 0, static_cast<uint32_t>(kInfoHeaderSize));
    PutLe32(ih + 4, static_cast<uint32_t>(width));
    PutLe32(ih + 8, static_cast<uint32_t>(height));
    PutLe16(ih + 12, 1);
    PutLe16(ih + 14, static_cast<uint32_t>(bits));
    PutLe32(ih + 16, kBiRgb);
    PutLe32(ih + 20, static_cast<uint32_t>(DibStride(width, bits) * static_cast<size_t>(height)));
    PutLe32(ih + 24, xRes);
    PutLe32(ih + 28, yRes);
    PutLe32(ih + 32, tableCount);
    PutLe32(ih + 36, 0);
}

void PutFileHeader(std::array<uint8_t, 14>& fh, uint32_t fileSize, uint32_t tableCount)
{
    fh[0] = 'B';
    fh[1] = 'M';
    PutLe32(fh.data() + 2, fileSize);
    PutLe16(fh.data() + 6, 0);
    PutLe16(fh.data() + 8, 0);
    PutLe32(fh.data() + 10, static_cast<uint32_t>(54 + 4 * uint64_t{tableCount}));
}

// Checks width and height against the limits; the caller has already made
// sure neither is zero or negative.
BmpError CheckSize(int64_t width, int64_t height, int64_t maxPixels)
{
    if (width > kMaxSide || height > kMaxSide || width * height > std::min(maxPixels, kMaxPicturePixels))
        return BmpError::kTooLarge;
    return BmpError::kNone;
}

// What a plain file keeps: bytes 14 .. end of the file.
struct PlainPlan {
    int width = 0;
    int height = 0;
    int bits = 0;
    uint64_t tableCount = 0;
    uint64_t end = 0;
};

// data holds at least the file and info headers; size is the file's.
BmpError PlanPlain(const uint8_t* data, uint64_t size, int64_t maxPixels, PlainPlan& plan)
{
    const uint8_t* ih = data + kFileHeaderSize;
    const int64_t width = static_cast<int32_t>(GetLe32(ih + 4));
    const int64_t height = static_cast<int32_t>(GetLe32(ih + 8));
    const int bits = static_cast<int>(GetLe16(ih + 14));
    if (BmpError e = CheckSize(width, height, maxPixels); e != BmpError::kNone)
        return e;
    const uint32_t clrUsed = GetLe32(ih + 32);
    const uint64_t n = clrUsed != 0 ? clrUsed : DefaultTableCount(bits);
    const uint64_t stride = DibStride(static_cast<int>(width), bits);
    const uint64_t needed = kFileHeaderSize + kInfoHeaderSize + 4 * n + stride * static_cast<uint64_t>(height);
    if (needed > size)
        return BmpError::kTruncated;
    // The stated size is only a hint: never beyond the real end, never short
    // of what the pixels need.
    const uint64_t stated = GetLe32(data + 2);
    const uint64_t end = std::max(std::min<uint64_t>(stated, size), needed);
    if (end > UINT32_MAX)
        return BmpError::kTooLarge;
    plan.width = static_cast<int>(width);
    plan.height = static_cast<int>(height);
    plan.bits = bits;
    plan.tableCount = n;
    plan.end = end;
    return BmpError::kNone;
}

// Everything but the file data, which the caller has put in place.
void FinishPlain(const PlainPlan& plan, LoadedBmp& out)
{
    out.info.width = plan.width;
    out.info.height = plan.height;
    out.info.bitCount = plan.bits;
    out.info.tableCount = static_cast<int>(plan.tableCount);
    PutFileHeader(out.fileHeader, static_cast<uint32_t>(plan.end), static_cast<uint32_t>(plan.tableCount));
}

// Reads the stored header of any accepted size into layout (no pixel checks).
// Only the first kHeadBytes of data are read; size is the whole file's.
BmpError ReadLayout(const uint8_t* data, uint64_t size, int64_t maxPixels, SourceLayout& s)
{
    if (size < kFileHeaderSize + 4)
        return BmpError::kTruncated;
    s.headerSize = GetLe32(data + kFileHeaderSize);
    switch (s.headerSize) {
    case 12: case 40: case 52: case 56: case 64: case 108: case 124: break;
    default: return BmpError::kBadHeader;
    }
    if (size < kFileHeaderSize + s.headerSize)
        return BmpError::kTruncated;
    const uint8_t* ih = data + kFileHeaderSize;
    int64_t storedHeight = 0;
    uint32_t clrUsed = 0;
    if (s.headerSize == kCoreHeaderSize) {
        s.width = GetLe16(ih + 4);
        storedHeight = GetLe16(ih + 6);
        s.bitCount = static_cast<int>(GetLe16(ih + 10));
        s.tableEntrySize = 3;
    } else {
        s.width = static_cast<int32_t>(GetLe32(ih + 4));
        storedHeight = static_cast<int32_t>(GetLe32(ih + 8));
        s.bitCount = static_cast<int>(GetLe16(ih + 14));
        s.compression = GetLe32(ih + 16);
        s.xResolution = GetLe32(ih + 24);
        s.yResolution = GetLe32(ih + 28);
        clrUsed = GetLe32(ih + 32);
    }
    if (s.width <= 0 || storedHeight == 0)
        return BmpError::kBadHeader;
    s.topDown = storedHeight < 0;
    s.height = s.topDown ? -storedHeight : storedHeight;
    if (!IsDibBitCount(s.bitCount))
        return BmpError::kUnsupportedBitCount;

    // The 64-byte header is the OS/2 one: its codes 3 and 4 mean Huffman and
    // RLE24, neither of which we decode.
    if (s.headerSize == 64 && (s.compression == 3 || s.compression == 4))
        return BmpError::kUnsupportedCompression;
    switch (s.compression) {
    case kBiRgb: break;
    case kBiRle8: if (s.bitCount != 8) return BmpError::kUnsupportedBitCount; break;
    case kBiRle4: if (s.bitCount != 4) return BmpError::kUnsupportedBitCount; break;
    case kBiBitfields:
    case kBiAlphaBitfields:
        if (s.bitCount != 16 && s.bitCount != 32)
            return BmpError::kUnsupportedBitCount;
        break;
    default: return BmpError::kUnsupportedCompression;
    }
    if (BmpError e = CheckSize(s.width, s.height, maxPixels); e != BmpError::kNone)
        return e;

    size_t afterHeader = kFileHeaderSize + s.headerSize;
    const bool bitfields = s.compression == kBiBitfields || s.compression == kBiAlphaBitfields;
    if (bitfields) {
        const uint8_t* m = ih + 40;
        if (s.headerSize == kInfoHeaderSize) {
            // The masks follow a 40-byte header; an alpha mask comes with code 6.
            const size_t maskBytes = s.compression == kBiAlphaBitfields ? 16 : 12;
            if (size < afterHeader + maskBytes)
                return BmpError::kTruncated;
            m = data + afterHeader;
            afterHeader += maskBytes;
        }
        for (int i = 0; i < 3; ++i)
            s.masks[i] = GetLe32(m + 4 * i);
    } else if (s.compression == kBiRgb && s.bitCount == 16 && s.headerSize != kInfoHeaderSize) {
        // Writers that use the longer headers mean 5-5-5 by an uncompressed
        // 16-bit file; only the classic 40-byte layout is read as 5-6-5.
        s.masks[0] = 0x7C00;
        s.masks[1] = 0x03E0;
        s.masks[2] = 0x001F;
    }

    s.tableCount = clrUsed != 0 ? clrUsed : DefaultTableCount(s.bitCount);
    s.tableStart = afterHeader;
    const uint64_t storedOffset = GetLe32(data + 10);
    if (s.headerSize == kCoreHeaderSize && s.tableCount > 0 && storedOffset > afterHeader &&
        storedOffset < afterHeader + s.tableCount * 3 && (storedOffset - afterHeader) % 3 == 0) {
        // Some writers store a shorter core table and say so only through
        // the pixel offset.
        s.tableCount = (storedOffset - afterHeader) / 3;
    }
    const uint64_t tableEnd = afterHeader + s.tableCount * s.tableEntrySize;
    if (tableEnd > size)
        return BmpError::kTruncated;
    s.pixelStart = storedOffset >= tableEnd && storedOffset < size ? static_cast<size_t>(storedOffset)
                                                                  : static_cast<size_t>(tableEnd);
    return BmpError::kNone;
}

// Field extraction for one bit-field mask: shift down to the field; wider
// fields keep their top 8 bits, narrower ones are widened by repeating their
// bits (5 bits: abcde -> abcdeabc) so that full scale stays 255 and every
// field value spreads evenly over 0..255, as viewers show such files.
struct FieldDecoder {
    uint32_t mask = 0;
    int shift = 0;
    int width = 0;
    uint8_t widened[128] = {};  // fields of 1..7 bits

    uint8_t operator()(uint32_t v) const
    {
        if (width == 0)
            return 0;
        const uint32_t f = (v & mask) >> shift;
        return width >= 8 ? static_cast<uint8_t>(f >> (width - 8)) : widened[f];
    }
};

uint8_t WidenByRepetition(uint32_t f, int width)
{
    uint32_t bits = 0;
    int filled = 0;
    for (; filled < 8; filled += width)
        bits = (bits << width) | f;
    return static_cast<uint8_t>(bits >> (filled - 8));
}

bool MakeField(uint32_t mask, int bits, FieldDecoder& f)
{
    f = FieldDecoder{};
    if (mask == 0)
        return true;
    if (bits < 32 && (mask >> bits) != 0)
        return false;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const uint32_t field = mask >> shift;
    if ((field & (field + 1)) != 0)  // not one run of ones
        return false;
    int width = 0;
    while (width < 32 && ((field >> width) & 1) != 0)
        ++width;
    f.mask = mask;
    f.shift = shift;
    f.width = width;
    if (width < 8)
        for (uint32_t v = 0; v < (1u << width); ++v)
            f.widened[v] = WidenByRepetition(v, width);
    return true;
}

struct Fields {
    FieldDecoder red, green, blue;
};

BmpError MakeFields(const SourceLayout& s, Fields& f)
{
    if (!MakeField(s.masks[0], s.bitCount, f.red) || !MakeField(s.masks[1], s.bitCount, f.green) ||
        !MakeField(s.masks[2], s.bitCount, f.blue))
        return BmpError::kBadBitfields;
    if (f.red.width == 0 && f.green.width == 0 && f.blue.width == 0)
        return BmpError::kBadBitfields;
    return BmpError::kNone;
}

// Converts bit-field rows (16 or 32 bits) to 24-bit rows of the output.
void ConvertBitfields(const uint8_t* src, size_t srcStride, const SourceLayout& s, const Fields& f,
                      uint8_t* dst, size_t dstStride)
{
    const FieldDecoder& red = f.red;
    const FieldDecoder& green = f.green;
    const FieldDecoder& blue = f.blue;
    const size_t w = static_cast<size_t>(s.width);
    for (int64_t row = 0; row < s.height; ++row) {
        const uint8_t* in = src + static_cast<size_t>(row) * srcStride;
        const int64_t outRow = s.topDown ? s.height - 1 - row : row;
        uint8_t* o = dst + static_cast<size_t>(outRow) * dstStride;
        if (s.bitCount == 16) {
            for (size_t x = 0; x < w; ++x, in += 2, o += 3) {
                const uint32_t v = GetLe16(in);
                o[0] = blue(v);
                o[1] = green(v);
                o[2] = red(v);
            }
        } else {
            for (size_t x = 0; x < w; ++x, in += 4, o += 3) {
                const uint32_t v = GetLe32(in);
                o[0] = blue(v);
                o[1] = green(v);
                o[2] = red(v);
            }
        }
    }
}

void PutIndex(uint8_t* row, int bits, int64_t x, uint8_t index)
{
    if (bits == 8) {
        row[x] = index;
    } else {
        uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
    }
}

// Decodes an RLE8 or RLE4 stream into zeroed uncompressed rows in stream
// order (first row of the stream first). Runs that leave the row or the image
// are clipped; a stream that stops early leaves the rest at index 0.
void DecodeRle(const uint8_t* p, const uint8_t* end, int bits, int64_t width, int64_t height,
               uint8_t* dst, size_t stride)
{
    int64_t x = 0;
    int64_t y = 0;
    while (end - p >= 2 && y < height) {
        const uint8_t count = p[0];
        const uint8_t value = p[1];
        p += 2;
        uint8_t* row = dst + static_cast<size_t>(y) * stride;
        if (count > 0) {
            for (int i = 0; i < count && x < width; ++i, ++x) {
                const uint8_t index = bits == 8 ? value : ((i & 1) ? (value & 0x0F) : (value >> 4));
                PutIndex(row, bits, x, index);
            }
            continue;
        }
        if (value == 0) {           // end of line
            x = 0;
            ++y;
        } else if (value == 1) {    // end of bitmap
            break;
        } else if (value == 2) {    // delta
            if (end - p < 2)
                break;
            x += p[0];
            y += p[1];
            p += 2;
        } else {                    // absolute run of `value` pixels, word aligned
            const size_t dataBytes = bits == 8 ? value : (value + 1u) / 2;
            const size_t available = static_cast<size_t>(end - p);
            const size_t usable = std::min(dataBytes, available);
            for (int i = 0; i < value; ++i, ++x) {
                const size_t byte = bits == 8 ? static_cast<size_t>(i) : static_cast<size_t>(i) / 2;
                if (byte >= usable)
                    break;
                if (x >= width)
                    continue;
                const uint8_t index = bits == 8 ? p[byte] : ((i & 1) ? (p[byte] & 0x0F) : (p[byte] >> 4));
                PutIndex(row, bits, x, index);
            }
            const size_t advance = dataBytes + (dataBytes & 1);
            if (advance > available)
                break;
            p += advance;
        }
    }
}

BmpError ParseConverted(const uint8_t* data, size_t size, const SourceLayout& s, LoadedBmp& out)
{
    const bool rle = s.compression == kBiRle8 || s.compression == kBiRle4;
    const bool toRgb24 = s.masks[0] != 0 || s.masks[1] != 0 || s.masks[2] != 0 ||
                         s.compression == kBiBitfields || s.compression == kBiAlphaBitfields;
    const int outBits = toRgb24 ? 24 : s.bitCount;
    const uint64_t outTable = toRgb24 ? 0 : s.tableCount;
    const int width = static_cast<int>(s.width);
    const int height = static_cast<int>(s.height);
    const size_t outStride = DibStride(width, outBits);
    const uint64_t outPixels = static_cast<uint64_t>(outStride) * static_cast<uint64_t>(height);

    const uint64_t stated = GetLe32(data + 2);
    const uint8_t* src = data + s.pixelStart;
    size_t srcStride = 0;
    if (!rle) {
        srcStride = DibStride(width, s.bitCount);
        if (s.pixelStart + static_cast<uint64_t>(srcStride) * static_cast<uint64_t>(height) > size)
            return BmpError::kTruncated;
    }
    const uint64_t outSize = kFileHeaderSize + kInfoHeaderSize + 4 * outTable + outPixels;
    if (outSize > UINT32_MAX)
        return BmpError::kTooLarge;
    Fields fields;
    if (toRgb24) {
        if (BmpError e = MakeFields(s, fields); e != BmpError::kNone)
            return e;
    }

    // Nothing can fail from here on, so out is filled in place (reusing its
    // buffer when a file of the same size is opened again).
    out.fileData.assign(static_cast<size_t>(outSize - kFileHeaderSize), 0);
    uint8_t* ih = out.fileData.data();
    PutCanonicalInfoHeader(ih, width, height, outBits, static_cast<uint32_t>(outTable),
                           s.xResolution, s.yResolution);
    uint8_t* table = ih + kInfoHeaderSize;
    for (uint64_t i = 0; i < outTable; ++i) {
        const uint8_t* e = data + s.tableStart + i * s.tableEntrySize;
        table[4 * i + 0] = e[0];
        table[4 * i + 1] = e[1];
        table[4 * i + 2] = e[2];
        table[4 * i + 3] = 0;
    }
    uint8_t* pixels = table + 4 * outTable;

    if (toRgb24) {
        ConvertBitfields(src, srcStride, s, fields, pixels, outStride);
    } else if (rle) {
        // The stream runs to the stated end when that is believable, else to
        // the real end of the file.
        const size_t streamEnd =
            stated > s.pixelStart && stated <= size ? static_cast<size_t>(stated) : size;
        DecodeRle(src, data + streamEnd, s.bitCount, s.width, s.height, pixels, outStride);
        if (s.topDown) {
            std::vector<uint8_t> tmp(outStride);
            for (int y = 0; y < height / 2; ++y) {
                uint8_t* a = pixels + static_cast<size_t>(y) * outStride;
                uint8_t* b = pixels + static_cast<size_t>(height - 1 - y) * outStride;
                std::memcpy(tmp.data(), a, outStride);
                std::memcpy(a, b, outStride);
                std::memcpy(b, tmp.data(), outStride);
            }
        }
    } else {
        for (int row = 0; row < height; ++row) {
            const int outRow = s.topDown ? height - 1 - row : row;
            std::memcpy(pixels + static_cast<size_t>(outRow) * outStride,
                        src + static_cast<size_t>(row) * srcStride, outStride);
        }
    }

    out.info.width = width;
    out.info.height = height;
    out.info.bitCount = outBits;
    out.info.tableCount = static_cast<int>(outTable);
    PutFileHeader(out.fileHeader, static_cast<uint32_t>(outSize), static_cast<uint32_t>(outTable));
    return BmpError::kNone;
}

// ---- Decoding canonical pixels into planes --------------------------------
//
// One loop per depth, chosen once per call, so no pixel pays for a branch on
// the depth.

struct Palette {
    uint8_t r[256], g[256], b[256];
};

void MakePalette(const uint8_t* table, int count, Palette& p)
{
    std::memset(&p, 0, sizeof p);  // indices without an entry are black
    const int n = table ? std::min(count, 256) : 0;
    for (int i = 0; i < n; ++i) {
        p.b[i] = table[4 * i + 0];
        p.g[i] = table[4 * i + 1];
        p.r[i] = table[4 * i + 2];
    }
}

struct RowJob {
    const uint8_t* pixels;
    size_t stride;
    int height;
    int x0, y0, x1, y1;
};

struct NoBandEnd {
    void operator()() const {}
};

// Rows are decoded each on its own, so bands of them go to the pool;
// bandEnd runs in the thread that decoded a band, after it.
template <typename RowFn, typename BandEnd = NoBandEnd>
void ForEachRow(const RowJob& j, uint8_t* red, uint8_t* green, uint8_t* blue, RowFn fn,
                BandEnd bandEnd = {})
{
    const size_t w = static_cast<size_t>(j.x1 - j.x0 + 1);
    ParallelFor(j.y0, j.y1 + 1, RowsForBytes(3 * w), [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            const uint8_t* row = j.pixels + static_cast<size_t>(j.height - 1 - y) * j.stride;
            const size_t o = static_cast<size_t>(y - j.y0) * w;
            fn(row, red + o, green + o, blue + o, w);
        }
        bandEnd();
    });
}

void DecodeIndexed1(const RowJob& j, const Palette& p, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        for (size_t i = 0; i < w; ++i) {
            const size_t x = j.x0 + i;
            const uint8_t idx = (row[x >> 3] >> (7 - (x & 7))) & 1;
            r[i] = p.r[idx];
            g[i] = p.g[idx];
            b[i] = p.b[idx];
        }
    });
}

void DecodeIndexed4(const RowJob& j, const Palette& p, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        for (size_t i = 0; i < w; ++i) {
            const size_t x = j.x0 + i;
            const uint8_t idx = (row[x >> 1] >> ((~x & 1) << 2)) & 0x0F;
            r[i] = p.r[idx];
            g[i] = p.g[idx];
            b[i] = p.b[idx];
        }
    });
}

void DecodeIndexed8(const RowJob& j, const Palette& p, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        const uint8_t* s = row + j.x0;
        for (size_t i = 0; i < w; ++i) {
            const uint8_t idx = s[i];
            r[i] = p.r[idx];
            g[i] = p.g[idx];
            b[i] = p.b[idx];
        }
    });
}

void Decode565(const RowJob& j, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        const uint8_t* s = row + 2 * static_cast<size_t>(j.x0);
        for (size_t i = 0; i < w; ++i, s += 2) {
            const unsigned lo = s[0];
            const unsigned hi = s[1];
            r[i] = static_cast<uint8_t>(hi & 0xF8);
            g[i] = static_cast<uint8_t>(((hi << 5) | ((lo >> 3) & 0x1C)) & 0xFF);
            b[i] = static_cast<uint8_t>((lo << 3) & 0xFF);
        }
    });
}

// Splits interleaved blue, green, red (and an ignored fourth byte) into planes.
template <int kStep>
void SplitBgr(const uint8_t* __restrict s, uint8_t* __restrict r, uint8_t* __restrict g,
              uint8_t* __restrict b, size_t w)
{
    for (size_t i = 0; i < w; ++i) {
        b[i] = s[kStep * i + 0];
        g[i] = s[kStep * i + 1];
        r[i] = s[kStep * i + 2];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// 16 pixels per step with byte shuffles; the scalar loop does the edges.
// With stream set, the planes are written around the cache: a whole image
// is far larger than the cache anyway, and this saves reading every
// destination line before overwriting it.
__attribute__((target("ssse3"))) void SplitBgr24Ssse3(const uint8_t* __restrict s, uint8_t* __restrict r,
                                                       uint8_t* __restrict g, uint8_t* __restrict b, size_t w,
                                                       bool stream)
{
    // For each of the three 16-byte input blocks, the shuffle that gathers
    // one colour's bytes into their place in the 16-pixel output (-1 = 0).
    alignas(16) static const int8_t kMask[3][3][16] = {
        {   // blue
            {0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13},
        },
        {   // green
            {1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14},
        },
        {   // red
            {2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1},
            {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15},
        },
    };
    __m128i m[3][3];
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            m[c][k] = _mm_load_si128(reinterpret_cast<const __m128i*>(kMask[c][k]));
    size_t i = 0;
    if (stream) {
        while (i < w && (reinterpret_cast<uintptr_t>(r + i) & 15) != 0)
            ++i;
        SplitBgr<3>(s, r, g, b, i);
        s += 3 * i;
        stream = ((reinterpret_cast<uintptr_t>(g + i) | reinterpret_cast<uintptr_t>(b + i)) & 15) == 0;
    }
    for (; i + 16 <= w; i += 16, s += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i bb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const __m128i vb = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[0][0]), _mm_shuffle_epi8(bb, m[0][1])),
                                        _mm_shuffle_epi8(c, m[0][2]));
        const __m128i vg = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[1][0]), _mm_shuffle_epi8(bb, m[1][1])),
                                        _mm_shuffle_epi8(c, m[1][2]));
        const __m128i vr = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[2][0]), _mm_shuffle_epi8(bb, m[2][1])),
                                        _mm_shuffle_epi8(c, m[2][2]));
        if (stream) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(b + i), vb);
            _mm_stream_si128(reinterpret_cast<__m128i*>(g + i), vg);
            _mm_stream_si128(reinterpret_cast<__m128i*>(r + i), vr);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b + i), vb);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(g + i), vg);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), vr);
        }
    }
    SplitBgr<3>(s, r + i, g + i, b + i, w - i);
}

// Planes smaller than this stay in the cache for whoever reads them next.
constexpr size_t kStreamThreshold = size_t{4} << 20;

// SSSE3 is not part of the Sse2 level's baseline, so it is checked on top.
bool HaveSsse3()
{
    static const bool have = __builtin_cpu_supports("ssse3");
    return have && ActiveIsa() >= IsaLevel::Sse2;
}
#endif

void DecodeBgr24(const RowJob& j, uint8_t* red, uint8_t* green, uint8_t* blue)
{
#if defined(__x86_64__) && defined(__GNUC__)
    if (HaveSsse3()) {
        const size_t planeBytes = static_cast<size_t>(j.x1 - j.x0 + 1) * static_cast<size_t>(j.y1 - j.y0 + 1);
        const bool stream = planeBytes >= kStreamThreshold;
        ForEachRow(
            j, red, green, blue,
            [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
                SplitBgr24Ssse3(row + 3 * static_cast<size_t>(j.x0), r, g, b, w, stream);
            },
            [&] {
                if (stream)
                    _mm_sfence();
            });
        return;
    }
#endif
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        SplitBgr<3>(row + 3 * static_cast<size_t>(j.x0), r, g, b, w);
    });
}

void DecodeBgrx32(const RowJob& j, uint8_t* red, uint8_t* green, uint8_t* blue)
{
    ForEachRow(j, red, green, blue, [&](const uint8_t* row, uint8_t* r, uint8_t* g, uint8_t* b, size_t w) {
        SplitBgr<4>(row + 4 * static_cast<size_t>(j.x0), r, g, b, w);
    });
}

}  // namespace

const char* BmpErrorMessage(BmpError e)
{
    switch (e) {
    case BmpError::kNone: return "";
    case BmpError::kCannotRead: return "ﾌｧｲﾙが読み込めません";
    case BmpError::kNotBitmap: return "ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙではありません";
    case BmpError::kTruncated: return "ﾌｧｲﾙが途中で切れています";
    case BmpError::kBadHeader: return "ﾋﾞｯﾄﾏｯﾌﾟのﾍｯﾀﾞｰが正しくありません";
    case BmpError::kTooLarge: return "画像が大きすぎます";
    case BmpError::kUnsupportedBitCount: return "ｻﾎﾟｰﾄしていないﾋﾞｯﾄ数です";
    case BmpError::kUnsupportedCompression: return "ｻﾎﾟｰﾄしていない圧縮形式です";
    case BmpError::kBadBitfields: return "ﾋﾞｯﾄﾌｨｰﾙﾄﾞのﾏｽｸが正しくありません";
    case BmpError::kBadRle: return "RLE圧縮ﾃﾞｰﾀが壊れています";
    case BmpError::kBadPictureData: return "画像ﾃﾞｰﾀが壊れています";
    case BmpError::kUnsupportedPicture: return "ｻﾎﾟｰﾄしていない画像形式です";
    }
    return "";
}

size_t DibStride(int width, int bitCount)
{
    return ((static_cast<size_t>(width) * static_cast<size_t>(bitCount) + 31) / 32) * 4;
}

BmpError CheckPictureSize(int64_t width, int64_t height)
{
    if (width < 1 || height < 1)
        return BmpError::kBadHeader;
    return CheckSize(width, height, kMaxPicturePixels);
}

uint8_t* StartCanonicalDib(LoadedBmp& out, int width, int height, int bitCount)
{
    const uint32_t tableCount = bitCount == 8 ? 256 : 0;
    const size_t stride = DibStride(width, bitCount);
    out.fileData.assign(kInfoHeaderSize + 4 * size_t{tableCount} + stride * static_cast<size_t>(height), 0);
    uint8_t* ih = out.fileData.data();
    PutCanonicalInfoHeader(ih, width, height, bitCount, tableCount, 0, 0);
    for (uint32_t i = 0; i < tableCount; ++i) {
        uint8_t* e = ih + kInfoHeaderSize + 4 * i;
        e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
    }
    out.info.width = width;
    out.info.height = height;
    out.info.bitCount = bitCount;
    out.info.tableCount = static_cast<int>(tableCount);
    PutFileHeader(out.fileHeader, static_cast<uint32_t>(kFileHeaderSize + out.fileData.size()), tableCount);
    return ih + kInfoHeaderSize + 4 * size_t{tableCount};
}

namespace {

bool IsPlain(const SourceLayout& s)
{
    return s.headerSize == kInfoHeaderSize && s.compression == kBiRgb && !s.topDown;
}

// data holds the file's first min(size, kHeadBytes) bytes at least.
BmpError CheckBitmap(const uint8_t* data, uint64_t size, int64_t maxPixels, SourceLayout& layout)
{
    if (!data || size < kFileHeaderSize || data[0] != 'B' || data[1] != 'M')
        return BmpError::kNotBitmap;
    return ReadLayout(data, size, maxPixels, layout);
}

}  // namespace

BmpError ParseBmp(const uint8_t* data, size_t size, LoadedBmp& out, int64_t maxPixels)
{
    SourceLayout layout;
    if (BmpError e = CheckBitmap(data, size, maxPixels, layout); e != BmpError::kNone)
        return e;
    if (!IsPlain(layout))
        return ParseConverted(data, size, layout, out);
    PlainPlan plan;
    if (BmpError e = PlanPlain(data, size, maxPixels, plan); e != BmpError::kNone)
        return e;
    out.fileData.assign(data + kFileHeaderSize, data + plan.end);
    FinishPlain(plan, out);
    return BmpError::kNone;
}

BmpError ReadBmp(const InputFile& file, int64_t maxPixels, LoadedBmp& out)
{
    if (!file.ok())
        return BmpError::kCannotRead;
    // The headers first: they decide, before the pixels are read or any
    // room is made for them, whether the picture is taken at all.
    uint8_t head[kHeadBytes] = {};
    const uint64_t size = std::min<uint64_t>(file.size(), kHeadBytes);
    const uint64_t got = file.ReadAt(0, head, static_cast<size_t>(size));
    SourceLayout layout;
    // A file that shrank since it was opened is judged by what is left.
    if (BmpError e = CheckBitmap(head, got < size ? got : file.size(), maxPixels, layout); e != BmpError::kNone)
        return e;
    if (!IsPlain(layout)) {
        // Converting reads every byte anyway; the file is read whole.
        PictureBytes bytes;
        file.ReadAll(bytes);
        return ParseBmp(bytes.data(), bytes.size(), out, maxPixels);
    }
    PlainPlan plan;
    if (BmpError e = PlanPlain(head, file.size(), maxPixels, plan); e != BmpError::kNone)
        return e;
    // A plain file is kept as it is: everything after the file header goes
    // straight into the file data, with no buffer of the whole file and no
    // copy.
    PictureBytes data;
    data.resize(static_cast<size_t>(plan.end) - kFileHeaderSize);
    const size_t read = file.ReadAt(kFileHeaderSize, data.data(), data.size());
    if (read < data.size()) {
        // Shrunk meanwhile: what is left must still hold the pixels.
        PlainPlan again;
        if (PlanPlain(head, kFileHeaderSize + read, maxPixels, again) != BmpError::kNone)
            return BmpError::kTruncated;
        plan = again;
        data.resize(static_cast<size_t>(plan.end) - kFileHeaderSize);
    }
    out.fileData = std::move(data);
    FinishPlain(plan, out);
    return BmpError::kNone;
}

BmpError ReadBmpFile(const std::string& path, LoadedBmp& out)
{
    return ReadBmp(InputFile(path), PixelsThatFit(kMaxPicturePixels, AvailableMemory()), out);
}

void DecodeDibToPlanes(uint8_t* red, uint8_t* green, uint8_t* blue,
                       const uint8_t* pixels, size_t pixelBytes, const DibInfo& info,
                       const uint8_t* colorTable, int x0, int y0, int x1, int y1)
{
    if (!red || !green || !blue || !pixels)
        return;
    if (y1 < y0 || x1 < x0 || x0 < 0 || y0 < 0 || x1 >= info.width || y1 >= info.height)
        return;
    if (!IsDibBitCount(info.bitCount))
        return;
    const size_t stride = DibStride(info.width, info.bitCount);
    // The topmost requested row is the last one in the data; its used bytes
    // must lie inside what the caller gave us.
    const uint64_t lastByte = static_cast<uint64_t>(info.height - 1 - y0) * stride +
                              (static_cast<uint64_t>(x1 + 1) * info.bitCount + 7) / 8;
    if (lastByte > pixelBytes)
        return;

    const RowJob job{pixels, stride, info.height, x0, y0, x1, y1};
    Palette palette;
    switch (info.bitCount) {
    case 1:
        MakePalette(colorTable, info.tableCount, palette);
        DecodeIndexed1(job, palette, red, green, blue);
        break;
    case 4:
        MakePalette(colorTable, info.tableCount, palette);
        DecodeIndexed4(job, palette, red, green, blue);
        break;
    case 8:
        MakePalette(colorTable, info.tableCount, palette);
        DecodeIndexed8(job, palette, red, green, blue);
        break;
    case 16: Decode565(job, red, green, blue); break;
    case 24: DecodeBgr24(job, red, green, blue); break;
    case 32: DecodeBgrx32(job, red, green, blue); break;
    }
}

std::vector<uint8_t> BuildGrayBmp(const uint8_t* plane, int width, int height)
{
    if (!plane || width <= 0 || height <= 0)
        return {};
    const GrayHeader h = MakeGrayHeader(width, height);
    const size_t stride = static_cast<size_t>(h.stride());
    const size_t w = static_cast<size_t>(width);
    const size_t headerBytes = 14 + 40 + h.colorTable.size();
    const size_t total = headerBytes + stride * static_cast<size_t>(height);
    std::vector<uint8_t> out;
    out.reserve(total);
    AdviseHugePages(out.data(), total);
    out.resize(total);
    uint8_t* p = out.data();
    std::memcpy(p, h.fileHeader.data(), 14);
    std::memcpy(p + 14, h.infoHeader.data(), 40);
    std::memcpy(p + 54, h.colorTable.data(), h.colorTable.size());
    p += headerBytes;
    ParallelFor(0, height, RowsForBytes(w), [&](int first, int last) {
        for (int y = first; y < last; ++y)
            std::memcpy(p + static_cast<size_t>(height - 1 - y) * stride, plane + static_cast<size_t>(y) * w, w);
    });
    return out;  // the row padding is still zero from the vector's construction
}

int WriteGrayBmpFile(const std::string& path, const uint8_t* plane, int width, int height)
{
    if (!plane || width <= 0 || height <= 0)
        return -1;
    const GrayHeader h = MakeGrayHeader(width, height);
    const size_t stride = static_cast<size_t>(h.stride());
    const size_t w = static_cast<size_t>(width);
    const size_t headerBytes = 14 + 40 + h.colorTable.size();
    // Rows go out in pieces of about this size, each assembled bottom-up
    // with its padding in a small buffer: no buffer of the whole file, and
    // the kernel fills the file's pages in every worker at once.
    const int pieceRows = RowsForBytes(stride, size_t{1} << 20);
    return WriteFileWith(path, [&](int fd) {
        std::vector<uint8_t> head(headerBytes);
        std::memcpy(head.data(), h.fileHeader.data(), 14);
        std::memcpy(head.data() + 14, h.infoHeader.data(), 40);
        std::memcpy(head.data() + 54, h.colorTable.data(), h.colorTable.size());
        if (!WriteAllAt(fd, head.data(), head.size(), 0))
            return false;
        std::atomic<bool> ok{true};
        ParallelFor(0, height, pieceRows, [&](int first, int last) {
            std::vector<uint8_t> piece(static_cast<size_t>(std::min(pieceRows, last - first)) * stride, 0);
            for (int top = first; top < last && ok.load(std::memory_order_relaxed); top += pieceRows) {
                const int bottom = std::min(top + pieceRows, last);  // plane rows [top, bottom)
                const size_t rows = static_cast<size_t>(bottom - top);
                for (size_t r = 0; r < rows; ++r)  // file order: the plane's lowest row first
                    std::memcpy(piece.data() + r * stride, plane + (static_cast<size_t>(bottom) - 1 - r) * w, w);
                const uint64_t offset = headerBytes + static_cast<uint64_t>(height - bottom) * stride;
                if (!WriteAllAt(fd, piece.data(), rows * stride, offset))
                    ok = false;
            }
        });
        return ok.load();
    });
}

std::vector<uint8_t> BuildBmp24(const uint8_t* bgr, int width, int height, size_t stride)
{
    const size_t fileStride = DibStride(width, 24);
    std::vector<uint8_t> file(54 + fileStride * static_cast<size_t>(height), 0);
    file[0] = 'B';
    file[1] = 'M';
    PutLe32(&file[2], static_cast<uint32_t>(file.size()));
    PutLe32(&file[10], 54);
    PutLe32(&file[14], 40);
    PutLe32(&file[18], static_cast<uint32_t>(width));
    PutLe32(&file[22], static_cast<uint32_t>(height));
    PutLe16(&file[26], 1);
    PutLe16(&file[28], 24);
    for (int y = 0; y < height; ++y)
        std::memcpy(&file[54 + static_cast<size_t>(height - 1 - y) * fileStride],
                    bgr + static_cast<size_t>(y) * stride, static_cast<size_t>(width) * 3);
    return file;
}

std::vector<uint8_t> BuildColorBmp(const LoadedBmp& bmp)
{
    std::vector<uint8_t> out;
    out.reserve(14 + bmp.fileData.size());
    out.insert(out.end(), bmp.fileHeader.begin(), bmp.fileHeader.end());
    out.insert(out.end(), bmp.fileData.begin(), bmp.fileData.end());
    return out;
}

}  // namespace lumadrift
