#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "app/directories.h"
#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/replay.h"
#include "core/cp932.h"
#include "core/file_io.h"
#include "core/picture_file.h"
#include "core/parallel.h"

namespace lumadrift {

namespace {

std::string Stem(const std::string& path)
{
    std::string base = BaseName(path);
    const size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

// Output names of one picture: "<stem>.bmp", "<stem>-2.bmp", ... (or the
// extension of the chosen picture format).
class BatchPaths : public PathPolicy {
public:
    BatchPaths(std::string image, std::string outDir, bool overwrite, bool dryRun,
               const char* pictureExt = ".bmp")
        : image_(std::move(image)), outDir_(std::move(outDir)), stem_(Stem(image_)),
          overwrite_(overwrite), dryRun_(dryRun), pictureExt_(pictureExt)
    {
    }

    bool Map(Kind kind, int id, std::string& path) override
    {
        if (kind == kOpenImage) {
            path = image_;
            return true;
        }
        std::string name;
        switch (kind) {
        case kSaveImage: name = Numbered(saves_, pictureExt_); break;
        case kLabelFile: name = Numbered(labels_, ".lbl"); break;
        case kProfileFile: name = Numbered(profiles_, ".pfl"); break;
        case kPoolFile: name = stem_ + "-pool-" + std::to_string(id) + pictureExt_; break;
        default: return false;
        }
        path = outDir_ + "/" + name;
        written_.push_back(path);
        if (dryRun_)
            return false;
        if (!overwrite_ && FileExists(path)) {
            refusal_ = "exists, not overwritten: " + path;
            return false;
        }
        return true;
    }

    std::string TakeRefusal()
    {
        std::string r;
        r.swap(refusal_);
        return r;
    }
    const std::vector<std::string>& written() const { return written_; }

private:
    std::string Numbered(int& counter, const char* ext)
    {
        ++counter;
        return counter == 1 ? stem_ + ext : stem_ + "-" + std::to_string(counter) + ext;
    }

    std::string image_, outDir_, stem_;
    bool overwrite_, dryRun_;
    const char* pictureExt_;
    int saves_ = 0, labels_ = 0, profiles_ = 0;
    std::vector<std::string> written_;
    std::string refusal_;
};

struct ImageResult {
    int entries = 0;
    int failed = 0;
};

const char* OutcomeText(EntryOutcome o)
{
    return o == EntryOutcome::kActiveModeError ? "Active mode error" : "Function error";
}

std::string Printable(const std::string& cp932)
{
    std::string s = Cp932ToUtf8(cp932);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The output names a macro would write for one picture, without running it.
std::vector<std::string> PlannedOutputs(const std::vector<MacroEntry>& entries, BatchPaths& paths)
{
    for (const MacroEntry& e : entries) {
        if (!e.numbered)
            continue;
        const auto words = SplitWords(e.params);
        std::string dummy;
        if (e.code == kOpSaveFile)
            paths.Map(PathPolicy::kSaveImage, 0, dummy);
        else if (e.code == kOpLabel && !words.empty() && !WordValue(words[0]).empty())
            paths.Map(PathPolicy::kLabelFile, 0, dummy);
        else if (e.code == kOpProfile && !words.empty() && ParseIntValue(WordValue(words[0])) == 2)
            paths.Map(PathPolicy::kProfileFile, 2, dummy);
        else if (e.code == kOpPool && words.size() >= 2 && ParseIntValue(WordValue(words[0])) == 3)
            paths.Map(PathPolicy::kPoolFile, ParseIntValue(WordValue(words[1])), dummy);
    }
    return paths.written();
}

const char* OutputExtension(const BatchOptions& o)
{
    return o.format == "png" ? ".png" : o.format == "tiff" ? ".tif" : ".bmp";
}

}  // namespace

std::vector<std::string> CollectImages(const BatchOptions& o, std::string& error)
{
    std::vector<std::string> all;
    for (const std::string& in : o.inputs) {
        if (DirectoryExists(in)) {
            std::vector<std::string> names;
            if (DIR* d = ::opendir(in.c_str())) {
                while (const dirent* e = ::readdir(d)) {
                    const std::string name = e->d_name;
                    if (IsPictureFileName(name) && FileExists(in + "/" + name))
                        names.push_back(name);
                }
                ::closedir(d);
            }
            std::sort(names.begin(), names.end());
            for (const auto& n : names)
                all.push_back(in + "/" + n);
        } else if (FileExists(in)) {
            all.push_back(in);
        } else {
            error = "no such picture or folder: " + in;
            return {};
        }
    }
    std::vector<std::string> mine;
    for (size_t i = 0; i < all.size(); ++i)
        if (static_cast<int>(i % static_cast<size_t>(o.shardCount)) == o.shardIndex)
            mine.push_back(all[i]);
    return mine;
}

int RunBatch(const BatchOptions& o, const std::vector<uint8_t>& macro)
{
    std::string error;
    const std::vector<std::string> images = CollectImages(o, error);
    if (!error.empty()) {
        std::fprintf(stderr, "lumadrift-replay: %s\n", error.c_str());
        return 2;
    }
    const std::vector<MacroEntry> entries = ReadMacroEntries(macro);
    bool opensImage = false;
    for (const auto& e : entries)
        opensImage = opensImage || (e.numbered && e.code == kOpOpenFile);

    if (o.dryRun) {
        for (const auto& image : images) {
            BatchPaths paths(image, o.outDir, o.overwrite, true, OutputExtension(o));
            for (const auto& out : PlannedOutputs(entries, paths))
                std::printf("%s -> %s%s\n", image.c_str(), out.c_str(),
                            !o.overwrite && FileExists(out) ? " (exists: would be refused)" : "");
        }
        return 0;
    }
    if (!DirectoryExists(o.outDir) && !MakeDirectory(o.outDir)) {
        std::fprintf(stderr, "lumadrift-replay: cannot create the output folder %s\n", o.outDir.c_str());
        return 2;
    }

    const Directories dirs = Directories::FromRoot(o.root);
    const std::string base = DirName(o.macroPath);
    const std::string macroName = o.macroPath;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    std::mutex outputLock;
    std::atomic<size_t> next{0};
    std::atomic<int> done{0}, failedImages{0}, totalEntries{0}, totalFailed{0};
    const auto start = std::chrono::steady_clock::now();

    auto progress = [&]() {
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const int n = done.load();
        const double rate = secs > 0 ? n / secs : 0.0;
        const double left = rate > 0 ? (static_cast<double>(images.size()) - n) / rate : 0.0;
        std::fprintf(stderr, "\r%d/%zu images, %d failed entries, %.1f images/s, %.0f s left   ", n,
                     images.size(), totalFailed.load(), rate, left);
        std::fflush(stderr);
    };

    auto worker = [&]() {
        for (;;) {
            const size_t i = next.fetch_add(1);
            if (i >= images.size())
                return;
            const std::string& image = images[i];
            DocEnvironment env;
            env.layoutState = 0;
            env.dirs = dirs;
            env.createDirectories = false;
            env.saveSettings = false;
            CLumadriftDoc doc(env);
            BatchPaths paths(image, o.outDir, o.overwrite, false, OutputExtension(o));
            ImageResult result;
            if (!opensImage && doc.OpenDocument(image) != BmpError::kNone) {
                std::lock_guard<std::mutex> lock(outputLock);
                std::fprintf(stderr, "%s%s: cannot be opened as a picture\n", terminal ? "\r" : "",
                             image.c_str());
                ++result.failed;
            }
            ReplayOptions ro;
            ro.logDir = dirs.logDir;
            ro.baseDir = base;
            ro.paths = &paths;
            ro.onEntry = [&](const ReplayEntry& e) {
                const std::string why = paths.TakeRefusal();
                if (e.outcome == EntryOutcome::kRan)
                    return;
                std::lock_guard<std::mutex> lock(outputLock);
                std::fprintf(stderr, "%s%s: %s:%d: %s: %s %s%s%s\n", terminal ? "\r" : "",
                             image.c_str(), macroName.c_str(), e.lineNumber, OutcomeText(e.outcome),
                             Printable(e.name).c_str(), Printable(e.params).c_str(),
                             why.empty() ? "" : " -- ", why.c_str());
            };
            const ReplaySummary s = ReplayMacroBytes(doc, macro, ro);
            result.entries += s.entries;
            result.failed += s.failed;
            totalEntries += result.entries;
            totalFailed += result.failed;
            if (result.failed)
                ++failedImages;
            ++done;
            std::lock_guard<std::mutex> lock(outputLock);
            if (terminal)
                progress();
            else
                std::printf("%s: %d entries, %d failed\n", image.c_str(), result.entries,
                            result.failed);
            std::fflush(stdout);
        }
    };

    int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::thread::hardware_concurrency());
    jobs = std::max(1, std::min<int>(jobs, static_cast<int>(std::max<size_t>(images.size(), 1))));
    // Several pictures at once already use the cores: their filters then run
    // inline instead of asking the pool for all of them.
    auto serialWorker = [&] {
        SerialWorkScope serial(jobs > 1);
        worker();
    };
    std::vector<std::thread> threads;
    for (int t = 1; t < jobs; ++t)
        threads.emplace_back(serialWorker);
    serialWorker();
    for (auto& t : threads)
        t.join();
    if (terminal && !images.empty())
        std::fputc('\n', stderr);
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("images: %zu, entries run: %d, entries failed: %d, output: %s (%.2f s, %.1f images/s)\n",
                images.size(), totalEntries.load(), totalFailed.load(), o.outDir.c_str(), secs,
                secs > 0 ? images.size() / secs : 0.0);
    return totalFailed.load() > 0 ? 1 : 0;
}

}  // namespace lumadrift
