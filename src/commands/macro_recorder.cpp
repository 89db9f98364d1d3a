#include "commands/macro_recorder.h"

#include "commands/macro_format.h"
#include "core/cp932.h"

namespace lumadrift {

std::string FormatMacroEntry(int code, const std::string& parameterText)
{
    const char* name = OperationName(code);
    char head[256];
    std::snprintf(head, sizeof head, "%02d %s", code, name ? name : "");
    std::string out = Utf8ToCp932(head);
    out += "\r\n";
    if (HasParameterLine(code)) {
        out += Utf8ToCp932(parameterText);
        out += "\r\n";
    }
    return out;
}

MacroRecorder::~MacroRecorder() { Stop(); }

bool MacroRecorder::Start(const std::string& path)
{
    Stop();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    file_ = f;
    path_ = path;
    return true;
}

void MacroRecorder::Stop()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

void MacroRecorder::WriteEntry(int code, const std::string& parameterText)
{
    if (!file_)
        return;
    const std::string entry = FormatMacroEntry(code, parameterText);
    std::fwrite(entry.data(), 1, entry.size(), file_);
    std::fflush(file_);
}

}  // namespace lumadrift
