// Whole-file reading and writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumadrift {

// Reads the whole file. false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out);

// Writes data into a temporary file beside path and renames it over path, so
// a failed write never destroys the file that was there. The file gets read
// and write permission for the owner (and what the umask allows for others).
// 0 on success, -1 on failure (nothing changed at path).
int WriteFileWhole(const std::string& path, const void* data, size_t size);
inline int WriteFileWhole(const std::string& path, const std::vector<uint8_t>& data)
{
    return WriteFileWhole(path, data.data(), data.size());
}

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
