// Numbers in the files this system reads and writes: always the "C" locale,
// whatever LC_NUMERIC the desktop (or the GUI toolkit) has set, so a German
// desktop still writes and reads "1.50".
#pragma once

#include <cstdio>
#include <string>
#include <locale.h>

namespace lumadrift {

// The process-wide "C" locale object.
locale_t CLocale();

// strtod in the "C" locale (leading-number conversion with strtod's forms).
double StrtodC(const char* text, char** end);

// Optional sign and decimal digits up to the first other character, after
// leading white space; 0 for text without a number. Saturates at the int
// range.
int ParseIntValue(const std::string& text);

// The longest leading plain decimal number ([+-]digits[.digits][e[+-]digits])
// after leading white space; 0.0 when there is none. "inf", "nan" and
// hexadecimal forms are not numbers in these files.
double ParseRealValue(const char* text, size_t length);
inline double ParseRealValue(const std::string& text) { return ParseRealValue(text.data(), text.size()); }

// printf "%0.Nf".
std::string FormatReal(double value, int decimals);

// snprintf into a string, "C" locale; for short texts (at most 511 bytes).
template <typename... Args>
std::string FormatC(const char* format, Args... args)
{
    char buf[512];
    const locale_t old = uselocale(CLocale());
    std::snprintf(buf, sizeof buf, format, args...);
    uselocale(old);
    return buf;
}

}  // namespace lumadrift
