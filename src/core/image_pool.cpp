#include "core/image_pool.h"

#include <algorithm>
#include <cstring>

#include "core/cp932.h"
#include "core/file_io.h"
#include "core/picture_file.h"

namespace lumadrift {

PoolEntry& ImagePool::Add(const std::string& name, int state, const GrayHeader& header,
                          const uint8_t* plane)
{
    PoolEntry e;
    e.name = CutPoolName(name);
    e.state = state;
    e.header = header;
    const int w = header.width;
    const int h = header.height;
    e.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (plane) {
        for (int y = h - 1, row = 0; y >= 0; --y, ++row)
            std::memcpy(e.pixels.data() + static_cast<size_t>(row) * w,
                        plane + static_cast<size_t>(y) * w, static_cast<size_t>(w));
    }
    entries_.push_back(std::move(e));
    return entries_.back();
}

PoolEntry* ImagePool::Find(int id)
{
    if (entries_.empty())
        return nullptr;
    if (id <= 0)
        return &entries_.front();
    if (id >= size())
        return nullptr;
    auto it = entries_.begin();
    std::advance(it, id);
    return &*it;
}

const PoolEntry* ImagePool::Find(int id) const
{
    return const_cast<ImagePool*>(this)->Find(id);
}

bool ImagePool::Unlink(int id)
{
    if (entries_.empty() || id >= size())
        return false;
    auto it = entries_.begin();
    if (id > 0)
        std::advance(it, id);
    entries_.erase(it);
    return true;
}

std::string CutPoolName(const std::string& name)
{
    const std::string cp = Utf8ToCp932(name);
    if (cp.size() <= kMaxPoolName)
        return name;
    return Cp932ToUtf8(TruncateCp932(cp, kMaxPoolName));
}

std::vector<uint8_t> BuildPoolFile(const PoolEntry& entry)
{
    const int w = entry.width();
    const int h = entry.height();
    const size_t stride = static_cast<size_t>(GrayStride(w));
    std::vector<uint8_t> out;
    out.reserve(1078 + stride * h);
    out.insert(out.end(), entry.header.fileHeader.begin(), entry.header.fileHeader.end());
    out.insert(out.end(), entry.header.infoHeader.begin(), entry.header.infoHeader.end());
    out.insert(out.end(), entry.header.colorTable.begin(), entry.header.colorTable.end());
    for (int row = 0; row < h; ++row) {
        const uint8_t* p = entry.pixels.data() + static_cast<size_t>(row) * w;
        out.insert(out.end(), p, p + w);
        out.insert(out.end(), stride - static_cast<size_t>(w), 0);
    }
    return out;
}

int WritePoolFile(const std::string& path, const PoolEntry& entry)
{
    const PictureFormat format = SaveFormatForPath(path);
    if (format == PictureFormat::kBmp)
        return WriteFileWhole(path, BuildPoolFile(entry));
    // The other formats store rows top first.
    const size_t w = static_cast<size_t>(entry.width());
    const int h = entry.height();
    if (w == 0 || h <= 0 || entry.pixels.size() < w * static_cast<size_t>(h))
        return -1;
    std::vector<uint8_t> plane(w * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        std::copy_n(entry.pixels.data() + static_cast<size_t>(h - 1 - y) * w, w, plane.data() + static_cast<size_t>(y) * w);
    const std::vector<uint8_t> file = EncodeGrayPicture(format, plane.data(), entry.width(), h);
    return file.empty() ? -1 : WriteFileWhole(path, file);
}

}  // namespace lumadrift
