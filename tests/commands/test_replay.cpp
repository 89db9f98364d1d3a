#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "commands/run_log.h"
#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {
namespace {

using test::Bytes;
using test::MacroBytes;

std::vector<std::string> Pieces(const std::string& bytes)
{
    MacroLineReader r(Bytes(bytes));
    std::vector<std::string> out;
    std::string p;
    while (r.Next(p))
        out.push_back(p);
    return out;
}

TEST(MacroLines, CrLfIsOneLineEndAndALoneCrStays)
{
    const auto p = Pieces("01 a\r\nx\ry\r\nlast");
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], "01 a\n");
    EXPECT_EQ(p[1], "x\ry\n");
    EXPECT_EQ(p[2], "last");
}

TEST(MacroLines, LongLinesAreReadInPiecesOf511Bytes)
{
    const std::string line(600, 'x');
    const auto p = Pieces(line + "\r\nnext\r\n");
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], std::string(511, 'x'));
    EXPECT_EQ(p[1], std::string(89, 'x') + "\n");
    EXPECT_EQ(p[2], "next\n");
}

TEST(MacroLines, LineNumbersCountFileLines)
{
    MacroLineReader r(Bytes(std::string(600, 'x') + "\nb\n"));
    std::string p;
    ASSERT_TRUE(r.Next(p));
    EXPECT_EQ(r.lineNumber(), 1);
    ASSERT_TRUE(r.Next(p));
    EXPECT_EQ(r.lineNumber(), 1);
    ASSERT_TRUE(r.Next(p));
    EXPECT_EQ(r.lineNumber(), 2);
}

// Check against every state, codes grouped as the replay accepts them.
TEST(ReplayCheck, StateTable)
{
    test::Installation inst;
    CLumadriftDoc doc(inst.Environment());
    struct Row {
        std::vector<int> codes;
        std::vector<int> states;
    };
    const Row rows[] = {
        {{1}, {3, 5}},
        {{2, 3, 4, 5}, {4}},
        {{6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, {3}},
        {{21, 22, 23, 56, 57}, {3, 4, 5}},
        {{51, 59, 63}, {0, 1, 2, 3, 4, 5, 7, 8}},
        {{52}, {1, 2, 3, 4, 5, 7, 8}},
        {{55}, {1, 2}},
        {{58}, {3, 7}},
        {{60}, {8}},
    };
    for (const Row& row : rows) {
        for (int code : row.codes) {
            for (int state : {0, 1, 2, 3, 4, 5, 7, 8}) {
                doc.setState(state);
                const bool allowed =
                    std::find(row.states.begin(), row.states.end(), state) != row.states.end();
                EXPECT_EQ(CheckCode(doc, code) == 0, allowed) << "code " << code << " state " << state;
            }
        }
    }
    doc.setState(0);
    for (int code : {0, 24, 30, 50, 53, 54, 64, -1})
        EXPECT_EQ(CheckCode(doc, code), -9) << code;
    // Without history neither undo nor redo may run, in any state.
    for (int state : {3, 7}) {
        doc.setState(state);
        EXPECT_LT(CheckCode(doc, 61), 0);
        EXPECT_LT(CheckCode(doc, 62), 0);
    }
}

class ReplayTest : public ::testing::Test {
protected:
    ReplayTest() : doc(inst.Environment()) {}

    ReplaySummary Run(const std::string& utf8Macro)
    {
        ReplayOptions o;
        o.logDir = inst.logDir();
        o.baseDir = inst.root() + "/filter";
        o.onEntry = [this](const ReplayEntry& e) { entries.push_back(e); };
        return ReplayMacroBytes(doc, Bytes(MacroBytes(utf8Macro)), o);
    }

    // The log lines of today without their time stamps, in UTF-8.
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(LogFilePath(inst.logDir(), std::time(nullptr)), bytes))
            return lines;
        const std::string text = Cp932ToUtf8(std::string(bytes.begin(), bytes.end()));
        size_t pos = 0;
        while (pos < text.size()) {
            const size_t end = text.find("\r\n", pos);
            EXPECT_NE(end, std::string::npos) << "log line without CR LF";
            const std::string line = text.substr(pos, end - pos);
            EXPECT_EQ(line.substr(0, 1), "[");
            EXPECT_EQ(line.substr(25, 2), "] ");
            lines.push_back(line.substr(27));
            pos = end == std::string::npos ? text.size() : end + 2;
        }
        return lines;
    }

    void PutPicture(const std::string& name, int w, int h)
    {
        test::WriteBytes(inst.root() + "/picture/" + name, test::MakeBmp24(w, h));
    }

    test::Installation inst;
    CLumadriftDoc doc;
    std::vector<ReplayEntry> entries;
};

TEST_F(ReplayTest, EntryNotAllowedInTheStateIsLoggedAndChangesNothing)
{
    doc.setState(kStateGray);
    const ReplaySummary s = Run("02 膨張\n");
    EXPECT_EQ(s.entries, 1);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Active mode error:膨張"});
}

TEST_F(ReplayTest, TooFewWordsIsAFunctionErrorWithTheParameterLine)
{
    doc.setState(kStateGray);
    Run("01 2値化\n最小値=100\n");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Function error:2値化 最小値=100 "});
}

TEST_F(ReplayTest, UnknownCodeDoesNotConsumeAParameterLine)
{
    // 30 has no parameter line, so the next line is read as a code line.
    Run("30 謎\n02 膨張\n");
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"Active mode error:謎",
                                                    "Active mode error:膨張"}));
}

TEST_F(ReplayTest, LineWithoutACodeNumberIsSkippedWithItsFirstWord)
{
    const ReplaySummary s = Run("abc def\n\n   \n63 スリープ\nミリ秒=0\n");
    EXPECT_EQ(s.entries, 2);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Active mode error:abc"});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].lineNumber, 1);
    EXPECT_EQ(entries[1].lineNumber, 4);
    EXPECT_EQ(entries[1].outcome, EntryOutcome::kRan);
}

TEST_F(ReplayTest, MissingParameterLineAtTheEndFails)
{
    Run("63 スリープ");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Function error:スリープ "});
}

TEST_F(ReplayTest, LongParameterLineSpillsIntoTheNextCodeLine)
{
    // The second piece of the parameter line is read as a code line.
    const std::string longLine = "ミリ秒=1 " + std::string(600, 'x');
    const ReplaySummary s = Run("63 スリープ\n" + longLine + "\n");
    EXPECT_EQ(s.entries, 2);
    ASSERT_EQ(LogLines().size(), 1u);
    // "ミリ秒=1 " is 9 bytes in CP932: the first piece holds 502 of the x.
    EXPECT_EQ(LogLines()[0], "Active mode error:" + std::string(98, 'x'));
}

TEST_F(ReplayTest, NameWordIsOnlyForTheLog)
{
    PutPicture("a.bmp", 4, 3);
    // The code decides: 51 opens even when the name says otherwise.
    Run("51 収縮\nファイル=../picture/a.bmp\n");
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(ReplayTest, OpenResolvesRelativePathsAndRecordsTheOpen)
{
    PutPicture("a.bmp", 5, 2);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const ReplaySummary s = Run("51 ファイルを開く\nファイル=../picture/a.bmp\n");
    doc.StopRecording();
    EXPECT_EQ(s.failed, 0);
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.imageWidth(), 5);
    EXPECT_EQ(doc.imageHeight(), 2);
    EXPECT_EQ(test::ReadText(inst.root() + "/filter/rec.flt"),
              MacroBytes("51 ファイルを開く\nファイル=" + inst.root() +
                         "/filter/../picture/a.bmp\n"));
}

TEST_F(ReplayTest, RefusedOpenKeepsThePreviousImage)
{
    PutPicture("good.bmp", 6, 4);
    test::WriteText(inst.root() + "/picture/bad.bmp", "MB not a bitmap at all");
    auto truncated = test::MakeBmp24(8, 8);
    truncated.resize(100);
    test::WriteBytes(inst.root() + "/picture/short.bmp", truncated);
    const ReplaySummary s = Run(
        "51 ファイルを開く\nファイル=../picture/good.bmp\n"
        "51 ファイルを開く\nファイル=../picture/bad.bmp\n"
        "51 ファイルを開く\nファイル=../picture/short.bmp\n"
        "51 ファイルを開く\nファイル=../picture/missing.bmp\n");
    EXPECT_EQ(s.entries, 4);
    EXPECT_EQ(s.failed, 3);
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.imageWidth(), 6);
    EXPECT_EQ(doc.colors().width(), 6);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "Function error:ファイルを開く ファイル=../picture/bad.bmp ",
                              "Function error:ファイルを開く ファイル=../picture/short.bmp ",
                              "Function error:ファイルを開く ファイル=../picture/missing.bmp "}));
}

TEST_F(ReplayTest, SaveInColourStateWritesTheLoadedFileBack)
{
    PutPicture("a.bmp", 5, 3);
    const ReplaySummary s = Run(
        "51 ファイルを開く\nファイル=../picture/a.bmp\n"
        "52 ファイルの保存\nファイル=../data/out.bmp\n");
    EXPECT_EQ(s.failed, 0);
    EXPECT_EQ(test::ReadBytes(inst.root() + "/data/out.bmp"), test::MakeBmp24(5, 3));
}

TEST_F(ReplayTest, SaveWithoutAnImageIsNotAllowed)
{
    Run("52 ファイルの保存\nファイル=../data/out.bmp\n");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Active mode error:ファイルの保存"});
    EXPECT_FALSE(FileExists(inst.root() + "/data/out.bmp"));
}

TEST_F(ReplayTest, SaveIntoAMissingFolderFails)
{
    PutPicture("a.bmp", 2, 2);
    const ReplaySummary s = Run(
        "51 ファイルを開く\nファイル=../picture/a.bmp\n"
        "52 ファイルの保存\nファイル=../nowhere/out.bmp\n");
    EXPECT_EQ(s.failed, 1);
}

TEST_F(ReplayTest, ShowSourcePictureNeedsAGrayImage)
{
    PutPicture("a.bmp", 2, 2);
    Run("51 ファイルを開く\nファイル=../picture/a.bmp\n56 元画像表示\n");
    EXPECT_EQ(LogLines(), std::vector<std::string>{"Active mode error:元画像表示"});
}

TEST_F(ReplayTest, OverlongWordsAreRefused)
{
    const std::string longPath(300, 'p');
    Run("63 スリープ\nミリ秒=000000000000000000000001\n"
        "51 ファイルを開く\nファイル=" + longPath + "\n");
    EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(ReplayTest, SleepIsRecorded)
{
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    Run("63 スリープ\nミリ秒=3\n");
    doc.StopRecording();
    EXPECT_EQ(test::ReadText(inst.root() + "/filter/rec.flt"), MacroBytes("63 スリープ\nミリ秒=3\n"));
}

TEST_F(ReplayTest, ReplayFileThatCannotBeReadRunsNothing)
{
    ReplayOptions o;
    const ReplaySummary s = ReplayMacroFile(doc, inst.root() + "/filter/none.flt", o);
    EXPECT_FALSE(s.opened);
    EXPECT_EQ(s.entries, 0);
}

}  // namespace
}  // namespace lumadrift
