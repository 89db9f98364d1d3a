#include <gtest/gtest.h>

#include <clocale>
#include <climits>

#include "commands/commands_test_util.h"
#include "commands/macro_format.h"
#include "commands/operation_table.h"
#include "commands/macro_recorder.h"
#include "core/cp932.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

struct EntryCase {
    int code;
    const char* params;
    const char* expected;  // UTF-8, LF; converted to CP932 / CR LF for the comparison
};

class MacroEntryFormat : public ::testing::TestWithParam<EntryCase> {};

TEST_P(MacroEntryFormat, CodeLineAndParameterLine)
{
    const EntryCase& c = GetParam();
    EXPECT_EQ(FormatMacroEntry(c.code, c.params), MacroBytes(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MacroEntryFormat,
    ::testing::Values(
        EntryCase{1, "最小値=100 最大値=255", "01 2値化\n最小値=100 最大値=255\n"},
        EntryCase{2, "", "02 膨張\n"},
        EntryCase{2, "ignored for codes without a parameter line", "02 膨張\n"},
        EntryCase{6, "倍率=1.50", "06 コントラスト\n倍率=1.50\n"},
        EntryCase{7, "倍率=0.80", "07 ガンマ補正\n倍率=0.80\n"},
        EntryCase{12, "", "12 Solbel\n"},
        EntryCase{57, "追加CD=1 ID= ファイル=pool1", "57 画像プール\n追加CD=1 ID= ファイル=pool1\n"},
        EntryCase{56, "", "56 元画像表示\n"},
        EntryCase{58, "ID=1", "58 濃度プロファイル\nID=1\n"},
        EntryCase{59, "", "59 プレビュー\n"},
        EntryCase{63, "ミリ秒=2500", "63 スリープ\nミリ秒=2500\n"},
        EntryCase{4, "ファイル=", "04 ラベリング\nファイル=\n"}));

TEST(MacroEntryFormat, DilationIsWrittenInCp932WithCrLf)
{
    const std::string bytes = FormatMacroEntry(2, "");
    const std::string expected = "\x30\x32\x20\x96\x63\x92\xA3\x0D\x0A";
    EXPECT_EQ(bytes, expected);
}

TEST(OperationNames, UnnamedCodesHaveNoName)
{
    for (int code : {0, 24, 37, 50, 53, 54, 64, -1, 100})
        EXPECT_EQ(OperationName(code), nullptr) << code;
    for (int code : {1, 23, 51, 52, 55, 63})
        EXPECT_NE(OperationName(code), nullptr) << code;
}

TEST(OperationNames, ParameterLineCodes)
{
    const std::vector<int> withLine = {1, 4, 6, 7, 9, 10, 17, 18, 19, 20, 21, 22, 23,
                                       51, 52, 55, 57, 58, 63};
    for (int code = -1; code <= 64; ++code) {
        const bool expected = std::find(withLine.begin(), withLine.end(), code) != withLine.end();
        EXPECT_EQ(HasParameterLine(code), expected) << code;
    }
}

struct ValueCase {
    const char* text;
    int asInt;
    double asReal;
};

class ValueParsing : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueParsing, LeadingNumberConversion)
{
    const ValueCase& c = GetParam();
    EXPECT_EQ(ParseIntValue(c.text), c.asInt) << c.text;
    EXPECT_DOUBLE_EQ(ParseRealValue(c.text), c.asReal) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ValueParsing,
    ::testing::Values(ValueCase{"12x", 12, 12.0}, ValueCase{"abc", 0, 0.0}, ValueCase{"", 0, 0.0},
                      ValueCase{"-5", -5, -5.0}, ValueCase{"+7", 7, 7.0},
                      ValueCase{"1.50", 1, 1.5}, ValueCase{"-2.25x", -2, -2.25},
                      ValueCase{".5", 0, 0.5}, ValueCase{"1e3", 1, 1000.0},
                      ValueCase{"1e", 1, 1.0}, ValueCase{"inf", 0, 0.0},
                      ValueCase{"nan", 0, 0.0}, ValueCase{"0x10", 0, 0.0},
                      ValueCase{"99999999999", INT_MAX, 99999999999.0},
                      ValueCase{"-99999999999", INT_MIN, -99999999999.0}));

TEST(WordValues, TextAfterTheFirstEqualsSign)
{
    const std::pair<const char*, const char*> cases[] = {
        {"最小値=100", "100"}, {"a=b=c", "bc"}, {"abc", ""}, {"=5", "5"}, {"ID=", ""},
    };
    for (const auto& [word, value] : cases)
        EXPECT_EQ(WordValue(word), value) << word;
}

TEST(WordValues, SplitAtAnyWhiteSpace)
{
    const auto words = SplitWords("  a=1\tb=2 \r\n c=3\n");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0], "a=1");
    EXPECT_EQ(words[2], "c=3");
    EXPECT_TRUE(SplitWords(" \r\n").empty());
}

TEST(NumberFormat, DecimalPointWhateverTheLocale)
{
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    EXPECT_EQ(FormatReal(1.5, 2), "1.50");
    EXPECT_DOUBLE_EQ(ParseRealValue("2.25"), 2.25);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(MacroRecorder, NothingDoneGivesAnEmptyFile)
{
    test::TempDir dir;
    MacroRecorder rec;
    ASSERT_TRUE(rec.Start(dir / "empty.flt"));
    EXPECT_TRUE(rec.recording());
    rec.Stop();
    EXPECT_FALSE(rec.recording());
    EXPECT_TRUE(test::ReadBytes(dir / "empty.flt").empty());
}

TEST(MacroRecorder, EveryEntryReachesTheFileAtOnce)
{
    test::TempDir dir;
    MacroRecorder rec;
    ASSERT_TRUE(rec.Start(dir / "m.flt"));
    rec.WriteEntry(2, "");
    // Still recording: a crash now must not lose the entry.
    EXPECT_EQ(test::ReadText(dir / "m.flt"), MacroBytes("02 膨張\n"));
    rec.WriteEntry(63, "ミリ秒=5");
    EXPECT_EQ(test::ReadText(dir / "m.flt"), MacroBytes("02 膨張\n63 スリープ\nミリ秒=5\n"));
}

TEST(MacroRecorder, UncreatableFileLeavesRecordingOff)
{
    MacroRecorder rec;
    EXPECT_FALSE(rec.Start("/nonexistent-dir/x/m.flt"));
    EXPECT_FALSE(rec.recording());
    rec.WriteEntry(2, "");  // must be harmless
}

TEST(MacroRecorder, StartTruncatesAnExistingFile)
{
    test::TempDir dir;
    test::WriteText(dir / "m.flt", "old contents\r\n");
    MacroRecorder rec;
    ASSERT_TRUE(rec.Start(dir / "m.flt"));
    rec.Stop();
    EXPECT_TRUE(test::ReadBytes(dir / "m.flt").empty());
}

TEST(UserConvolution, RecordedParameterText)
{
    const std::vector<double> k3 = {0.25, -1.75, 2, 0, 1.05, -0.04, 100.5, 7, -7};
    struct Case {
        const char* name;
        int mode;
        std::vector<double> values;
        bool replayed;
        std::string want;
    };
    const Case cases[] = {
        {"MenuPathOneDecimal", 3, k3, false,
         "モード=3  1-1=0.2 1-2=-1.8 1-3=2.0 2-1=0.0 2-2=1.1 2-3=-0.0 3-1=100.5 3-2=7.0 3-3=-7.0"},
        {"ReplayPathTruncated", 3, k3, true, "モード=3  1-1=0 1-2=-1 1-3=2 2-1=0 2-2=1 2-3=0 3-1=100 3-2=7 3-3=-7"},
        {"FileMode", 0, {}, false, "モード=0 ファイル=/data/filter/edge.knl"},
        {"OtherMode", 4, k3, false, "モード=4 "},
        {"MissingValuesAreZero", 3, {1}, true, "モード=3  1-1=1 1-2=0 1-3=0 2-1=0 2-2=0 2-3=0 3-1=0 3-2=0 3-3=0"},
    };
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // a decimal comma must not leak in
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ConvolutionParameterText({c.mode, 3, 3, c.values, "/data/filter/edge.knl"}, c.replayed), c.want);
    }
    const std::vector<double> k5(25, 1.0);
    const std::string five = ConvolutionParameterText({5, 5, 5, k5, ""}, false);
    EXPECT_EQ(five.substr(five.size() - 8), " 5-5=1.0");
    std::setlocale(LC_NUMERIC, previous.c_str());
}

}  // namespace
}  // namespace lumadrift
