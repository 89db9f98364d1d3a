// Helpers for the document and replay tests: tiny BMP files, CP932 text and
// a document bound to a temporary installation tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "support/test_support.h"

namespace lumadrift::test {

// A plain 24-bit BMP (40-byte header) whose pixel (x, y) is
// (red, green, blue) = (x * 10 + 1, y * 10 + 2, x + y + 3).
std::vector<uint8_t> MakeBmp24(int width, int height);

// UTF-8 text with LF line ends as the CP932 / CR LF bytes of a macro file.
std::string MacroBytes(const std::string& utf8);

// An installation tree root/{bin,env,picture,filter,log,data} in a temp dir.
struct Installation {
    TempDir dir;
    std::string root() const { return dir.path(); }
    std::string logDir() const { return dir.path() + "/log"; }
    Installation();
    DocEnvironment Environment(bool saveSettings = false) const;
};

// Replays a macro (UTF-8, LF) on doc with the installation's log folder and
// its filter folder as the base of relative paths. Returns the macro lines of
// the entries that did not run.
std::vector<int> RunMacro(CLumadriftDoc& doc, const Installation& inst, const std::string& utf8,
                          ReplaySummary* summary = nullptr);

}  // namespace lumadrift::test
