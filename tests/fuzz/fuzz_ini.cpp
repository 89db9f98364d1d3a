// libFuzzer target: any bytes as the settings file: reading every key and
// writing the settings back must neither crash nor lose the file's other
// lines.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/image_settings.h"
#include "core/file_io.h"
#include "core/ini_file.h"

using namespace lumadrift;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = [] {
        std::string t = "/tmp/lumadrift-fuzz-ini-XXXXXX";
        if (!::mkdtemp(t.data()))
            std::abort();
        return t + "/Lumadrift.ini";
    }();
    WriteFileWhole(path, data, size);
    IniFile ini(path);
    const ImageSettings s = LoadImageSettings(ini);
    SaveImageSettings(ini, s);
    const ImageSettings again = LoadImageSettings(ini);
    if (again.binarize.min != s.binarize.min || again.range.left != s.range.left)
        __builtin_trap();  // what we write we must read back
    return 0;
}
