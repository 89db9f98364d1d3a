// The filter (macro) file format: operation codes and names, which codes
// carry a parameter line, and how parameter words are read back.
//
// A macro file is CP932 text with CR LF line ends: per completed operation a
// code line "%02d %s" (code, name) and, for the codes listed by
// HasParameterLine, one parameter line of blank-separated words
// "label=value". Values are read by position: a word's value is the text
// after its first '=', with any further '=' left out.
#pragma once

#include <string>
#include <vector>

#include "core/c_number.h"

namespace lumadrift {

enum OperationCode : int {
    kOpBinarize = 1,
    kOpDilate = 2,
    kOpErode = 3,
    kOpLabel = 4,
    kOpThin = 5,
    kOpContrast = 6,
    kOpGamma = 7,
    kOpEqualize = 8,
    kOpMovingAverage = 9,
    kOpMedian = 10,
    kOpRoberts = 11,
    kOpSobel = 12,
    kOpPrewitt = 13,
    kOpLaplacian = 14,
    kOpSmooth = 15,
    kOpSharpen = 16,
    kOpConvolution = 17,
    kOpAffine = 18,
    kOpFft = 19,
    kOpRank = 20,
    kOpPoolAnd = 21,
    kOpPoolOr = 22,
    kOpPoolXor = 23,
    kOpOpenFile = 51,
    kOpSaveFile = 52,
    kOpAcquire = 55,
    kOpShowSource = 56,
    kOpPool = 57,
    kOpProfile = 58,
    kOpPreview = 59,
    kOpCapture = 60,
    kOpUndo = 61,
    kOpRedo = 62,
    kOpSleep = 63,
};

constexpr int kOperationSlots = 64;

// UTF-8 name of an operation code, or nullptr for codes without a name
// (0, 24..50, 53, 54, anything outside 0..63).
const char* OperationName(int code);

// True for the codes whose code line is followed by a parameter line.
bool HasParameterLine(int code);

// Splits text at white space (blank, tab, CR, LF, VT, FF).
std::vector<std::string> SplitWords(const std::string& text);

// The value of a word: the text after its first '=', further '=' removed;
// empty when the word has no '='.
std::string WordValue(const std::string& word);

// Longest word that may carry a number, and longest path value.
constexpr size_t kMaxNumberWord = 23;
constexpr size_t kMaxPathValue = 259;

}  // namespace lumadrift
