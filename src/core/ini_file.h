// INI files with the semantics of the classic private-profile API:
// case-insensitive section and key names, integer reads by leading-number
// conversion with a default, text reads with a default, and writes that keep
// every other section, key, comment and line as it was. The file is CP932
// with CR LF; this class works on CP932 bytes (callers convert paths and
// texts with cp932.h). A write rewrites the whole file through a temporary
// file and a rename.
#pragma once

#include <string>
#include <vector>

namespace lumadrift {

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Integer read: the value's leading number ("12x" -> 12, "abc" -> 0,
    // "-5" -> -5); the default when the key or the file is missing.
    int GetInt(const std::string& section, const std::string& key, int def) const;
    // Text read: the value with surrounding blanks removed (and one pair of
    // enclosing double quotes), at most maxChars bytes; the default when
    // the key or the file is missing.
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def, size_t maxChars = 511) const;
    // Sets key=value in section, creating the file, the section or the key
    // as needed. true when the file was written.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    // Several keys of one section in one rewrite of the file.
    bool WriteStrings(const std::string& section,
                      const std::vector<std::pair<std::string, std::string>>& keyValues);

private:
    std::string path_;
};

}  // namespace lumadrift
