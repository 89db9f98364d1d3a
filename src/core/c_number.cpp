#include "core/c_number.h"

#include <cstdlib>
#include <limits>

namespace lumadrift {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

locale_t CLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

double StrtodC(const char* text, char** end) { return strtod_l(text, end, CLocale()); }

int ParseIntValue(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr long long kLimit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    long long v = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > kLimit)
            v = kLimit;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<int>::max())
        v = std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

double ParseRealValue(const char* p, size_t length)
{
    size_t i = 0;
    while (i < length && IsSpace(p[i]))
        ++i;
    const size_t start = i;
    if (i < length && (p[i] == '+' || p[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < length && IsDigit(p[i])) {
        ++i;
        ++digits;
    }
    if (i < length && p[i] == '.') {
        ++i;
        while (i < length && IsDigit(p[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    if (i < length && (p[i] == 'e' || p[i] == 'E')) {
        size_t j = i + 1;
        if (j < length && (p[j] == '+' || p[j] == '-'))
            ++j;
        if (j < length && IsDigit(p[j])) {
            while (j < length && IsDigit(p[j]))
                ++j;
            i = j;
        }
    }
    const std::string number(p + start, i - start);
    return StrtodC(number.c_str(), nullptr);
}

std::string FormatReal(double value, int decimals)
{
    // Wide enough for any double with the decimals these files use.
    char buf[512];
    const locale_t old = uselocale(CLocale());
    std::snprintf(buf, sizeof buf, "%0.*f", decimals, value);
    uselocale(old);
    return buf;
}

}  // namespace lumadrift
