#include "commands/run_log.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {

namespace {

constexpr size_t kLogBuffer = 2048;

std::tm LocalTime(std::time_t when)
{
    std::tm tm{};
    localtime_r(&when, &tm);
    return tm;
}

}  // namespace

std::string LogTimeStamp(std::time_t when)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm tm = LocalTime(when);
    char buf[64];
    std::snprintf(buf, sizeof buf, "[%s %s %2d %02d:%02d:%02d %04d]", kDays[tm.tm_wday % 7],
                  kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
    return buf;
}

std::string LogFilePath(const std::string& dir, std::time_t when)
{
    const std::tm tm = LocalTime(when);
    char buf[32];
    std::snprintf(buf, sizeof buf, "/%04d%02d%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return dir + buf;
}

std::string SanitizeLogText(const std::string& cp932)
{
    std::string s = TruncateCp932(cp932, kLogBuffer - 1);
    for (size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (IsCp932LeadByte(b) && i + 1 < s.size() &&
            IsCp932TrailByte(static_cast<unsigned char>(s[i + 1]))) {
            ++i;
            continue;
        }
        if (b == '\r' || b == '\n')
            s[i] = ' ';
    }
    return s;
}

bool WriteLogLine(const std::string& dir, const std::string& cp932Text, std::time_t when)
{
    if (!DirectoryExists(dir))
        MakeDirectory(dir);
    const std::string path = LogFilePath(dir, when);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const std::string line = SanitizeLogText(cp932Text) + "\r\n";
    // One write call: lines of concurrent replays never interleave.
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return ok;
}

std::string ActiveModeErrorText(std::time_t when, const std::string& name)
{
    return LogTimeStamp(when) + " Active mode error:" + name;
}

std::string FunctionErrorText(std::time_t when, const std::string& name, const std::string& params)
{
    return LogTimeStamp(when) + " Function error:" + name + " " + params;
}

}  // namespace lumadrift
