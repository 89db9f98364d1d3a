#include "core/image_model.h"

#include <utility>

namespace lumadrift {

ProcessingRange Normalized(ProcessingRange r)
{
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

bool IsInsideImage(const ProcessingRange& r, int width, int height)
{
    return r.left >= 0 && r.top >= 0 && r.right <= width - 1 && r.bottom <= height - 1 &&
           r.left <= r.right && r.top <= r.bottom;
}

GrayHeader MakeGrayHeader(int width, int height)
{
    GrayHeader h;
    h.width = width;
    h.height = height;
    h.colorTable.resize(1024);
    for (int i = 0; i < 256; ++i) {
        h.colorTable[i * 4 + 0] = static_cast<uint8_t>(i);
        h.colorTable[i * 4 + 1] = static_cast<uint8_t>(i);
        h.colorTable[i * 4 + 2] = static_cast<uint8_t>(i);
        h.colorTable[i * 4 + 3] = 0;
    }
    uint8_t* ih = h.infoHeader.data();
    PutLe32(ih + 0, 40);
    PutLe32(ih + 4, static_cast<uint32_t>(width));
    PutLe32(ih + 8, static_cast<uint32_t>(height));
    PutLe16(ih + 12, 1);
    PutLe16(ih + 14, 8);
    PutLe32(ih + 16, 0);
    PutLe32(ih + 20, 0);
    PutLe32(ih + 24, 0);
    PutLe32(ih + 28, 0);
    PutLe32(ih + 32, 256);
    PutLe32(ih + 36, 256);
    uint8_t* fh = h.fileHeader.data();
    fh[0] = 'B';
    fh[1] = 'M';
    const uint64_t size = static_cast<uint64_t>(height) * GrayStride(width) + 1078;
    PutLe32(fh + 2, static_cast<uint32_t>(size));
    PutLe16(fh + 6, 0);
    PutLe16(fh + 8, 0);
    PutLe32(fh + 10, 1078);
    return h;
}

}  // namespace lumadrift
