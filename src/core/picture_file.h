// Pictures in the common file formats. Opening any of them gives the same
// canonical DIB that opening a BMP gives (core/bmp.h), so everything after
// the open (acquisition, show-source, save, replay) works on one form:
//
//   BMP            every variant ParseBmp reads
//   PNG            any colour type and depth (libpng); palettes become 24-bit
//                  rows, alpha and transparency are dropped
//   TIFF           the first page (libtiff); 8- and 16-bit gray and RGB
//                  samples, stripped or tiled, chunky or planar, read
//                  directly; palette, bilevel, YCbCr and other layouts through
//                  libtiff's RGBA reader
//   JPEG           gray and colour (libjpeg-turbo); CMYK is refused; any
//                  decoder warning (a damaged or cut stream) refuses the file
//   PGM/PPM        P2, P3, P5, P6 with any maximum value up to 65535
//
// Gray pictures become 8-bit DIBs with the gray table (i, i, i, 0), all others
// 24-bit DIBs. Samples wider than 8 bits, and netpbm samples of any maximum
// value, are scaled to 0..255 by rounding half up: v8 = (v * 255 + max / 2) /
// max, so 16-bit 65535 is 255 and 32896 is 128. The format is told by the
// file's first bytes, never by its name; a file that is none of them is
// refused as not a bitmap, as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bmp.h"

namespace lumadrift {

enum class PictureFormat { kUnknown, kBmp, kPng, kTiff, kJpeg, kNetpbm };

// The format the first bytes announce (kUnknown for none).
PictureFormat SniffPictureFormat(const uint8_t* data, size_t size);

// Parses a whole file of any of the formats into out. Never reads outside
// [data, data+size). A picture of more than maxPixels pixels (within
// kMaxPicturePixels, core/bmp.h) is refused (kTooLarge) before its pixels
// get any room; tests and fuzzing pass less. On failure out is left
// unchanged and the error tells why, with the same messages as for BMP
// files (BmpErrorMessage).
BmpError ParsePicture(const uint8_t* data, size_t size, LoadedBmp& out,
                      int64_t maxPixels = kMaxPicturePixels);
// Reads a file of any of the formats, refusing (kTooLarge) a picture whose
// pixels times kBytesPerPicturePixel (core/memory.h) exceed the memory
// available before its pixels get any room. A BMP goes through ReadBmp.
BmpError ReadPictureFile(const std::string& path, LoadedBmp& out);

// True for names a folder of pictures offers: .bmp .png .tif .tiff .jpg
// .jpeg .pgm .ppm .pnm, in any letter case.
bool IsPictureFileName(const std::string& name);

// The filter texts of the open and save dialogs (Qt's ";;" form). The open
// filter lists every format first; the save filter starts with BMP.
extern const char kOpenPictureFilter[];
extern const char kSavePictureFilter[];

// The format a save to path writes: kPng for ".png", kTiff for ".tif" and
// ".tiff" (any letter case), kBmp for everything else.
PictureFormat SaveFormatForPath(const std::string& path);
// ".bmp", ".png" or ".tif" for the formats a save writes.
const char* PictureExtension(PictureFormat f);

// A gray plane (width x height, top row first) as a whole file: the 8-bit
// gray BMP of BuildGrayBmp, or an 8-bit gray PNG or TIFF. Empty on failure.
std::vector<uint8_t> EncodeGrayPicture(PictureFormat f, const uint8_t* plane, int width, int height);
// The loaded picture as a whole file: BMP writes it back (BuildColorBmp);
// PNG and TIFF get its decoded pixels, 8-bit gray when every colour of a
// palette picture is gray, else 8-bit RGB. Empty on failure.
std::vector<uint8_t> EncodeLoadedPicture(PictureFormat f, const LoadedBmp& bmp);

// Write the file whole in the format SaveFormatForPath picks; 0 or -1.
int WriteGrayPicture(const std::string& path, const uint8_t* plane, int width, int height);
int WriteLoadedPicture(const std::string& path, const LoadedBmp& bmp);

}  // namespace lumadrift
