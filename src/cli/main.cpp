// lumadrift-replay: replays a recorded filter file without a window.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/directories.h"
#include "cli/batch.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "core/cp932.h"
#include "core/file_io.h"

using namespace lumadrift;

namespace {

const char kUsage[] =
    "usage: lumadrift-replay [--root DIR] MACRO.flt\n"
    "       lumadrift-replay [--root DIR] [-o OUTDIR] [-j N] [--shard I/N]\n"
    "                        [--format bmp|png|tiff] [--overwrite] [--dry-run]\n"
    "                        MACRO.flt PICTURE|FOLDER...\n"
    "\n"
    "Replays a recorded filter file (macro) on a fresh document, exactly as the\n"
    "workbench's run-macro command does, with no dialogs.\n"
    "\n"
    "With pictures (BMP, PNG, TIFF, JPEG, PGM or PPM files, or folders whose\n"
    "*.bmp, *.png, *.tif, *.tiff, *.jpg, *.jpeg, *.pgm, *.ppm and *.pnm files are\n"
    "taken in name order) the macro runs once per picture, each on its own\n"
    "document, as if its open entries had opened that picture. What the macro\n"
    "writes goes into OUTDIR, named after the picture: saves as <stem>.bmp,\n"
    "<stem>-2.bmp, ...; labeling results <stem>.lbl; profiles <stem>.pfl; saved\n"
    "pool images <stem>-pool-<ID>.bmp. An existing file is never overwritten\n"
    "without --overwrite; such a refusal fails the entry.\n"
    "\n"
    "  --root DIR    (or --root=DIR) installation root holding env/, log/,\n"
    "                picture/, filter/, data/.\n"
    "                Default: the parent of the working directory when that ends\n"
    "                in /bin, else the parent of this program's folder.\n"
    "  -o OUTDIR     output folder of a batch (default: the working directory).\n"
    "  -j N          pictures replayed at once (default: one per core); the\n"
    "                results are the same for every N.\n"
    "  --shard I/N   take every N-th picture starting at the I-th (0 <= I < N), so\n"
    "                that N machines or jobs share one folder without talking.\n"
    "  --format F    saved pictures and pool images are written as bmp (the\n"
    "                default), png (<stem>.png ...) or tiff (<stem>.tif ...).\n"
    "  --overwrite   replace existing output files.\n"
    "  --dry-run     list what would be written, run nothing.\n"
    "  --version     print the version and exit.\n"
    "  -h, --help    show this text.\n"
    "\n"
    "Settings are read from DIR/env/Lumadrift.ini and never written. Entries that\n"
    "cannot run are logged to DIR/log/YYYYMMDD.log and printed on stderr with the\n"
    "picture and the line number. Relative paths in the macro are taken from the\n"
    "macro file's folder.\n"
    "\n"
    "Exit status: 0 every entry ran, 1 some entry failed, 2 usage error or a\n"
    "macro file that cannot be read.\n"
    "\n"
    "Example: replay recipe.flt over every picture of scans/, two at a time,\n"
    "results into out/, with the settings of the installation in /opt/lumadrift:\n"
    "\n"
    "  lumadrift-replay --root /opt/lumadrift -j 2 -o out recipe.flt scans\n";

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

int Usage(const char* message)
{
    std::fprintf(stderr, "lumadrift-replay: %s\n\n%s", message, kUsage);
    return 2;
}

bool ParsePositive(const std::string& text, int& out)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 6)
        return false;
    out = std::stoi(text);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    BatchOptions o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("lumadrift-replay %s\n", LUMADRIFT_VERSION);
            return 0;
        } else if (a == "--root") {
            if (!value(o.root))
                return Usage("--root needs a directory");
        } else if (a.rfind("--root=", 0) == 0) {
            o.root = a.substr(7);
        } else if (a == "-o") {
            if (!value(o.outDir))
                return Usage("-o needs a folder");
        } else if (a == "-j") {
            std::string n;
            if (!value(n) || !ParsePositive(n, o.jobs) || o.jobs < 1)
                return Usage("-j needs a number of jobs, 1 or more");
        } else if (a == "--shard") {
            std::string shardText;
            const size_t slash = value(shardText) ? shardText.find('/') : std::string::npos;
            if (slash == std::string::npos ||
                !ParsePositive(shardText.substr(0, slash), o.shardIndex) ||
                !ParsePositive(shardText.substr(slash + 1), o.shardCount) || o.shardCount < 1 ||
                o.shardIndex >= o.shardCount)
                return Usage("--shard needs I/N with 0 <= I < N");
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            if (a != "--format")
                o.format = a.substr(9);
            else if (!value(o.format))
                return Usage("--format needs bmp, png or tiff");
            if (o.format != "bmp" && o.format != "png" && o.format != "tiff")
                return Usage("--format needs bmp, png or tiff");
        } else if (a == "--overwrite") {
            o.overwrite = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage(("unknown option " + a).c_str());
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    o.macroPath = positional.front();
    o.inputs.assign(positional.begin() + 1, positional.end());
    const std::string& macro = o.macroPath;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(macro, bytes)) {
        std::fprintf(stderr, "lumadrift-replay: cannot read the macro file %s\n", macro.c_str());
        return 2;
    }
    if (o.root.empty())
        o.root = DefaultRoot();
    if (!o.inputs.empty()) {
        o.macroPath = AbsoluteDir(macro) + "/" + BaseName(macro);
        return RunBatch(o, bytes);
    }

    DocEnvironment env;
    env.layoutState = 0;
    env.dirs = Directories::FromRoot(o.root);
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
