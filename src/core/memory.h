// Large buffers and the kernel's huge pages.
#pragma once

#include <cstddef>

namespace lumadrift {

// Asks the kernel to back the whole 2 MiB blocks inside [data, data + bytes)
// with huge pages: a first write then costs one page fault per 2 MiB
// instead of one per 4 KiB, which on virtual machines is most of the time
// a fresh picture-sized buffer takes. To be called before the buffer is
// first written; buffers below 4 MiB and systems that refuse are left as
// they are. Changes no byte.
void AdviseHugePages(void* data, size_t bytes);

}  // namespace lumadrift
