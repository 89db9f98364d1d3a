#include "commands/replay.h"

#include <ctime>
#include <new>

#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/operation_table.h"
#include "commands/run_log.h"
#include "core/cp932.h"
#include "core/file_io.h"
#include "core/work_progress.h"

namespace lumadrift {

namespace {

constexpr size_t kLinePiece = 511;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Scans "%d %s": the code number and the name word. false when the line does
// not start with a number.
bool ScanCodeLine(const std::string& line, int& code, std::string& name)
{
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i]))
        ++i;
    size_t j = i;
    if (j < line.size() && (line[j] == '+' || line[j] == '-'))
        ++j;
    if (j >= line.size() || line[j] < '0' || line[j] > '9')
        return false;
    size_t k = j;
    while (k < line.size() && line[k] >= '0' && line[k] <= '9')
        ++k;
    code = ParseIntValue(line.substr(i, k - i));
    while (k < line.size() && IsBlank(line[k]))
        ++k;
    size_t e = k;
    while (e < line.size() && !IsBlank(line[e]))
        ++e;
    name = line.substr(k, e - k);
    return true;
}

std::string FirstWord(const std::string& line)
{
    const auto words = SplitWords(line);
    return words.empty() ? std::string() : words.front();
}

bool IsBlankLine(const std::string& line)
{
    for (char c : line)
        if (!IsBlank(c))
            return false;
    return true;
}

}  // namespace

MacroLineReader::MacroLineReader(const std::vector<uint8_t>& bytes)
{
    // Text mode: CR LF is a line end; a lone CR stays.
    text_.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text_.push_back(static_cast<char>(bytes[i]));
    }
}

bool MacroLineReader::Next(std::string& piece)
{
    piece.clear();
    if (pos_ >= text_.size())
        return false;
    pieceLine_ = line_;
    while (pos_ < text_.size() && piece.size() < kLinePiece) {
        const char c = text_[pos_++];
        piece.push_back(c);
        if (c == '\n') {
            ++line_;
            break;
        }
    }
    return true;
}

int CheckCode(const CLumadriftDoc& doc, int code)
{
    return CheckOperation(code, doc.state(), doc.undoAvailable(), doc.redoAvailable());
}

int DispatchCode(CLumadriftDoc& doc, int code, const std::string& params,
                 const std::string& baseDir, PathPolicy* paths)
{
    // Operations this build does not carry refuse, so the log says so.
    const OperationRow* row = FindOperation(code);
    if (!row || !row->replay)
        return -1;
    try {
        return row->replay(doc, *row, Words(params), ReplayContext{baseDir, paths});
    } catch (const std::bad_alloc&) {
        return -1;  // no memory for the working space: the picture is unchanged
    }
}

std::vector<MacroEntry> ReadMacroEntries(const std::vector<uint8_t>& bytes)
{
    std::vector<MacroEntry> entries;
    MacroLineReader reader(bytes);
    std::string line;
    while (reader.Next(line)) {
        if (IsBlankLine(line))
            continue;
        MacroEntry e;
        e.lineNumber = reader.lineNumber();
        e.numbered = ScanCodeLine(line, e.code, e.name);
        if (!e.numbered)
            e.name = FirstWord(line);
        else if (HasParameterLine(e.code))
            reader.Next(e.params);  // at the end of the file it stays empty
        entries.push_back(std::move(e));
    }
    return entries;
}

ReplaySummary ReplayMacroBytes(CLumadriftDoc& doc, const std::vector<uint8_t>& bytes,
                               const ReplayOptions& options)
{
    ReplaySummary summary;
    summary.opened = true;
    // One operation from the first entry to the last, whatever the message
    // pump does between them; the window counts the entries.
    WorkScope work;
    const std::vector<MacroEntry> entries = ReadMacroEntries(bytes);
    const int total = static_cast<int>(entries.size());
    for (const MacroEntry& m : entries) {
        WorkTick(summary.entries, total);
        ReplayEntry entry;
        entry.lineNumber = m.lineNumber;
        entry.code = m.code;
        entry.name = m.name;
        entry.params = m.params;
        ++summary.entries;
        if (!m.numbered || CheckCode(doc, entry.code) < 0) {
            entry.outcome = EntryOutcome::kActiveModeError;
            if (!options.logDir.empty())
                WriteLogLine(options.logDir, ActiveModeErrorText(std::time(nullptr), entry.name));
        } else if (DispatchCode(doc, entry.code, entry.params, options.baseDir, options.paths) < 0) {
            entry.outcome = EntryOutcome::kFunctionError;
            if (!options.logDir.empty())
                WriteLogLine(options.logDir,
                             FunctionErrorText(std::time(nullptr), entry.name, entry.params));
        }
        if (entry.outcome != EntryOutcome::kRan)
            ++summary.failed;
        if (options.onEntry)
            options.onEntry(entry);
        if (options.pumpMessages)
            options.pumpMessages();
    }
    return summary;
}

ReplaySummary ReplayMacroFile(CLumadriftDoc& doc, const std::string& path,
                              const ReplayOptions& options)
{
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes))
        return {};
    return ReplayMacroBytes(doc, bytes, options);
}

}  // namespace lumadrift
