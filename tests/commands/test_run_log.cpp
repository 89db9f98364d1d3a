#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "commands/commands_test_util.h"
#include "commands/run_log.h"
#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {
namespace {

// 2026-12-07 05:01:20 UTC, a Monday.
constexpr std::time_t kMonday = 1796619680;
constexpr std::time_t kTuesday = 1796688001;

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override
    {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(RunLogTest, TimeStampHasTwentyFourCharactersInBrackets)
{
    const std::string stamp = LogTimeStamp(kMonday);
    EXPECT_EQ(stamp, "[Mon Dec  7 05:01:20 2026]");
    EXPECT_EQ(stamp.size(), 26u);
}

TEST_F(RunLogTest, FileNamedAfterTheLocalDate)
{
    EXPECT_EQ(LogFilePath("/x/log", kMonday), "/x/log/20261207.log");
    EXPECT_EQ(LogFilePath("/x/log", kTuesday), "/x/log/20261208.log");
}

TEST_F(RunLogTest, LinesAreAppendedWithCrLf)
{
    test::TempDir dir;
    const std::string log = dir / "log";  // created on first use
    ASSERT_TRUE(WriteLogLine(log, ActiveModeErrorText(kMonday, Utf8ToCp932("膨張")), kMonday));
    ASSERT_TRUE(WriteLogLine(
        log, FunctionErrorText(kMonday, Utf8ToCp932("2値化"), Utf8ToCp932("最小値=100\n")), kMonday));
    const std::string expected = Utf8ToCp932(
        "[Mon Dec  7 05:01:20 2026] Active mode error:膨張\r\n"
        "[Mon Dec  7 05:01:20 2026] Function error:2値化 最小値=100 \r\n");
    EXPECT_EQ(test::ReadText(log + "/20261207.log"), expected);
}

TEST_F(RunLogTest, TwoDaysGoToTwoFiles)
{
    test::TempDir dir;
    ASSERT_TRUE(WriteLogLine(dir.path(), "a", kMonday));
    ASSERT_TRUE(WriteLogLine(dir.path(), "b", kTuesday));
    ASSERT_TRUE(WriteLogLine(dir.path(), "c", kMonday));
    EXPECT_EQ(test::ReadText(dir / "20261207.log"), "a\r\nc\r\n");
    EXPECT_EQ(test::ReadText(dir / "20261208.log"), "b\r\n");
}

TEST_F(RunLogTest, UnwritableDirectoryLosesTheLineQuietly)
{
    EXPECT_FALSE(WriteLogLine("/nonexistent-dir/a/b", "x", kMonday));
}

TEST(LogText, LineBreaksBecomeBlanksButNotInsideTwoByteCharacters)
{
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a\r\nb", "a  b"},
        {"x\n", "x "},
        // A lead byte followed by a trail byte is one character and is kept.
        {"\x81\x40\n", "\x81\x40 "},
        // A lead byte followed by a line feed is no character: the LF goes.
        {"\x81\n", "\x81 "},
        {"\x82\xA0\r", "\x82\xA0 "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SanitizeLogText(c.in), c.out);
}

TEST(LogText, CutAt2047BytesWithoutSplittingACharacter)
{
    std::string s(2046, 'a');
    s += "\x96\x63";  // 膨: would end at byte 2048
    const std::string out = SanitizeLogText(s);
    EXPECT_EQ(out.size(), 2046u);
    EXPECT_EQ(SanitizeLogText(std::string(3000, 'b')).size(), 2047u);
}

}  // namespace
}  // namespace lumadrift
