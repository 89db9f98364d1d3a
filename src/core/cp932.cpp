#include "core/cp932.h"

#include <cerrno>
#include <iconv.h>

namespace lumadrift {

namespace {

// One converter per thread and direction: iconv_t carries shift state and is
// not safe to share, and opening one per call costs more than the conversion
// of a typical path. Batch replay runs documents on several threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts in; skip(p, left) tells how many input bytes an unconvertible
    // character spans, and replacement is emitted for it.
    template <typename Skip>
    std::string Run(const std::string& in, const std::string& replacement, Skip skip)
    {
        std::string out;
        if (!ok()) {
            // Without the converter only the ASCII part is trustworthy.
            for (const unsigned char c : in) {
                if (c < 0x80)
                    out += static_cast<char>(c);
                else
                    out += replacement;
            }
            return out;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        size_t used = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            size_t dstLeft = out.size() - used;
            const size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ, or EINVAL for a character cut off at the end of the input.
            const size_t n = errno == EINVAL ? srcLeft : skip(reinterpret_cast<const unsigned char*>(src), srcLeft);
            out.resize(used);
            out += replacement;
            used = out.size();
            out.resize(used + srcLeft * 2 + 16);
            src += n;
            srcLeft -= n;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t cd_;
};

bool IsAscii(const std::string& s)
{
    for (const unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// Length of the UTF-8 sequence at p as far as it is well formed, at least 1,
// so one bad character yields one '?'.
size_t Utf8SequenceLength(const unsigned char* p, size_t left)
{
    size_t want = 1;
    if (p[0] >= 0xC2 && p[0] <= 0xDF)
        want = 2;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF)
        want = 3;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4)
        want = 4;
    size_t n = 1;
    while (n < want && n < left && (p[n] & 0xC0) == 0x80)
        ++n;
    return n;
}

size_t Cp932SequenceLength(const unsigned char* p, size_t left)
{
    return (left >= 2 && IsCp932LeadByte(p[0]) && IsCp932TrailByte(p[1])) ? 2 : 1;
}

}  // namespace

std::string Utf8ToCp932(const std::string& utf8)
{
    if (IsAscii(utf8))
        return utf8;
    thread_local Converter toCp932("CP932", "UTF-8");
    return toCp932.Run(utf8, "?", Utf8SequenceLength);
}

std::string Cp932ToUtf8(const std::string& cp932)
{
    if (IsAscii(cp932))
        return cp932;
    thread_local Converter fromCp932("UTF-8", "CP932");
    return fromCp932.Run(cp932, "\xEF\xBF\xBD", Cp932SequenceLength);
}

std::string TruncateCp932(const std::string& s, size_t maxBytes)
{
    if (s.size() <= maxBytes)
        return s;
    size_t i = 0;
    while (i < s.size()) {
        const size_t n = (IsCp932LeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
        if (i + n > maxBytes)
            break;
        i += n;
    }
    return s.substr(0, i);
}

}  // namespace lumadrift
