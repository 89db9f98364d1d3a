#include "commands/commands_test_util.h"

#include <sys/stat.h>

#include "core/bmp.h"
#include "core/cp932.h"
#include "core/image_model.h"

namespace lumadrift::test {

std::vector<uint8_t> MakeBmp24(int width, int height)
{
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * 3 * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x + y + 3);
            p[1] = static_cast<uint8_t>(y * 10 + 2);
            p[2] = static_cast<uint8_t>(x * 10 + 1);
        }
    }
    return BuildBmp24(bgr.data(), width, height, static_cast<size_t>(width) * 3);
}

std::string MacroBytes(const std::string& utf8)
{
    std::string out;
    for (char c : Utf8ToCp932(utf8)) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

Installation::Installation()
{
    for (const char* sub : {"bin", "env", "picture", "filter", "log", "data"})
        ::mkdir((dir.path() + "/" + sub).c_str(), 0777);
}

DocEnvironment Installation::Environment(bool saveSettings) const
{
    DocEnvironment env;
    env.layoutState = 0;
    env.dirs = Directories::FromRoot(root());
    env.createDirectories = false;
    env.loadSettings = true;
    env.saveSettings = saveSettings;
    return env;
}

std::vector<int> RunMacro(CLumadriftDoc& doc, const Installation& inst, const std::string& utf8,
                          ReplaySummary* summary)
{
    std::vector<int> failed;
    ReplayOptions o;
    o.logDir = inst.logDir();
    o.baseDir = inst.root() + "/filter";
    o.onEntry = [&](const ReplayEntry& e) {
        if (e.outcome != EntryOutcome::kRan)
            failed.push_back(e.lineNumber);
    };
    const ReplaySummary s = ReplayMacroBytes(doc, Bytes(MacroBytes(utf8)), o);
    if (summary)
        *summary = s;
    return failed;
}

}  // namespace lumadrift::test
