// libFuzzer target: any bytes as a macro file, replayed on a document. Every
// file the macro would touch is redirected into a private folder, and the
// macro opens a small generated picture, so all operations get to run.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "core/bmp.h"
#include "core/file_io.h"

using namespace lumadrift;

namespace {

std::string& Folder()
{
    static std::string dir = [] {
        std::string t = "/tmp/lumadrift-fuzz-XXXXXX";
        if (!::mkdtemp(t.data()))
            std::abort();
        std::vector<uint8_t> bgr(40 * 30 * 3);
        for (size_t i = 0; i < bgr.size(); ++i)
            bgr[i] = static_cast<uint8_t>(i * 37 % 251);
        WriteFileWhole(t + "/in.bmp", BuildBmp24(bgr.data(), 40, 30, 40 * 3));
        return t;
    }();
    return dir;
}

class Jail : public PathPolicy {
public:
    bool Map(Kind kind, int, std::string& path) override
    {
        path = Folder() + (kind == kOpenImage ? "/in.bmp" : "/out");
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Waits and camera lines would only slow the search down.
    if (text.find("63") != std::string::npos || text.find("59") != std::string::npos)
        return 0;
    DocEnvironment env;
    env.layoutState = 0;
    env.dirs = Directories::FromRoot(Folder() + "/root");
    env.createDirectories = false;
    env.loadSettings = false;
    env.saveSettings = false;
    CLumadriftDoc doc(env);
    Jail jail;
    ReplayOptions options;
    options.baseDir = Folder() + "/none";
    options.paths = &jail;
    ReplayMacroBytes(doc, std::vector<uint8_t>(data, data + size), options);
    return 0;
}
