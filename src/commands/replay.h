// Macro replay: reads a filter file entry by entry, checks each entry
// against the document's state, runs the operation's replay entry and logs
// every entry that could not run to the daily run log. A replay never stops
// early.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumadrift {

class CLumadriftDoc;

// Splits file bytes into the lines the replay reads: CR LF counts as a line
// end, and a line longer than 511 bytes is read in pieces of 511 bytes, each
// piece counting as a line. Pieces keep their line feed.
class MacroLineReader {
public:
    explicit MacroLineReader(const std::vector<uint8_t>& bytes);
    // false at the end of the data.
    bool Next(std::string& piece);
    // 1-based line of the file where the piece last returned by Next began.
    int lineNumber() const { return pieceLine_; }

private:
    std::string text_;
    size_t pos_ = 0;
    int line_ = 1;
    int pieceLine_ = 0;
};

enum class EntryOutcome { kRan, kActiveModeError, kFunctionError };

struct ReplayEntry {
    int lineNumber = 0;
    int code = 0;
    std::string name;    // CP932, as written in the file
    std::string params;  // CP932, with its line feed
    EntryOutcome outcome = EntryOutcome::kRan;
};

// Where a replay reads its pictures and writes its files. The batch tool
// replaces the paths of a macro with its own; a refusal (false) makes the
// entry fail before anything is written.
class PathPolicy {
public:
    enum Kind {
        kOpenImage,    // code 51
        kSaveImage,    // code 52
        kLabelFile,    // code 4
        kProfileFile,  // code 58, ID 2
        kPoolFile,     // code 57, save action; id is the pool index
    };
    virtual ~PathPolicy() = default;
    virtual bool Map(Kind kind, int id, std::string& path) = 0;
};

struct ReplayOptions {
    std::string logDir;   // where failures are logged; empty: not logged
    std::string baseDir;  // relative paths in parameter lines are resolved against it
    std::function<void()> pumpMessages;                 // between entries (GUI)
    std::function<void(const ReplayEntry&)> onEntry;    // after every entry
    PathPolicy* paths = nullptr;                        // keep the macro's paths when null
};

struct ReplaySummary {
    bool opened = false;  // the macro file could be read
    int entries = 0;
    int failed = 0;
};

// The entries of a macro as the replay reads them, without running any:
// blank lines are skipped; a line that does not start with a number is an
// entry of its own (numbered false) whose name is its first word.
struct MacroEntry {
    int lineNumber = 0;
    bool numbered = false;
    int code = 0;
    std::string name;    // CP932
    std::string params;  // CP932, with its line feed
};
std::vector<MacroEntry> ReadMacroEntries(const std::vector<uint8_t>& bytes);

// 0 when the code may run in the document's present state, negative when it
// may not (-9 for a code that is not in the table).
int CheckCode(const CLumadriftDoc& doc, int code);

// Runs one entry with its parameter line (CP932). Negative when the
// operation failed or refused, otherwise 0 or the number of words used.
int DispatchCode(CLumadriftDoc& doc, int code, const std::string& params,
                 const std::string& baseDir, PathPolicy* paths = nullptr);

ReplaySummary ReplayMacroBytes(CLumadriftDoc& doc, const std::vector<uint8_t>& bytes,
                               const ReplayOptions& options);
ReplaySummary ReplayMacroFile(CLumadriftDoc& doc, const std::string& path,
                              const ReplayOptions& options);

}  // namespace lumadrift
