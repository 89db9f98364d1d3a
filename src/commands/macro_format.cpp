#include "commands/macro_format.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace lumadrift {

namespace {

struct NamedCode {
    int code;
    const char* name;
};

constexpr NamedCode kNames[] = {
    {1, "2値化"},
    {2, "膨張"},
    {3, "収縮"},
    {4, "ラベリング"},
    {5, "細線化"},
    {6, "コントラスト"},
    {7, "ガンマ補正"},
    {8, "階調イコライゼーション"},
    {9, "移動平均"},
    {10, "メディアン"},
    {11, "Roberts"},
    {12, "Solbel"},
    {13, "Prewitt"},
    {14, "ラプラシアン"},
    {15, "スムース化"},
    {16, "シャープ化"},
    {17, "コンボリューション"},
    {18, "アフィン変換"},
    {19, "FFT処理"},
    {20, "ランク指定"},
    {21, "画像間AND演算"},
    {22, "画像間OR演算"},
    {23, "画像間XOR演算"},
    {51, "ファイルを開く"},
    {52, "ファイルの保存"},
    {55, "画像処理範囲取得"},
    {56, "元画像表示"},
    {57, "画像プール"},
    {58, "濃度プロファイル"},
    {59, "プレビュー"},
    {60, "キャプチャー"},
    {61, "元に戻す"},
    {62, "やり直し"},
    {63, "スリープ"},
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

locale_t CLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

const char* OperationName(int code)
{
    for (const auto& n : kNames)
        if (n.code == code)
            return n.name;
    return nullptr;
}

bool HasParameterLine(int code)
{
    switch (code) {
    case 1: case 4: case 6: case 7: case 9: case 10:
    case 17: case 18: case 19: case 20: case 21: case 22: case 23:
    case 51: case 52: case 55: case 57: case 58: case 63:
        return true;
    default:
        return false;
    }
}

std::vector<std::string> SplitWords(const std::string& text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSpace(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !IsSpace(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::string WordValue(const std::string& word)
{
    const size_t eq = word.find('=');
    if (eq == std::string::npos)
        return {};
    std::string value;
    for (size_t i = eq + 1; i < word.size(); ++i)
        if (word[i] != '=')
            value += word[i];
    return value;
}

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
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            v = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    }
    if (negative)
        v = -v;
    if (v > std::numeric_limits<int>::max())
        v = std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

double ParseRealValue(const std::string& text)
{
    // Only the plain decimal form counts: "inf", "nan" and hex floats that
    // strtod would also take are not numbers in these files.
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            while (j < text.size() && text[j] >= '0' && text[j] <= '9')
                ++j;
            i = j;
        }
    }
    const std::string number = text.substr(start, i - start);
    return strtod_l(number.c_str(), nullptr, CLocale());
}

std::string FormatReal(double value, int decimals)
{
    char buf[512];
    const locale_t old = uselocale(CLocale());
    std::snprintf(buf, sizeof buf, "%0.*f", decimals, value);
    uselocale(old);
    return buf;
}

}  // namespace lumadrift
