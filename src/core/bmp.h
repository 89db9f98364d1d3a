// BMP files: reading into a canonical DIB, decoding into colour planes,
// writing the loaded file back and writing 8-bit gray files.
//
// Canonical DIB: what the document keeps as "file data" after an open. It is
// the file without its 14-byte file header: a 40-byte info header, n colour
// table entries of 4 bytes (blue, green, red, 0), then bottom-up pixel rows
// padded to 4 bytes, uncompressed. A plain file (40-byte header, BI_RGB,
// positive height) is kept byte for byte (bytes 14 .. stated size), its
// pixels taken at 54 + 4n whatever its pixel offset says. Every other variant
// that can be used (12-byte core header, 52/56/64/108/124-byte headers,
// top-down rows, BI_BITFIELDS, RLE8, RLE4) is converted into the equivalent
// plain DIB on open: bit fields (any contiguous masks; fields narrower than
// 8 bits are widened by repeating their bits, so 5-bit 31 becomes 255, wider
// ones keep their top 8 bits) become 24-bit rows, RLE streams become
// uncompressed 8- or 4-bit rows with the same table. An uncompressed 16-bit
// file with the classic 40-byte header stays as it is and is decoded as 5-6-5
// by shifting (31 -> 248); with a longer header it means 5-5-5 fields and is
// converted like bit fields. Limits: width and height <= 65535,
// width x height <= kMaxPicturePixels (2^30, 32768 x 32768) for every
// variant, and the canonical file within 4 GiB; reading a file also refuses
// (kTooLarge, before its pixels are read or any room is made for them) a
// picture whose pixels times kBytesPerPicturePixel (core/memory.h) exceed
// the memory available.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/memory.h"

namespace lumadrift {

class InputFile;

// The most pixels a picture of any format may have. Every plane offset
// (y * width + x) then fits an int, with room to spare, for any shape.
constexpr int64_t kMaxPicturePixels = int64_t{1} << 30;

enum class BmpError {
    kNone = 0,
    kCannotRead,          // the file cannot be opened or read
    kNotBitmap,           // does not start with "BM" (or shorter than a file header)
    kTruncated,           // headers, table or pixels lie beyond the end of the data
    kBadHeader,           // unknown info-header size, zero or negative width, zero height
    kTooLarge,            // width x height x depth overflows or exceeds the limits
    kUnsupportedBitCount, // bit count other than 1, 4, 8, 16, 24, 32 (or RLE/bitfield mismatch)
    kUnsupportedCompression,  // JPEG, PNG, Huffman, or an unknown compression code
    kBadBitfields,        // masks empty or not contiguous
    kBadRle,              // RLE stream broken or running past the image
    // Pictures in the other formats (core/picture_file.h):
    kBadPictureData,      // the decoder found the header or data broken
    kUnsupportedPicture,  // a kind of PNG, TIFF, JPEG or netpbm file we do not read
};

// The message shown for a refused file, in the system's own style.
// kNotBitmap gives "ﾋﾞｯﾄﾏｯﾌﾟﾌｧｲﾙではありません".
const char* BmpErrorMessage(BmpError e);

// Decoded header values of a canonical DIB.
struct DibInfo {
    int width = 0;
    int height = 0;        // always positive in a canonical DIB
    int bitCount = 0;
    int tableCount = 0;    // n
};

// A loaded BMP file in canonical form.
struct LoadedBmp {
    std::array<uint8_t, 14> fileHeader{};  // "BM", stated size, 0, 0, 54 + 4n
    PictureBytes fileData;                  // info header, table, pixels
    DibInfo info;

    const uint8_t* infoHeader() const { return fileData.data(); }
    const uint8_t* colorTable() const { return fileData.data() + 40; }
    const uint8_t* pixels() const { return fileData.data() + 40 + 4 * static_cast<size_t>(info.tableCount); }
    size_t pixelBytes() const { return fileData.size() - 40 - 4 * static_cast<size_t>(info.tableCount); }
};

// Row stride of a DIB: ((width * bitCount + 31) / 32) * 4.
size_t DibStride(int width, int bitCount);

// kTooLarge when a picture of width x height exceeds the limits above (both
// must be at least 1), else kNone.
BmpError CheckPictureSize(int64_t width, int64_t height);

// Makes out a canonical plain DIB of width x height (within the limits) with
// 8 bits and the 256-entry gray table (i, i, i, 0), or 24 bits and no table;
// pixels zeroed. Returns the first byte of the pixel rows (bottom row first,
// DibStride(width, bitCount) apart). Readers of other formats fill it.
uint8_t* StartCanonicalDib(LoadedBmp& out, int width, int height, int bitCount);

// Parses the bytes of a whole BMP file. Never reads outside [data, data+size).
// A picture of more than maxPixels pixels is refused (kTooLarge). On failure
// out is left unchanged.
BmpError ParseBmp(const uint8_t* data, size_t size, LoadedBmp& out,
                  int64_t maxPixels = kMaxPicturePixels);
// The same from an open file: the headers are read and checked first; a
// plain file's bytes are then read straight into the file data, every other
// variant read whole and converted.
BmpError ReadBmp(const InputFile& file, int64_t maxPixels, LoadedBmp& out);
// ReadBmp with maxPixels lowered to what the available memory allows.
BmpError ReadBmpFile(const std::string& path, LoadedBmp& out);

// Decodes image columns x0..x1 and rows y0..y1 (inclusive, rows counted from
// the top) of canonical pixel data into red, green and blue planes of
// (x1-x0+1) x (y1-y0+1) bytes each, packed row after row from the top row.
// Nothing is written when y1 < y0, x1 < x0, the rectangle leaves the image or
// the bit count is not 1, 4, 8, 16, 24 or 32. A palette index beyond the
// table decodes as black. 16-bit pixels are read as 5-6-5.
void DecodeDibToPlanes(uint8_t* red, uint8_t* green, uint8_t* blue,
                       const uint8_t* pixels, size_t pixelBytes, const DibInfo& info,
                       const uint8_t* colorTable, int x0, int y0, int x1, int y1);

// Builds the whole 8-bit gray BMP of a plane (width x height, top row first):
// 14 + 40 + 1024 header bytes, then rows bottom-up padded with zeros to a
// multiple of 4.
std::vector<uint8_t> BuildGrayBmp(const uint8_t* plane, int width, int height);

// Writes the bytes of BuildGrayBmp to path without building them whole:
// rows are written in pieces, through a temporary file renamed over path
// (core/file_io.h WriteFileWhole). 0, or -1 with path unchanged.
int WriteGrayBmpFile(const std::string& path, const uint8_t* plane, int width, int height);

// A plain 24-bit BMP file of a picture given as rows of blue, green, red
// bytes, top row first, stride bytes apart.
std::vector<uint8_t> BuildBmp24(const uint8_t* bgr, int width, int height, size_t stride);

// The loaded file as it is written back: file header then file data.
std::vector<uint8_t> BuildColorBmp(const LoadedBmp& bmp);

}  // namespace lumadrift
