// Whole-file reading and writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/memory.h"

namespace lumadrift {

// Reads the whole file. false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

// A regular file open for reading, for readers that take it in parts and
// put the bytes straight where they belong.
class InputFile {
public:
    // ok() is false when path cannot be opened or is not a regular file.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The size when it was opened.
    uint64_t size() const { return size_; }
    // Reads up to n bytes from offset into dst and returns how many it
    // read: fewer at the end of the file (one that shrank meanwhile) or on a
    // read error.
    size_t ReadAt(uint64_t offset, void* dst, size_t n) const;
    // The whole file into out, which ends with the bytes that could be read
    // (fewer when the file shrank meanwhile).
    void ReadAll(PictureBytes& out) const;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Writes data into a temporary file beside path and renames it over path, so
// a failed write never destroys the file that was there. The file gets read
// and write permission for the owner (and what the umask allows for others).
// 0 on success, -1 on failure (nothing changed at path).
int WriteFileWhole(const std::string& path, const void* data, size_t size);
inline int WriteFileWhole(const std::string& path, const std::vector<uint8_t>& data)
{
    return WriteFileWhole(path, data.data(), data.size());
}

// The same for a file written in parts: write gets the temporary file's
// descriptor and returns false when it could not write everything.
int WriteFileWith(const std::string& path, const std::function<bool(int fd)>& write);
// pwrite until all size bytes are at offset; false on an error.
bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates one directory level; true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// Directory part of a path ("." when it has none), and the last component.
std::string DirName(const std::string& path);
std::string BaseName(const std::string& path);
// path when it is absolute, else base + "/" + path.
std::string ResolveAgainst(const std::string& base, const std::string& path);

}  // namespace lumadrift
