#include "core/ini_file.h"

#include <climits>

#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {

namespace {

enum class LineKind { Blank, Comment, Section, Key, Other };

// One physical line of the file. Offsets point into the file's bytes so that
// untouched lines are copied back exactly as they were.
struct Line {
    size_t start = 0;
    size_t end = 0;  // past the line break (or the end of the file)
    bool terminated = false;
    LineKind kind = LineKind::Other;
    std::string name;   // section or key name, blanks trimmed
    std::string value;  // key value, blanks trimmed
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s, size_t from, size_t to)
{
    while (from < to && IsBlank(s[from]))
        ++from;
    while (to > from && IsBlank(s[to - 1]))
        --to;
    return s.substr(from, to - from);
}

std::string Trim(const std::string& s) { return Trim(s, 0, s.size()); }

// Position of the ASCII character c in s[from, to), never matching the
// second byte of a two-byte character (']' and '\' occur there).
size_t FindCp932(const std::string& s, char c, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (s[i] == c)
            return i;
        if (IsCp932LeadByte(b) && i + 1 < to)
            ++i;
    }
    return std::string::npos;
}

// Letter case is folded for ASCII letters only, and never for the second
// byte of a two-byte character: 0x41 and 0x61 there belong to different
// characters.
bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (IsCp932LeadByte(ca) && i + 1 < a.size()) {
            if (ca != cb || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        const auto fa = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        const auto fb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (fa != fb)
            return false;
    }
    return true;
}

std::vector<Line> SplitLines(const std::string& text)
{
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        Line line;
        line.start = pos;
        const size_t nl = text.find('\n', pos);
        size_t contentEnd = nl == std::string::npos ? text.size() : nl;
        line.end = nl == std::string::npos ? text.size() : nl + 1;
        line.terminated = nl != std::string::npos;
        if (contentEnd > pos && text[contentEnd - 1] == '\r')
            --contentEnd;

        size_t first = pos;
        while (first < contentEnd && IsBlank(text[first]))
            ++first;
        if (first == contentEnd) {
            line.kind = LineKind::Blank;
        } else if (text[first] == ';') {
            line.kind = LineKind::Comment;
        } else if (text[first] == '[') {
            line.kind = LineKind::Section;
            size_t close = FindCp932(text, ']', first + 1, contentEnd);
            if (close == std::string::npos)
                close = contentEnd;
            line.name = Trim(text, first + 1, close);
        } else {
            const size_t eq = text.find('=', first);
            if (eq != std::string::npos && eq < contentEnd) {
                line.kind = LineKind::Key;
                line.name = Trim(text, first, eq);
                line.value = Trim(text, eq + 1, contentEnd);
            }
        }
        lines.push_back(std::move(line));
        pos = lines.back().end;
    }
    return lines;
}

// Index of the first header of the section, or -1. Like the classic API,
// only the first of several equally named sections is looked at.
long FindSection(const std::vector<Line>& lines, const std::string& section)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LineKind::Section && EqualNoCase(lines[i].name, section))
            return static_cast<long>(i);
    return -1;
}

struct KeyPlace {
    long section = -1;
    long key = -1;      // the key's line, or -1
    long lastKey = -1;  // the section's last key line (or its header)
};

KeyPlace FindKey(const std::vector<Line>& lines, const std::string& section, const std::string& key)
{
    KeyPlace place;
    place.section = FindSection(lines, section);
    if (place.section < 0)
        return place;
    place.lastKey = place.section;
    for (size_t i = static_cast<size_t>(place.section) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section)
            break;
        if (lines[i].kind != LineKind::Key)
            continue;
        place.lastKey = static_cast<long>(i);
        if (place.key < 0 && EqualNoCase(lines[i].name, key))
            place.key = static_cast<long>(i);
    }
    return place;
}

bool ReadText(const std::string& path, std::string& text)
{
    std::vector<uint8_t> bytes;
    if (path.empty() || !ReadWholeFile(path, bytes))
        return false;
    text.assign(bytes.begin(), bytes.end());
    return true;
}

// The value of key in section; false when the file, section or key is missing.
bool Lookup(const std::string& path, const std::string& section, const std::string& key, std::string& value)
{
    std::string text;
    if (!ReadText(path, text))
        return false;
    const std::vector<Line> lines = SplitLines(text);
    const KeyPlace place = FindKey(lines, section, key);
    if (place.key < 0)
        return false;
    value = lines[static_cast<size_t>(place.key)].value;
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return true;
}

// Sets one key in text. Lines other than the key's own stay byte for byte.
void SetKey(std::string& text, const std::string& section, const std::string& key, const std::string& value)
{
    const std::vector<Line> lines = SplitLines(text);
    const KeyPlace place = FindKey(lines, section, key);
    if (place.section < 0) {
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
        text += "[" + section + "]\r\n" + key + "=" + value + "\r\n";
        return;
    }
    if (place.key >= 0) {
        // The key keeps the spelling it has in the file.
        const Line& line = lines[static_cast<size_t>(place.key)];
        text.replace(line.start, line.end - line.start, line.name + "=" + value + "\r\n");
        return;
    }
    const Line& after = lines[static_cast<size_t>(place.lastKey)];
    std::string insert = key + "=" + value + "\r\n";
    if (!after.terminated)
        insert = "\r\n" + insert;
    text.insert(after.end, insert);
}

bool ValidName(const std::string& name, bool isSection)
{
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos)
        return false;
    if (isSection)
        return FindCp932(name, ']', 0, name.size()) == std::string::npos;
    return name.find('=') == std::string::npos && name[0] != '[' && name[0] != ';';
}

}  // namespace

int IniFile::GetInt(const std::string& section, const std::string& key, int def) const
{
    std::string value;
    // An empty value counts as missing, as with the classic API.
    if (!Lookup(path_, section, key, value) || value.empty())
        return def;
    size_t i = 0;
    while (i < value.size() && IsBlank(value[i]))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-'))
        negative = value[i++] == '-';
    long long n = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        n = n * 10 + (value[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1;  // saturates like strtol
    }
    if (negative)
        n = -n;
    if (n > INT_MAX)
        n = INT_MAX;
    return static_cast<int>(n);
}

std::string IniFile::GetString(const std::string& section, const std::string& key, const std::string& def,
                               size_t maxChars) const
{
    std::string value;
    if (!Lookup(path_, section, key, value))
        value = def;
    return TruncateCp932(value, maxChars);
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    return WriteStrings(section, {{key, value}});
}

bool IniFile::WriteStrings(const std::string& section,
                           const std::vector<std::pair<std::string, std::string>>& keyValues)
{
    const std::string sectionName = Trim(section);
    if (path_.empty() || !ValidName(sectionName, true))
        return false;
    for (const auto& kv : keyValues)
        if (!ValidName(Trim(kv.first), false))
            return false;
    if (keyValues.empty())
        return true;

    std::string text;
    // A missing file starts empty; one that exists but cannot be read must
    // not be replaced by a file holding only these keys.
    if (!ReadText(path_, text) && FileExists(path_))
        return false;
    for (const auto& kv : keyValues) {
        // A line break in a value would split the line into a stray key.
        std::string value = kv.second.substr(0, kv.second.find_first_of("\r\n"));
        SetKey(text, sectionName, Trim(kv.first), value);
    }
    return WriteFileWhole(path_, text.data(), text.size()) == 0;
}

}  // namespace lumadrift
