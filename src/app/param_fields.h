// The fields of every operation's parameter struct, as data: the word label
// each has in a macro parameter line, the settings key it is kept under, and
// how its number is written. The settings file, the recorder and the replay
// all walk these lists, so a field is declared once.
#pragma once

#include <cstddef>
#include <string>

namespace lumadrift {

enum class FieldType {
    kInt,     // "%d"
    kReal,    // "%0.Nf" with the field's decimals
    kText,    // UTF-8 text; CP932 in the files
    kPath,    // a path: in a macro line it must not be empty and is resolved against the macro
    kColor,   // 0x00BBGGRR, written as a signed decimal
    kKernel,  // the convolution's coefficients or kernel file (settings only; the mode decides)
};

struct ParamField {
    const char* label;    // word label in the macro line; nullptr: not in the line
    const char* iniKey;   // settings key; nullptr: not kept. Fields in a row with the same key form one comma list
    FieldType type;
    int lineDecimals;     // reals in the macro line
    int iniDecimals;      // reals in the settings
    void* (*ref)(void* params);  // the member inside the struct
};

// The parameters of the few operations that have no filter of their own.
struct FileParams {
    std::string path;  // UTF-8
};
struct SleepParams {
    int milliseconds = 0;
};

// A view of one struct's field list, with a way to make a default struct
// of its kind (for code that handles every operation alike).
struct ParamSet {
    const ParamField* fields = nullptr;
    size_t count = 0;
    void* (*create)() = nullptr;
    void (*destroy)(void*) = nullptr;
    const ParamField* begin() const { return fields; }
    const ParamField* end() const { return fields + count; }
    // Fields that appear in a macro line.
    size_t LineFieldCount() const;
};

// Constant-initialized, so tables in other files may point at the result
// whatever order the files are initialized in.
template <typename Struct, size_t N>
constexpr ParamSet MakeParamSet(const ParamField (&fields)[N])
{
    return ParamSet{fields, N, []() -> void* { return new Struct(); },
                    [](void* p) { delete static_cast<Struct*>(p); }};
}

// The field lists. Labels and keys are the files' own words.
extern const ParamSet kBinarizeFields;
extern const ParamSet kContrastFields;
extern const ParamSet kGammaFields;
extern const ParamSet kMovingAverageFields;
extern const ParamSet kMedianFields;
extern const ParamSet kRankFields;
extern const ParamSet kConvolutionFields;  // settings only; the line has its own form
extern const ParamSet kAffineFields;
extern const ParamSet kFftFields;          // settings only; the line has its own form
extern const ParamSet kAcquireFields;
extern const ParamSet kInterImageFields;
extern const ParamSet kFileFields;         // open, save: "ファイル="
extern const ParamSet kSleepFields;

}  // namespace lumadrift
