// Conversion between the file system's UTF-8 and the CP932 text of the
// system's files (macro, log, INI, result, kernel and mask files).
#pragma once

#include <string>

namespace lumadrift {

// Characters that CP932 cannot hold become '?'.
std::string Utf8ToCp932(const std::string& utf8);
// Invalid byte sequences become U+FFFD.
std::string Cp932ToUtf8(const std::string& cp932);

// True when byte b starts a two-byte CP932 character (0x81-0x9F, 0xE0-0xFC).
inline bool IsCp932LeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
inline bool IsCp932TrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Cuts s to at most maxBytes bytes without splitting a two-byte character.
std::string TruncateCp932(const std::string& s, size_t maxBytes);

}  // namespace lumadrift
