// Image bookkeeping shared by the document, the filters and the views.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace lumadrift {

// Document state code; 6 is unused.
enum ImageState : int {
    kStateNoImage = 0,
    kStateColor = 1,
    kStateRangeEdit = 2,
    kStateGray = 3,
    kStateBinary = 4,
    kStateLabeled = 5,
    kStateProfile = 7,
    kStateCamera = 8,
};

// True in the states that show the current gray plane (3 to 7).
inline bool ShowsGrayPlane(int state) { return state >= kStateGray && state <= kStateProfile; }

// Image pixels, right and bottom inclusive.
struct ProcessingRange {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    bool operator==(const ProcessingRange& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// Swaps the corners so that left <= right and top <= bottom.
ProcessingRange Normalized(ProcessingRange r);
// True when the (normalized) range lies inside an image of width x height.
bool IsInsideImage(const ProcessingRange& r, int width, int height);

// The number of planes of the working ring.
constexpr int kRingSize = 5;

// Next ring plane after current: current + 1, wrapping to 0 at ringSize.
inline int NextRingPlane(int current, int ringSize = kRingSize)
{
    const int next = current + 1;
    return next < ringSize ? next : 0;
}

// Headers and table describing an 8-bit gray image as a bottom-up BMP with a
// 256-entry gray table: what the gray file writer and the display use.
struct GrayHeader {
    std::array<uint8_t, 14> fileHeader{};
    std::array<uint8_t, 40> infoHeader{};
    std::vector<uint8_t> colorTable;  // 1024 bytes: (i, i, i, 0)
    int width = 0;
    int height = 0;

    int stride() const { return (width + 3) & ~3; }
};

// Gray row stride: width rounded up to a multiple of 4.
inline int GrayStride(int width) { return (width + 3) & ~3; }

GrayHeader MakeGrayHeader(int width, int height);

// Little-endian field access for BMP headers.
inline void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t GetLe16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t GetLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace lumadrift
