// The batch side of lumadrift-replay: one macro over many pictures.
#pragma once

#include <string>
#include <vector>

namespace lumadrift {

struct BatchOptions {
    std::string root;          // installation root (settings, log)
    std::string macroPath;
    std::vector<std::string> inputs;  // pictures and folders as given
    std::string outDir = ".";
    int jobs = 0;              // 0: one per core
    int shardIndex = 0;
    int shardCount = 1;
    bool overwrite = false;
    bool dryRun = false;
    std::string format = "bmp";  // pictures written: bmp, png or tiff
};

// The pictures of the inputs: files as given, folders as their picture files
// (IsPictureFileName) in name order; then every shardCount-th starting at
// shardIndex.
std::vector<std::string> CollectImages(const BatchOptions& o, std::string& error);

// Runs the macro over every picture; prints progress, failures and a
// summary. Returns the exit status: 0 every entry ran, 1 some failed.
int RunBatch(const BatchOptions& o, const std::vector<uint8_t>& macro);

}  // namespace lumadrift
