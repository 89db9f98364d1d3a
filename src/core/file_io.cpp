#include "core/file_io.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"

namespace lumadrift {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.reserve(static_cast<size_t>(st.st_size));
    AdviseHugePages(out.data(), static_cast<size_t>(st.st_size));
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(done);  // a file that shrank meanwhile gives what was there
    return true;
}

InputFile::InputFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
}

InputFile::~InputFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

size_t InputFile::ReadAt(uint64_t offset, void* dst, size_t n) const
{
    auto* p = static_cast<uint8_t*>(dst);
    size_t done = 0;
    while (fd_ >= 0 && done < n) {
        const ssize_t got = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

void InputFile::ReadAll(PictureBytes& out) const
{
    out.clear();
    out.resize(static_cast<size_t>(size_));
    out.resize(ReadAt(0, out.data(), out.size()));
}

int WriteFileWhole(const std::string& path, const void* data, size_t size)
{
    if (path.empty())
        return -1;
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return -1;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    // mkstemp makes the file 0600; give it what a plain create would give.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    const mode_t mode = (::stat(path.c_str(), &st) == 0) ? (st.st_mode & 07777) : (0666 & ~mask);
    ok = ok && ::fchmod(fd, mode) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0)
        return 0;
    ::unlink(tmp.c_str());
    return -1;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path)
{
    if (DirectoryExists(path))
        return true;
    return ::mkdir(path.c_str(), 0777) == 0 || DirectoryExists(path);
}

std::string DirName(const std::string& path)
{
    const size_t pos = path.find_last_of('/');
    if (pos == std::string::npos)
        return ".";
    if (pos == 0)
        return "/";
    return path.substr(0, pos);
}

std::string BaseName(const std::string& path)
{
    const size_t pos = path.find_last_of('/');
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ResolveAgainst(const std::string& base, const std::string& path)
{
    if (path.empty() || path[0] == '/' || base.empty())
        return path;
    return base + "/" + path;
}

}  // namespace lumadrift
