#include "core/memory.h"

#include <cstdint>
#include <cstdio>
#include <sys/mman.h>

namespace lumadrift {

void AdviseHugePages(void* data, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    if (!data || bytes < 2 * kHuge)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

uint64_t AvailableMemory()
{
    FILE* f = std::fopen("/proc/meminfo", "re");
    if (!f)
        return 0;
    char line[256];
    unsigned long long kb = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
        found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
    std::fclose(f);
    return found ? static_cast<uint64_t>(kb) * 1024 : 0;
}

}  // namespace lumadrift
