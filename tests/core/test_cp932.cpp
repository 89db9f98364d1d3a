#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/cp932.h"

namespace lumadrift {
namespace {

struct RoundTrip {
    const char* utf8;
    const char* cp932;
};

class Cp932RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Cp932RoundTrip, EncodesToBytesAndBack)
{
    const RoundTrip& c = GetParam();
    EXPECT_EQ(Utf8ToCp932(c.utf8), std::string(c.cp932));
    EXPECT_EQ(Cp932ToUtf8(c.cp932), std::string(c.utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Cp932RoundTrip,
    ::testing::Values(RoundTrip{"2値化", "2\x92\x6C\x89\xBB"},
                      RoundTrip{"ﾌｧｲﾙ", "\xCC\xA7\xB2\xD9"},  // half-width katakana stay one byte each
                      RoundTrip{"膨張", "\x96\x63\x92\xA3"},
                      RoundTrip{"①", "\x87\x40"},             // NEC row 13, missing from plain Shift_JIS
                      RoundTrip{"Ⅰ", "\x87\x54"},
                      RoundTrip{"髙", "\xFB\xFC"},
                      RoundTrip{"\\", "\\"},                   // not a yen sign
                      RoundTrip{"~", "~"},                     // not an overline
                      RoundTrip{"～", "\x81\x60"},
                      RoundTrip{"C:\\data\\画像.bmp", "C:\\data\\\x89\xE6\x91\x9C.bmp"},
                      RoundTrip{"ﾚﾃﾞｨ", "\xDA\xC3\xDE\xA8"},
                      RoundTrip{"", ""},
                      RoundTrip{"plain ascii 123", "plain ascii 123"}));

TEST(Cp932, OneWayCharactersFoldToTheirWindowsBytes)
{
    EXPECT_EQ(Utf8ToCp932("¥"), "\\");
    EXPECT_EQ(Utf8ToCp932("〜"), "\x81\x60");
    EXPECT_EQ(Cp932ToUtf8("\x81\x5F"), "＼");
}

TEST(Cp932, UnencodableCharactersBecomeOneQuestionMarkEach)
{
    struct Case {
        const char* utf8;
        const char* cp932;
    } cases[] = {
        {"a😀b", "a?b"},               // outside the BMP
        {"한글", "??"},                // Hangul has no CP932 form
        {"x\xFFy", "x?y"},             // not UTF-8 at all
        {"x\xE5\x80", "x?"},           // sequence cut off at the end
        {"\xC3(値", "?(\x92\x6C"},     // bad continuation; the next character survives
        {"😀値😀", "?\x92\x6C?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToCp932(c.utf8), std::string(c.cp932));
    }
}

TEST(Cp932, UndecodableBytesBecomeReplacementCharacter)
{
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        std::string cp932;
        std::string utf8;
    } cases[] = {
        {"\x80", fffd},
        {"a\xA0" "b", "a" + fffd + "b"},
        {"a\xFD", "a" + fffd},
        {"a\x82", "a" + fffd},            // lead byte without its second byte
        {"\x82 x", fffd + " x"},           // second byte out of range: the blank is kept
        {"\x92\x6C\x80\x92\x6C", "値" + fffd + "値"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.cp932));
        EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
    }
}

TEST(Cp932, TruncateNeverSplitsATwoByteCharacter)
{
    const std::string kanji = Utf8ToCp932("2値化");  // 32 | 92 6C | 89 BB
    struct Case {
        std::string in;
        size_t max;
        std::string out;
    } cases[] = {
        {kanji, 10, kanji},
        {kanji, 5, kanji},
        {kanji, 4, kanji.substr(0, 3)},
        {kanji, 2, "2"},
        {kanji, 1, "2"},
        {kanji, 0, ""},
        {"\xCC\xA7\xB2\xD9", 3, "\xCC\xA7\xB2"},  // half-width kana are single bytes
        {"ab\x82", 3, "ab\x82"},                    // a stray lead byte at the end counts as one
        {"ab\x82", 2, "ab"},
        {"a\\b", 2, "a\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in) + " max " + std::to_string(c.max));
        EXPECT_EQ(TruncateCp932(c.in, c.max), c.out);
    }
}

TEST(Cp932, ConcurrentConversionsDoNotDisturbEachOther)
{
    const std::string utf8 = "ﾌｨﾙﾀ 2値化 ① C:\\data\\画像.bmp 😀";
    const std::string expected = Utf8ToCp932(utf8);
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string cp = Utf8ToCp932(utf8);
                if (cp != expected || Utf8ToCp932(Cp932ToUtf8(cp)) != expected)
                    ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(failures[static_cast<size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace lumadrift
