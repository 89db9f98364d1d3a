#include "commands/replay.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/run_log.h"
#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {

namespace {

constexpr size_t kLinePiece = 511;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The words of a parameter line, with the checks every entry shares.
class Words {
public:
    explicit Words(const std::string& params) : words_(SplitWords(params)) {}
    bool Has(size_t n) const { return words_.size() >= n; }
    // Number words longer than the format allows are refused rather than
    // guessed at.
    bool Int(size_t i, int& out) const
    {
        if (i >= words_.size() || words_[i].size() > kMaxNumberWord)
            return false;
        out = ParseIntValue(WordValue(words_[i]));
        return true;
    }
    bool Real(size_t i, double& out) const
    {
        if (i >= words_.size() || words_[i].size() > kMaxNumberWord)
            return false;
        out = ParseRealValue(WordValue(words_[i]));
        return true;
    }
    // A text value (CP932 in the file) in UTF-8.
    bool Text(size_t i, std::string& out) const
    {
        if (i >= words_.size())
            return false;
        const std::string value = WordValue(words_[i]);
        if (value.size() > kMaxPathValue)
            return false;
        out = Cp932ToUtf8(value);
        return true;
    }
    // A path value (CP932 in the file) as a UTF-8 path resolved against base.
    bool Path(size_t i, const std::string& base, std::string& out) const
    {
        if (i >= words_.size())
            return false;
        const std::string value = WordValue(words_[i]);
        if (value.empty() || value.size() > kMaxPathValue)
            return false;
        out = ResolveAgainst(base, Cp932ToUtf8(value));
        return true;
    }

private:
    std::vector<std::string> words_;
};

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

bool MapPath(PathPolicy* paths, PathPolicy::Kind kind, int id, std::string& path)
{
    return !paths || paths->Map(kind, id, path);
}

int DispatchOpen(CLumadriftDoc& doc, const Words& w, const std::string& base, PathPolicy* paths)
{
    std::string path;
    if (!w.Path(0, base, path) || !MapPath(paths, PathPolicy::kOpenImage, 0, path) ||
        !FileExists(path))
        return -1;
    return doc.OpenDocument(path) == BmpError::kNone ? 1 : -1;
}

int DispatchSave(CLumadriftDoc& doc, const Words& w, const std::string& base, PathPolicy* paths)
{
    std::string path;
    if (!w.Path(0, base, path) || !MapPath(paths, PathPolicy::kSaveImage, 0, path))
        return -1;
    return doc.SaveAs(path) == 0 ? 1 : -1;
}

int DispatchSleep(CLumadriftDoc& doc, const Words& w)
{
    int ms = 0;
    if (!w.Int(0, ms))
        return -1;
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    // Recorded like every replayed step, so a re-recorded macro keeps its waits.
    doc.Record(kOpSleep, "ミリ秒=" + std::to_string(ms));
    return 1;
}

int DispatchAcquire(CLumadriftDoc& doc, const Words& w)
{
    int channel = 0, invert = 0, left = 0, top = 0, right = 0, bottom = 0;
    double angle = 0.0;
    if (!w.Has(7) || !w.Int(0, channel) || !w.Int(1, invert) || !w.Real(2, angle) ||
        !w.Int(3, left) || !w.Int(4, top) || !w.Int(5, right) || !w.Int(6, bottom))
        return -1;
    return doc.ReplayAcquire(channel, invert, angle, left, top, right, bottom) == 0 ? 7 : -1;
}

int DispatchPool(CLumadriftDoc& doc, const Words& w, const std::string& base, PathPolicy* paths)
{
    int action = 0, id = 0;
    std::string text;
    if (!w.Has(3) || !w.Int(0, action) || !w.Int(1, id) || !w.Text(2, text))
        return -1;
    if (action == 3) {
        // The text of a save is a file: relative paths follow the macro.
        if (text.empty())
            return -1;
        text = ResolveAgainst(base, text);
        if (!MapPath(paths, PathPolicy::kPoolFile, id, text))
            return -1;
    }
    return doc.ReplayPool(action, id, text) == 0 ? 3 : -1;
}

int DispatchBinarize(CLumadriftDoc& doc, const Words& w)
{
    int min = 0, max = 0;
    if (!w.Has(2) || !w.Int(0, min) || !w.Int(1, max))
        return -1;
    return doc.ReplayBinarize(min, max) == 0 ? 2 : -1;
}

int DispatchFactor(CLumadriftDoc& doc, int code, const Words& w)
{
    double v = 0;
    if (!w.Has(1) || !w.Real(0, v))
        return -1;
    if (code == kOpContrast) {
        doc.ContrastImage(v);
        return 1;
    }
    return doc.GammaImage(v) == 0 ? 1 : -1;
}

int DispatchSmoothing(CLumadriftDoc& doc, int code, const Words& w)
{
    int x = 0, y = 0;
    if (!w.Has(2) || !w.Int(0, x) || !w.Int(1, y))
        return -1;
    if (code == kOpMovingAverage)
        return doc.MovingAverageImage(x, y) == 0 ? 2 : -1;
    if (code == kOpMedian)
        return doc.MedianImage(x, y) == 0 ? 2 : -1;
    int rank = 0, choice = 0;
    if (!w.Has(4) || !w.Int(2, rank) || !w.Int(3, choice))
        return -1;
    return doc.RankImage(x, y, rank, choice) == 0 ? 4 : -1;
}

int DispatchProfile(CLumadriftDoc& doc, const Words& w, const std::string& base,
                    PathPolicy* paths)
{
    int id = 0;
    if (!w.Has(1) || !w.Int(0, id))
        return -1;
    if (id != 2)
        return doc.ReplayProfile(id, 0, 0, 0, 0, {}) == 0 ? 1 : -1;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    std::string path;
    if (!w.Has(6) || !w.Int(1, x1) || !w.Int(2, y1) || !w.Int(3, x2) || !w.Int(4, y2) ||
        !w.Path(5, base, path) || !MapPath(paths, PathPolicy::kProfileFile, 2, path))
        return -1;
    return doc.ReplayProfile(2, x1, y1, x2, y2, path) == 0 ? 6 : -1;
}

int DispatchFft(CLumadriftDoc& doc, const Words& w, const std::string& base)
{
    int shape = 0;
    if (!w.Has(1) || !w.Int(0, shape) || shape < 0 || shape > 2)
        return -1;
    if (shape == 2) {
        std::string path;
        if (!w.Has(2) || !w.Path(1, base, path))
            return -1;
        return doc.ReplayFft(2, 0.0, 1.0, path) == 0 ? 2 : -1;
    }
    double min = 0, max = 0;
    if (!w.Has(3) || !w.Real(1, min) || !w.Real(2, max))
        return -1;
    return doc.ReplayFft(shape, min, max, {}) == 0 ? 3 : -1;
}

int DispatchLabel(CLumadriftDoc& doc, const Words& w, const std::string& base, PathPolicy* paths)
{
    std::string path;
    if (!w.Has(1) || !w.Text(0, path))
        return -1;
    // A recorded labeling whose results were never saved carries no file.
    if (!path.empty()) {
        path = ResolveAgainst(base, path);
        if (!MapPath(paths, PathPolicy::kLabelFile, 0, path))
            return -1;
    }
    return doc.ReplayLabel(path) == 0 ? 1 : -1;
}

int DispatchConvolution(CLumadriftDoc& doc, const Words& w, const std::string& base)
{
    int mode = 0;
    if (!w.Has(1) || !w.Int(0, mode))
        return -1;
    if (mode == 0) {
        std::string path;
        if (!w.Has(2) || !w.Path(1, base, path) || !FileExists(path))
            return -1;
        return doc.ReplayConvolution(0, {}, path) == 0 ? 2 : -1;
    }
    if (mode != 3 && mode != 5)
        return -1;
    const size_t n = static_cast<size_t>(mode) * mode;
    if (!w.Has(n + 1))
        return -1;
    std::vector<double> values(n);
    for (size_t i = 0; i < n; ++i)
        if (!w.Real(i + 1, values[i]))
            return -1;
    return doc.ReplayConvolution(mode, values, {}) == 0 ? static_cast<int>(n + 1) : -1;
}

int DispatchAffine(CLumadriftDoc& doc, const Words& w)
{
    double v[7];
    if (!w.Has(7))
        return -1;
    for (size_t i = 0; i < 7; ++i)
        if (!w.Real(i, v[i]))
            return -1;
    return doc.ReplayAffine(v[0], v[1], v[2], v[3], v[4], v[5], v[6]) == 0 ? 7 : -1;
}

int DispatchInterImage(CLumadriftDoc& doc, BitOp op, const Words& w)
{
    int target = 0, reference = 0;
    if (!w.Has(2) || !w.Int(0, target) || !w.Int(1, reference))
        return -1;
    return doc.ReplayInterImage(op, target, reference) == 0 ? 2 : -1;
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
    const int s = doc.state();
    bool ok = false;
    switch (code) {
    case 1: ok = s == 3 || s == 5; break;
    case 2: case 3: case 4: case 5: ok = s == 4; break;
    case 6: case 7: case 8: case 9: case 10: case 11: case 12: case 13: case 14:
    case 15: case 16: case 17: case 18: case 19: case 20:
        ok = s == 3;
        break;
    case 21: case 22: case 23: case 56: case 57: ok = s == 3 || s == 4 || s == 5; break;
    case 51: case 59: case 63: ok = true; break;
    case 52: ok = s != 0; break;
    case 55: ok = s == 1 || s == 2; break;
    case 58: ok = s == 3 || s == 7; break;
    case 60: ok = s == 8; break;
    case 61: ok = doc.undoAvailable(); break;
    case 62: ok = doc.redoAvailable(); break;
    default: return -9;
    }
    return ok ? 0 : -1;
}

int DispatchCode(CLumadriftDoc& doc, int code, const std::string& params,
                 const std::string& baseDir, PathPolicy* paths)
{
    const Words words(params);
    switch (code) {
    case kOpOpenFile: return DispatchOpen(doc, words, baseDir, paths);
    case kOpSaveFile: return DispatchSave(doc, words, baseDir, paths);
    case kOpShowSource: doc.ShowSourcePicture(); return 0;
    case kOpBinarize: return DispatchBinarize(doc, words);
    case kOpDilate: doc.DilateImage(); return 0;
    case kOpErode: doc.ErodeImage(); return 0;
    case kOpThin: doc.ThinImage(); return 0;
    case kOpLabel: return DispatchLabel(doc, words, baseDir, paths);
    case kOpProfile: return DispatchProfile(doc, words, baseDir, paths);
    case kOpContrast:
    case kOpGamma:
        return DispatchFactor(doc, code, words);
    case kOpEqualize: doc.EqualizeImage(); return 0;
    case kOpMovingAverage:
    case kOpMedian:
    case kOpRank:
        return DispatchSmoothing(doc, code, words);
    case kOpRoberts: doc.RobertsImage(); return 0;
    case kOpSobel: doc.SobelImage(); return 0;
    case kOpPrewitt: doc.PrewittImage(); return 0;
    case kOpLaplacian: doc.LaplacianImage(); return 0;
    case kOpSmooth: doc.SmoothImage(); return 0;
    case kOpSharpen: doc.SharpenImage(); return 0;
    case kOpConvolution: return DispatchConvolution(doc, words, baseDir);
    case kOpAffine: return DispatchAffine(doc, words);
    case kOpFft: return DispatchFft(doc, words, baseDir);
    case kOpPreview: return doc.ReplayPreview();
    case kOpCapture: return doc.CaptureCamera(true);
    case kOpAcquire: return DispatchAcquire(doc, words);
    case kOpPool: return DispatchPool(doc, words, baseDir, paths);
    case kOpPoolAnd: return DispatchInterImage(doc, BitOp::kAnd, words);
    case kOpPoolOr: return DispatchInterImage(doc, BitOp::kOr, words);
    case kOpPoolXor: return DispatchInterImage(doc, BitOp::kXor, words);
    // Check has made sure a step exists in that direction.
    case kOpUndo: doc.Undo(); return 0;
    case kOpRedo: doc.Redo(); return 0;
    case kOpSleep: return DispatchSleep(doc, words);
    default:
        // Operations this build does not carry refuse, so the log says so.
        return -1;
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
    for (const MacroEntry& m : ReadMacroEntries(bytes)) {
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
