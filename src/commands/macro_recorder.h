// Appends completed operations to a filter file while recording is on.
#pragma once

#include <cstdio>
#include <string>

namespace lumadrift {

class MacroRecorder {
public:
    MacroRecorder() = default;
    ~MacroRecorder();
    MacroRecorder(const MacroRecorder&) = delete;
    MacroRecorder& operator=(const MacroRecorder&) = delete;

    // Opens (truncates) path for writing. false, and still not recording,
    // when it cannot be created.
    bool Start(const std::string& path);
    void Stop();
    bool recording() const { return file_ != nullptr; }
    const std::string& path() const { return path_; }

    // Writes the code line and, for codes that have one, the parameter line
    // (UTF-8, converted to CP932). Each entry is flushed as it is written so
    // a crash never loses what was recorded. Does nothing when not recording.
    void WriteEntry(int code, const std::string& parameterText);

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

// The bytes of one entry exactly as they go into the file (CP932, CR LF).
std::string FormatMacroEntry(int code, const std::string& parameterText);

}  // namespace lumadrift
