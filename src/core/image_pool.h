// The image pool: named copies of gray results kept in memory, in the order
// they were added. An entry's ID is its position counted from 0.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "core/image_model.h"

namespace lumadrift {

struct PoolEntry {
    std::string name;     // UTF-8; at most 259 bytes in CP932
    int state = 0;        // image state when added
    GrayHeader header;    // copy of the document's gray headers and table
    std::vector<uint8_t> pixels;  // width x height, bottom row first
    int width() const { return header.width; }
    int height() const { return header.height; }
};

class ImagePool {
public:
    // Copies plane (width x height, top row first) as a new last entry.
    PoolEntry& Add(const std::string& name, int state, const GrayHeader& header,
                   const uint8_t* plane);
    // The entry at position id; an id of 0 or less names the first entry,
    // one past the end none.
    PoolEntry* Find(int id);
    const PoolEntry* Find(int id) const;
    // Removes the entry at position id (same rule as Find). false when none.
    bool Unlink(int id);
    void DeleteAll() { entries_.clear(); }
    int size() const { return static_cast<int>(entries_.size()); }

private:
    std::list<PoolEntry> entries_;
};

// Longest pool name, in CP932 bytes.
constexpr size_t kMaxPoolName = 259;
// Cuts a UTF-8 name so that its CP932 form holds at most 259 bytes.
std::string CutPoolName(const std::string& name);

// Writes the entry as an 8-bit gray BMP: its headers and table, then its rows
// in stored (bottom-up) order, each padded with zeros to a multiple of 4; or,
// for a path ending in .png, .tif or .tiff, as an 8-bit gray file of that
// format (core/picture_file.h). The file is written whole; 0 or -1.
int WritePoolFile(const std::string& path, const PoolEntry& entry);
// The bytes WritePoolFile writes.
std::vector<uint8_t> BuildPoolFile(const PoolEntry& entry);

}  // namespace lumadrift
