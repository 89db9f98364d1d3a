#include "core/plane_bank.h"

#include <cstring>
#include <new>

namespace lumadrift {

namespace {

std::unique_ptr<uint8_t[]> AllocatePlane(int width, int height)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

}  // namespace

int PlaneBank::CreatePlaneBank(int count, int width, int height)
{
    if (count > kCapacity)
        return -1;
    ReleasePlaneBank();
    if (count <= 0)
        return count == 0 ? 0 : -1;
    for (int i = 0; i < count; ++i) {
        planes_[i] = AllocatePlane(width, height);
        if (!planes_[i]) {
            ReleasePlaneBank();
            return -1;
        }
    }
    width_ = width;
    height_ = height;
    rangeLeft_ = 0;
    rangeTop_ = 0;
    rangeWidth_ = width;
    rangeHeight_ = height;
    count_ = count;
    source_ = 0;
    destination_ = 0;
    return 0;
}

void PlaneBank::ReleasePlaneBank()
{
    width_ = height_ = rangeLeft_ = rangeTop_ = rangeWidth_ = rangeHeight_ = 0;
    count_ = source_ = destination_ = 0;
    for (auto& p : planes_)
        p.reset();
}

void PlaneBank::SelectPlanes(int source, int destination)
{
    if (empty())
        return;
    source_ = source;
    destination_ = destination;
}

uint8_t* PlaneBank::GetPlane(int index)
{
    if (index < 0 || index >= count_)
        return nullptr;
    return planes_[index].get();
}

const uint8_t* PlaneBank::GetPlane(int index) const
{
    if (index < 0 || index >= count_)
        return nullptr;
    return planes_[index].get();
}

int PlaneBank::QueryPlaneBank(int item) const
{
    if (empty())
        return -1;
    switch (item) {
    case kBankWidth: return width_;
    case kBankHeight: return height_;
    case kBankRangeLeft: return rangeLeft_;
    case kBankRangeTop: return rangeTop_;
    case kBankRangeWidth: return rangeWidth_;
    case kBankRangeHeight: return rangeHeight_;
    case kBankCount: return count_;
    case kBankSource: return source_;
    case kBankDestination: return destination_;
    default: return -1;
    }
}

uint8_t* PlaneBank::SourcePlane() { return GetPlane(source_); }
uint8_t* PlaneBank::DestinationPlane() { return GetPlane(destination_); }
const uint8_t* PlaneBank::SourcePlane() const { return GetPlane(source_); }

void PlaneBank::ReadRangeRow(int y, uint8_t* buffer, int& length) const
{
    const uint8_t* src = SourcePlane();
    if (!src || y < rangeTop_ || y >= rangeTop_ + rangeHeight_ || length < rangeWidth_) {
        if (buffer && length > 0)
            buffer[0] = 0;
        length = 0;
        return;
    }
    std::memcpy(buffer, src + static_cast<size_t>(y) * width_ + rangeLeft_, rangeWidth_);
    length = rangeWidth_;
}

void PlaneBank::WriteRangeRow(int y, const uint8_t* buffer, int& length)
{
    uint8_t* dst = DestinationPlane();
    if (!dst || y < rangeTop_ || y >= rangeTop_ + rangeHeight_) {
        length = 0;
        return;
    }
    uint8_t* row = dst + static_cast<size_t>(y) * width_ + rangeLeft_;
    if (length >= rangeWidth_) {
        length = rangeWidth_;
        std::memcpy(row, buffer, rangeWidth_);
        return;
    }
    std::memset(row, 0, rangeWidth_);
    if (length > 0)
        std::memcpy(row, buffer, length);
}

void PlaneBank::CopyRangeToDestination()
{
    const uint8_t* src = SourcePlane();
    uint8_t* dst = DestinationPlane();
    if (!src || !dst || src == dst)
        return;
    for (int y = rangeTop_; y < rangeTop_ + rangeHeight_; ++y) {
        const size_t off = static_cast<size_t>(y) * width_ + rangeLeft_;
        std::memcpy(dst + off, src + off, rangeWidth_);
    }
}

void PlaneBank::FillRange(uint8_t value)
{
    uint8_t* dst = DestinationPlane();
    if (!dst)
        return;
    for (int y = rangeTop_; y < rangeTop_ + rangeHeight_; ++y)
        std::memset(dst + static_cast<size_t>(y) * width_ + rangeLeft_, value, rangeWidth_);
}

int ColorBank::CreateColorBank(int count, int width, int height)
{
    if (count > kCapacity)
        return -1;
    ReleaseColorBank();
    if (count <= 0)
        return count == 0 ? 0 : -1;
    for (int i = 0; i < count; ++i) {
        Slot& s = slots_[i];
        s.red = AllocatePlane(width, height);
        s.green = s.red ? AllocatePlane(width, height) : nullptr;
        s.blue = s.green ? AllocatePlane(width, height) : nullptr;
        if (!s.blue) {
            ReleaseColorBank();
            return -1;
        }
    }
    width_ = width;
    height_ = height;
    rangeLeft_ = 0;
    rangeTop_ = 0;
    rangeWidth_ = width;
    rangeHeight_ = height;
    count_ = count;
    source_ = 0;
    destination_ = 0;
    return 0;
}

void ColorBank::ReleaseColorBank()
{
    width_ = height_ = rangeLeft_ = rangeTop_ = rangeWidth_ = rangeHeight_ = 0;
    count_ = source_ = destination_ = 0;
    for (auto& s : slots_) {
        s.red.reset();
        s.green.reset();
        s.blue.reset();
    }
}

void ColorBank::SelectColorSlots(int source, int destination)
{
    if (empty())
        return;
    source_ = source;
    destination_ = destination;
}

void ColorBank::GetColorPlanes(int slot, uint8_t** red, uint8_t** green, uint8_t** blue)
{
    if (slot < 0 || slot >= count_)
        return;
    if (red) *red = slots_[slot].red.get();
    if (green) *green = slots_[slot].green.get();
    if (blue) *blue = slots_[slot].blue.get();
}

void ColorBank::GetColorPlanes(int slot, const uint8_t** red, const uint8_t** green,
                               const uint8_t** blue) const
{
    if (slot < 0 || slot >= count_)
        return;
    if (red) *red = slots_[slot].red.get();
    if (green) *green = slots_[slot].green.get();
    if (blue) *blue = slots_[slot].blue.get();
}

int ColorBank::QueryColorBank(int item) const
{
    if (empty())
        return -1;
    switch (item) {
    case kBankWidth: return width_;
    case kBankHeight: return height_;
    case kBankRangeLeft: return rangeLeft_;
    case kBankRangeTop: return rangeTop_;
    case kBankRangeWidth: return rangeWidth_;
    case kBankRangeHeight: return rangeHeight_;
    case kBankCount: return count_;
    case kBankSource: return source_;
    case kBankDestination: return destination_;
    default: return -1;
    }
}

void ColorBank::ExtractColorPlane(int channel, uint8_t* gray, bool invert) const
{
    if (empty() || !gray || destination_ < 0 || destination_ >= count_)
        return;
    const Slot& s = slots_[destination_];
    const uint8_t* src = channel == 0 ? s.red.get() : channel == 1 ? s.green.get()
                       : channel == 2 ? s.blue.get() : nullptr;
    if (!src)
        return;
    for (int y = rangeTop_; y < rangeTop_ + rangeHeight_; ++y) {
        const size_t off = static_cast<size_t>(y) * width_ + rangeLeft_;
        if (invert) {
            for (int x = 0; x < rangeWidth_; ++x)
                gray[off + x] = static_cast<uint8_t>(~src[off + x]);
        } else {
            std::memcpy(gray + off, src + off, rangeWidth_);
        }
    }
}

}  // namespace lumadrift
