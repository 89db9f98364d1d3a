#include "core/plane_bank.h"

#include <cstring>

#include "core/memory.h"

namespace lumadrift {

namespace {

PictureBuffer AllocatePlane(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    return PictureBuffer(static_cast<size_t>(width) * static_cast<size_t>(height));
}

}  // namespace

void BankHeader::Set(int n, int w, int hgt)
{
    width = w;
    height = hgt;
    rangeLeft = 0;
    rangeTop = 0;
    rangeWidth = w;
    rangeHeight = hgt;
    count = n;
    source = 0;
    destination = 0;
}

int BankHeader::Query(int item) const
{
    if (count == 0)
        return -1;
    switch (item) {
    case kBankWidth: return width;
    case kBankHeight: return height;
    case kBankRangeLeft: return rangeLeft;
    case kBankRangeTop: return rangeTop;
    case kBankRangeWidth: return rangeWidth;
    case kBankRangeHeight: return rangeHeight;
    case kBankCount: return count;
    case kBankSource: return source;
    case kBankDestination: return destination;
    default: return -1;
    }
}

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
    h_.Set(count, width, height);
    return 0;
}

void PlaneBank::ReleasePlaneBank()
{
    h_.Clear();
    for (auto& p : planes_)
        p.reset();
}

void PlaneBank::SelectPlanes(int source, int destination)
{
    if (empty())
        return;
    h_.source = source;
    h_.destination = destination;
}

uint8_t* PlaneBank::GetPlane(int index)
{
    if (index < 0 || index >= h_.count)
        return nullptr;
    return planes_[index].get();
}

const uint8_t* PlaneBank::GetPlane(int index) const
{
    if (index < 0 || index >= h_.count)
        return nullptr;
    return planes_[index].get();
}

int PlaneBank::QueryPlaneBank(int item) const { return h_.Query(item); }

uint8_t* PlaneBank::SourcePlane() { return GetPlane(h_.source); }
uint8_t* PlaneBank::DestinationPlane() { return GetPlane(h_.destination); }
const uint8_t* PlaneBank::SourcePlane() const { return GetPlane(h_.source); }

void PlaneBank::ReadRangeRow(int y, uint8_t* buffer, int& length) const
{
    const uint8_t* src = SourcePlane();
    if (!src || y < h_.rangeTop || y >= h_.rangeTop + h_.rangeHeight || length < h_.rangeWidth) {
        if (buffer && length > 0)
            buffer[0] = 0;
        length = 0;
        return;
    }
    std::memcpy(buffer, src + static_cast<size_t>(y) * h_.width + h_.rangeLeft, h_.rangeWidth);
    length = h_.rangeWidth;
}

void PlaneBank::WriteRangeRow(int y, const uint8_t* buffer, int& length)
{
    uint8_t* dst = DestinationPlane();
    if (!dst || y < h_.rangeTop || y >= h_.rangeTop + h_.rangeHeight) {
        length = 0;
        return;
    }
    uint8_t* row = dst + static_cast<size_t>(y) * h_.width + h_.rangeLeft;
    if (length >= h_.rangeWidth) {
        length = h_.rangeWidth;
        std::memcpy(row, buffer, h_.rangeWidth);
        return;
    }
    std::memset(row, 0, h_.rangeWidth);
    if (length > 0)
        std::memcpy(row, buffer, length);
}

void PlaneBank::CopyRangeToDestination()
{
    const uint8_t* src = SourcePlane();
    uint8_t* dst = DestinationPlane();
    if (!src || !dst || src == dst)
        return;
    for (int y = h_.rangeTop; y < h_.rangeTop + h_.rangeHeight; ++y) {
        const size_t off = static_cast<size_t>(y) * h_.width + h_.rangeLeft;
        std::memcpy(dst + off, src + off, h_.rangeWidth);
    }
}

void PlaneBank::FillRange(uint8_t value)
{
    uint8_t* dst = DestinationPlane();
    if (!dst)
        return;
    for (int y = h_.rangeTop; y < h_.rangeTop + h_.rangeHeight; ++y)
        std::memset(dst + static_cast<size_t>(y) * h_.width + h_.rangeLeft, value, h_.rangeWidth);
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
        s.green = s.red ? AllocatePlane(width, height) : PictureBuffer{};
        s.blue = s.green ? AllocatePlane(width, height) : PictureBuffer{};
        if (!s.blue) {
            ReleaseColorBank();
            return -1;
        }
    }
    h_.Set(count, width, height);
    return 0;
}

void ColorBank::ReleaseColorBank()
{
    h_.Clear();
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
    h_.source = source;
    h_.destination = destination;
}

void ColorBank::GetColorPlanes(int slot, uint8_t** red, uint8_t** green, uint8_t** blue)
{
    if (slot < 0 || slot >= h_.count)
        return;
    if (red) *red = slots_[slot].red.get();
    if (green) *green = slots_[slot].green.get();
    if (blue) *blue = slots_[slot].blue.get();
}

void ColorBank::GetColorPlanes(int slot, const uint8_t** red, const uint8_t** green,
                               const uint8_t** blue) const
{
    if (slot < 0 || slot >= h_.count)
        return;
    if (red) *red = slots_[slot].red.get();
    if (green) *green = slots_[slot].green.get();
    if (blue) *blue = slots_[slot].blue.get();
}

int ColorBank::QueryColorBank(int item) const { return h_.Query(item); }

void ColorBank::ExtractColorPlane(int channel, uint8_t* gray, bool invert) const
{
    if (empty() || !gray || h_.destination < 0 || h_.destination >= h_.count)
        return;
    const Slot& s = slots_[h_.destination];
    const uint8_t* src = channel == 0 ? s.red.get() : channel == 1 ? s.green.get()
                       : channel == 2 ? s.blue.get() : nullptr;
    if (!src)
        return;
    for (int y = h_.rangeTop; y < h_.rangeTop + h_.rangeHeight; ++y) {
        const size_t off = static_cast<size_t>(y) * h_.width + h_.rangeLeft;
        if (invert) {
            for (int x = 0; x < h_.rangeWidth; ++x)
                gray[off + x] = static_cast<uint8_t>(~src[off + x]);
        } else {
            std::memcpy(gray + off, src + off, h_.rangeWidth);
        }
    }
}

}  // namespace lumadrift
