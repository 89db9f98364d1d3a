// Large buffers and the kernel's huge pages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumadrift {

// Asks the kernel to back the whole 2 MiB blocks inside [data, data + bytes)
// with huge pages: a first write then costs one page fault per 2 MiB
// instead of one per 4 KiB, which on virtual machines is most of the time
// a fresh picture-sized buffer takes. To be called before the buffer is
// first written; buffers below 4 MiB and systems that refuse are left as
// they are. Changes no byte.
void AdviseHugePages(void* data, size_t bytes);

// Bytes an open picture costs per pixel once acquired: the file's three,
// the colour planes' three and five working planes.
constexpr uint64_t kBytesPerPicturePixel = 11;

// Memory the system can still give (MemAvailable), or 0 when unknown.
uint64_t AvailableMemory();

// Whether a picture of `pixels` pixels and what working on it takes fit in
// `available` bytes (0: unknown, taken as fitting).
inline bool PictureFits(uint64_t pixels, uint64_t available)
{
    return available == 0 || pixels <= available / kBytesPerPicturePixel;
}

}  // namespace lumadrift
