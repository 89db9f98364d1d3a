#include "core/memory.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <sys/mman.h>

namespace lumadrift {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// Alignment of a buffer of `bytes`: whole huge pages from its first byte
// for picture-sized buffers, a cache line for the rest.
size_t AlignmentFor(size_t bytes)
{
    return bytes >= 2 * kHugePage ? kHugePage : 64;
}

uint8_t* AllocateFresh(size_t bytes)
{
    void* p = ::operator new(bytes, std::align_val_t{AlignmentFor(bytes)}, std::nothrow);
    AdviseHugePages(p, bytes);  // still untouched
    return static_cast<uint8_t*>(p);
}

void FreeNow(uint8_t* data, size_t bytes)
{
    ::operator delete(data, std::align_val_t{AlignmentFor(bytes)});
}

// The buffers one thread freed last. Plain data, so it stays usable while
// the thread ends: buffers freed by objects that outlive the thread's own
// clean-up are then freed at once instead of kept.
struct Recycler {
    struct Entry {
        uint8_t* data;
        size_t bytes;
    };
    Entry kept[kRecycledBuffers];
    int count;
    bool ended;

    uint8_t* Take(size_t bytes)
    {
        for (int i = count - 1; i >= 0; --i) {
            if (kept[i].bytes == bytes) {
                uint8_t* p = kept[i].data;
                kept[i] = kept[--count];
                return p;
            }
        }
        // A size we do not keep: what we keep belonged to pictures that
        // are gone, and must not sit beside the new ones.
        ReleaseAll();
        return nullptr;
    }

    void Keep(uint8_t* data, size_t bytes);

    size_t ReleaseAll()
    {
        size_t freed = 0;
        while (count > 0) {
            --count;
            FreeNow(kept[count].data, kept[count].bytes);
            freed += kept[count].bytes;
        }
        return freed;
    }
};

thread_local Recycler tRecycler{};

// Frees what the thread keeps when the thread ends.
struct RecyclerCleanUp {
    ~RecyclerCleanUp()
    {
        tRecycler.ended = true;
        tRecycler.ReleaseAll();
    }
};

void Recycler::Keep(uint8_t* data, size_t bytes)
{
    thread_local RecyclerCleanUp cleanUp;
    (void)cleanUp;
    if (ended || count == kRecycledBuffers) {
        FreeNow(data, bytes);
        return;
    }
    kept[count++] = {data, bytes};
}

}  // namespace

void AdviseHugePages(void* data, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = kHugePage;
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

uint8_t* AllocatePictureBuffer(size_t bytes)
{
    if (bytes == 0)
        return nullptr;
    if (uint8_t* p = tRecycler.Take(bytes))
        return p;
    return AllocateFresh(bytes);
}

void FreePictureBuffer(uint8_t* data, size_t bytes)
{
    if (data)
        tRecycler.Keep(data, bytes);
}

size_t ReleaseRecycledBuffers() { return tRecycler.ReleaseAll(); }

void KeepOnlyRecycled(size_t bytes)
{
    Recycler& r = tRecycler;
    int kept = 0;
    for (int i = 0; i < r.count; ++i) {
        if (r.kept[i].bytes == bytes)
            r.kept[kept++] = r.kept[i];
        else
            FreeNow(r.kept[i].data, r.kept[i].bytes);
    }
    r.count = kept;
}

RecycledBuffers KeptBuffers()
{
    RecycledBuffers k;
    k.count = tRecycler.count;
    for (int i = 0; i < tRecycler.count; ++i)
        k.bytes += tRecycler.kept[i].bytes;
    return k;
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
