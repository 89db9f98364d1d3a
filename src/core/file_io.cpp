#include "core/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/memory.h"
#include "core/parallel.h"

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

namespace {

size_t ReadFully(int fd, uint8_t* p, size_t n, uint64_t offset)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

// Reading a picture-sized file into fresh memory is mostly the kernel
// clearing and filling new pages, which it does in whichever thread asks:
// big reads are split into pieces for the worker pool.
constexpr size_t kReadPiece = size_t{16} << 20;

}  // namespace

size_t InputFile::ReadAt(uint64_t offset, void* dst, size_t n) const
{
    if (fd_ < 0)
        return 0;
    auto* p = static_cast<uint8_t*>(dst);
    if (n < 2 * kReadPiece)
        return ReadFully(fd_, p, n, offset);
    const size_t pieces = (n + kReadPiece - 1) / kReadPiece;
    std::vector<size_t> got(pieces, 0);
    ParallelFor(0, static_cast<int>(pieces), [&](int first, int last) {
        for (int i = first; i < last; ++i) {
            const size_t begin = static_cast<size_t>(i) * kReadPiece;
            const size_t len = std::min(kReadPiece, n - begin);
            got[i] = ReadFully(fd_, p + begin, len, offset + begin);
        }
    });
    // Only the bytes up to the first short piece count.
    size_t done = 0;
    for (size_t i = 0; i < pieces; ++i) {
        done += got[i];
        if (got[i] < std::min(kReadPiece, n - i * kReadPiece))
            break;
    }
    return done;
}

void InputFile::ReadAll(PictureBytes& out) const
{
    out.clear();
    out.resize(static_cast<size_t>(size_));
    out.resize(ReadAt(0, out.data(), out.size()));
}

bool WriteAllAt(int fd, const void* data, size_t size, uint64_t offset)
{
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int WriteFileWith(const std::string& path, const std::function<bool(int fd)>& write)
{
    if (path.empty())
        return -1;
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return -1;
    bool ok = write(fd);
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

int WriteFileWhole(const std::string& path, const void* data, size_t size)
{
    return WriteFileWith(path, [&](int fd) { return WriteAllAt(fd, data, size, 0); });
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
