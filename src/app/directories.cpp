#include "app/directories.h"

#include <cerrno>
#include <unistd.h>

#include "core/file_io.h"

namespace lumadrift {

int LayoutCheck(const std::string& workingDirectory)
{
    static const char kTail[] = "/bin";
    if (workingDirectory.size() < 4)
        return -1;
    const std::string tail = workingDirectory.substr(workingDirectory.size() - 4);
    for (size_t i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        if (c != kTail[i])
            return -1;
    }
    return 0;
}

namespace {

Directories Form(const std::string& base)
{
    Directories d;
    d.envDir = base + "/env";
    d.pictureDir = base + "/picture";
    d.filterDir = base + "/filter";
    d.logDir = base + "/log";
    d.dataDir = base + "/data";
    d.iniPath = d.envDir + "/Lumadrift.ini";
    return d;
}

}  // namespace

Directories Directories::FromWorkingDirectory(const std::string& cwd)
{
    // The ".." stays literal: resolving it would follow a symlinked bin
    // folder somewhere else than the installation the user started from.
    return Form(cwd + "/..");
}

Directories Directories::FromRoot(const std::string& root)
{
    std::string base = root;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (base == "/")
        base.clear();
    return Form(base);
}

void Directories::CreateMissing() const
{
    for (const std::string* dir : {&envDir, &pictureDir, &filterDir, &logDir, &dataDir})
        if (!DirectoryExists(*dir))
            MakeDirectory(*dir);  // a failure surfaces when a file there is opened
}

std::string CurrentDirectory()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace lumadrift
