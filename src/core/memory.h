// Large buffers and the kernel's huge pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <utility>
#include <vector>

namespace lumadrift {

// Asks the kernel to back the whole 2 MiB blocks inside [data, data + bytes)
// with huge pages: a first write then costs one page fault per 2 MiB
// instead of one per 4 KiB, which on virtual machines is most of the time
// a fresh picture-sized buffer takes. To be called before the buffer is
// first written; buffers below 4 MiB and systems that refuse are left as
// they are. Changes no byte.
void AdviseHugePages(void* data, size_t bytes);

// ---- Picture buffers ---------------------------------------------------------
//
// Planes and file bytes come and go in sets of one size: opening a picture,
// acquiring a range and the next picture of a batch free a set and ask for
// the same sizes again. Faulting a fresh picture-sized buffer in costs about
// as much as a filter pass over it, so each thread keeps the buffers it
// freed last and hands them out again for the same byte count.
//
// The kept buffers never add to the peak: they are only the ones just freed,
// at most kRecycledBuffers of them, and a request for a size that is not kept
// frees them all before anything new is allocated. A thread's buffers are
// freed when it ends. Recycled buffers hold their old bytes; fresh ones are
// not initialised either.

constexpr int kRecycledBuffers = 12;

// bytes >= 1: a buffer of exactly that many bytes (2 MiB aligned from
// 4 MiB up, huge pages advised while untouched), or nullptr when memory
// runs out.
uint8_t* AllocatePictureBuffer(size_t bytes);
// Gives back what AllocatePictureBuffer returned for bytes (nullptr: nothing).
void FreePictureBuffer(uint8_t* data, size_t bytes);
// Frees what this thread keeps; returns the bytes freed. Callers that have
// just rebuilt everything a picture needs call it, so buffers nobody will
// ask for again do not stay in memory beside the picture.
size_t ReleaseRecycledBuffers();
// Frees what this thread keeps except buffers of exactly `bytes`.
void KeepOnlyRecycled(size_t bytes);
// What this thread keeps: number of buffers and their bytes.
struct RecycledBuffers {
    int count = 0;
    size_t bytes = 0;
};
RecycledBuffers KeptBuffers();

// Owner of one picture buffer.
class PictureBuffer {
public:
    PictureBuffer() = default;
    // Empty when bytes is 0 or memory runs out.
    explicit PictureBuffer(size_t bytes) : data_(bytes ? AllocatePictureBuffer(bytes) : nullptr), bytes_(data_ ? bytes : 0) {}
    PictureBuffer(PictureBuffer&& o) noexcept : data_(std::exchange(o.data_, nullptr)), bytes_(std::exchange(o.bytes_, 0)) {}
    PictureBuffer& operator=(PictureBuffer&& o) noexcept
    {
        if (this != &o) {
            reset();
            data_ = std::exchange(o.data_, nullptr);
            bytes_ = std::exchange(o.bytes_, 0);
        }
        return *this;
    }
    PictureBuffer(const PictureBuffer&) = delete;
    PictureBuffer& operator=(const PictureBuffer&) = delete;
    ~PictureBuffer() { reset(); }

    uint8_t* get() const { return data_; }
    size_t size() const { return bytes_; }
    explicit operator bool() const { return data_ != nullptr; }
    void reset()
    {
        FreePictureBuffer(data_, bytes_);
        data_ = nullptr;
        bytes_ = 0;
    }

private:
    uint8_t* data_ = nullptr;
    size_t bytes_ = 0;
};

// Allocator of picture-sized byte vectors: the same recycled buffers, and
// resize() leaves new bytes uninitialised (they are read into or decoded
// over at once), so no pass zeroes them first. assign(n, 0) still zeroes.
template <typename T>
struct PictureAllocator {
    using value_type = T;
    PictureAllocator() = default;
    template <typename U>
    PictureAllocator(const PictureAllocator<U>&) noexcept {}

    T* allocate(size_t n)
    {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T))
            throw std::bad_array_new_length();
        T* p = reinterpret_cast<T*>(AllocatePictureBuffer(n * sizeof(T)));
        if (!p)
            throw std::bad_alloc();
        return p;
    }
    void deallocate(T* p, size_t n) noexcept { FreePictureBuffer(reinterpret_cast<uint8_t*>(p), n * sizeof(T)); }

    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const PictureAllocator<U>&) const noexcept { return true; }
    template <typename U>
    bool operator!=(const PictureAllocator<U>&) const noexcept { return false; }
};

// Bytes of a whole file or canonical DIB.
using PictureBytes = std::vector<uint8_t, PictureAllocator<uint8_t>>;

// ---- Whether a picture fits ---------------------------------------------------

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

// The most pixels a picture opened now may have: limit, lowered to what
// fits `available` bytes (0: unknown, limit stays).
inline int64_t PixelsThatFit(int64_t limit, uint64_t available)
{
    if (available == 0)
        return limit;
    const uint64_t fit = available / kBytesPerPicturePixel;
    return fit < static_cast<uint64_t>(limit) ? static_cast<int64_t>(fit) : limit;
}

}  // namespace lumadrift
