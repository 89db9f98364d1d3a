// Every operation a macro can hold, as one table of plain data: its code and
// name, the image states it runs in, the state it leaves, its parameter
// fields, and the replay entry that hands the parsed parameters to the same
// document entry the dialog uses. The recorder's text, the replay's parsing
// and check, and the menus' enabling (through the command table) all read it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/param_fields.h"
#include "core/image_model.h"
#include "filters/derivative.h"
#include "filters/fft.h"

namespace lumadrift {

class CLumadriftDoc;
class PathPolicy;

// A set of ImageState values.
class StateSet {
public:
    constexpr StateSet() = default;
    constexpr StateSet(std::initializer_list<ImageState> states)
    {
        for (ImageState s : states)
            bits_ = static_cast<uint16_t>(bits_ | (1u << s));
    }
    static constexpr StateSet All() { return FromBits(0x1ff); }
    constexpr bool Has(int state) const { return state >= 0 && state < 16 && (bits_ >> state) & 1u; }
    constexpr StateSet operator&(StateSet o) const { return FromBits(bits_ & o.bits_); }
    constexpr StateSet Without(StateSet o) const { return FromBits(bits_ & ~o.bits_); }
    constexpr bool operator==(StateSet o) const { return bits_ == o.bits_; }

private:
    static constexpr StateSet FromBits(unsigned bits)
    {
        StateSet s;
        s.bits_ = static_cast<uint16_t>(bits);
        return s;
    }
    uint16_t bits_ = 0;
};

// Every state but the given ones.
constexpr StateSet AllBut(std::initializer_list<ImageState> states) { return StateSet::All().Without(StateSet(states)); }

// What an operation needs besides its state.
enum class Needs : uint8_t { kNothing, kUndoStep, kRedoStep };

// The words of a parameter line, with the checks every entry shares.
class Words {
public:
    explicit Words(const std::string& params);
    size_t size() const { return words_.size(); }
    bool Has(size_t n) const { return words_.size() >= n; }
    // Number words longer than the format allows are refused rather than
    // guessed at.
    bool Int(size_t i, int& out) const;
    bool Real(size_t i, double& out) const;
    // A text value (CP932 in the file) in UTF-8.
    bool Text(size_t i, std::string& out) const;
    // A non-empty path value as a UTF-8 path resolved against base.
    bool Path(size_t i, const std::string& base, std::string& out) const;

private:
    std::vector<std::string> words_;
};

// Where a replayed entry resolves its paths.
struct ReplayContext {
    std::string baseDir;
    PathPolicy* paths = nullptr;
};

struct OperationRow;
// Runs one replayed entry: negative when it failed or was refused, else 0
// or the number of words it used.
using ReplayEntryFn = int (*)(CLumadriftDoc& doc, const OperationRow& row, const Words& words,
                              const ReplayContext& ctx);

constexpr int kStateUnchanged = -1;

struct OperationRow {
    int code;              // OperationCode
    const char* name;      // UTF-8 name of the code line
    StateSet runsIn;       // where replay may run it; menus narrow it further
    Needs needs;
    int leaves;            // ImageState after it, or kStateUnchanged
    bool parameterLine;    // a parameter line follows the code line
    const ParamSet* params;  // its regular fields, or nullptr (no line, or a form of its own)
    ReplayEntryFn replay;
};

const std::vector<OperationRow>& OperationTable();
// nullptr for a code that is not in the table.
const OperationRow* FindOperation(int code);

// 0 when the operation may run in the state, negative when it may not (-9
// for a code that is not in the table).
int CheckOperation(int code, int state, bool undoAvailable, bool redoAvailable);

// Runs an operation that takes no parameters (a menu choice without a
// dialog) through its entry; -1 for an operation with a parameter line.
int RunWithoutParameters(CLumadriftDoc& doc, int code);

// The parameter line of regular fields: "label=value" words joined by one
// blank (UTF-8).
std::string FormatParameterLine(const ParamSet& fields, const void* params);
// Reads the regular fields by position; false when a word is missing or
// refused.
bool ParseParameterLine(const ParamSet& fields, const Words& words, const std::string& baseDir,
                        void* params);

// The line of a convolution: "モード=%d ", then for mode 0 "ファイル=" and the
// path, for modes 3 and 5 one " %d-%d=%0.1f" word (row and column from 1,
// coefficient) per coefficient in row order, or with `replayed` set
// " %d-%d=%d" with the coefficient truncated toward zero (saturated to the
// int range, NaN as 0). Missing coefficients count as 0; other modes add
// nothing.
std::string ConvolutionParameterText(const ConvolutionParams& p, bool replayed);
// The line of a band-pass: "マスク=2 ファイル=..." for a mask file, else
// "マスク=%d 最小値=%0.2f 最大値=%0.2f".
std::string FftParameterText(const FftParams& p);

}  // namespace lumadrift
