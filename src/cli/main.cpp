// lumadrift-replay: replays a recorded filter file without a window.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/directories.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "core/cp932.h"
#include "core/file_io.h"

using namespace lumadrift;

namespace {

const char kUsage[] =
    "usage: lumadrift-replay [--root DIR] MACRO.flt\n"
    "\n"
    "Replays a recorded filter file (macro) once on a fresh document, exactly as\n"
    "the workbench's run-macro command does, with no dialogs.\n"
    "\n"
    "  --root DIR   installation root holding env/, log/, picture/, filter/, data/.\n"
    "               Default: the parent of the working directory when that ends\n"
    "               in /bin, else the parent of this program's folder.\n"
    "  -h, --help   show this text.\n"
    "\n"
    "Settings are read from DIR/env/Lumadrift.ini and never written. Entries that\n"
    "cannot run are logged to DIR/log/YYYYMMDD.log and printed on stderr with\n"
    "their line number. Relative paths in the macro are taken from the macro\n"
    "file's folder.\n"
    "\n"
    "Exit status: 0 every entry ran, 1 some entry failed, 2 usage error or a\n"
    "macro file that cannot be read.\n";

std::string ExecutableDir()
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    return DirName(buf);
}

std::string DefaultRoot()
{
    const std::string cwd = CurrentDirectory();
    if (LayoutCheck(cwd) == 0)
        return cwd + "/..";
    return ExecutableDir() + "/..";
}

std::string AbsoluteDir(const std::string& path)
{
    const std::string dir = DirName(path);
    if (!dir.empty() && dir[0] == '/')
        return dir;
    return CurrentDirectory() + "/" + dir;
}

const char* OutcomeText(EntryOutcome o)
{
    return o == EntryOutcome::kActiveModeError ? "Active mode error" : "Function error";
}

}  // namespace

int main(int argc, char** argv)
{
    std::string root;
    std::string macro;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--root") {
            if (i + 1 >= argc) {
                std::fputs("lumadrift-replay: --root needs a directory\n", stderr);
                return 2;
            }
            root = argv[++i];
        } else if (a.rfind("--root=", 0) == 0) {
            root = a.substr(7);
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "lumadrift-replay: unknown option %s\n\n%s", a.c_str(), kUsage);
            return 2;
        } else if (macro.empty()) {
            macro = a;
        } else {
            std::fprintf(stderr, "lumadrift-replay: only one macro file is taken\n\n%s", kUsage);
            return 2;
        }
    }
    if (macro.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(macro, bytes)) {
        std::fprintf(stderr, "lumadrift-replay: cannot read the macro file %s\n", macro.c_str());
        return 2;
    }
    if (root.empty())
        root = DefaultRoot();

    DocEnvironment env;
    env.layoutState = 0;
    env.dirs = Directories::FromRoot(root);
    env.createDirectories = false;
    env.loadSettings = true;
    env.saveSettings = false;
    CLumadriftDoc doc(env);

    ReplayOptions options;
    options.logDir = env.dirs.logDir;
    options.baseDir = AbsoluteDir(macro);
    options.onEntry = [&](const ReplayEntry& e) {
        if (e.outcome == EntryOutcome::kRan)
            return;
        std::string params = Cp932ToUtf8(e.params);
        while (!params.empty() && (params.back() == '\n' || params.back() == '\r'))
            params.pop_back();
        std::fprintf(stderr, "%s:%d: %s: %s%s%s\n", macro.c_str(), e.lineNumber,
                     OutcomeText(e.outcome), Cp932ToUtf8(e.name).c_str(),
                     params.empty() ? "" : " ", params.c_str());
    };
    const ReplaySummary s = ReplayMacroBytes(doc, bytes, options);
    std::printf("%s: %d entries, %d failed (log: %s)\n", macro.c_str(), s.entries, s.failed,
                env.dirs.logDir.c_str());
    return s.failed > 0 ? 1 : 0;
}
