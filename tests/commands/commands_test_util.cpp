#include "commands/commands_test_util.h"

#include <sys/stat.h>

#include "core/cp932.h"
#include "core/image_model.h"

namespace lumadrift::test {

std::vector<uint8_t> MakeBmp24(int width, int height)
{
    const int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> f(54 + static_cast<size_t>(stride) * height, 0);
    f[0] = 'B';
    f[1] = 'M';
    PutLe32(&f[2], static_cast<uint32_t>(f.size()));
    PutLe32(&f[10], 54);
    PutLe32(&f[14], 40);
    PutLe32(&f[18], static_cast<uint32_t>(width));
    PutLe32(&f[22], static_cast<uint32_t>(height));
    PutLe16(&f[26], 1);
    PutLe16(&f[28], 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &f[54 + static_cast<size_t>(height - 1 - y) * stride];
        for (int x = 0; x < width; ++x) {
            row[3 * x + 0] = static_cast<uint8_t>(x + y + 3);
            row[3 * x + 1] = static_cast<uint8_t>(y * 10 + 2);
            row[3 * x + 2] = static_cast<uint8_t>(x * 10 + 1);
        }
    }
    return f;
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

}  // namespace lumadrift::test
