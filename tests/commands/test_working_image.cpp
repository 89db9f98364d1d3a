// Acquisition, undo and redo, the image pool and the inter-image operations
// through the document and through replayed macros.
#include <gtest/gtest.h>

#include <new>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/macro_format.h"
#include "commands/replay.h"
#include "core/acquisition.h"
#include "core/file_io.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

class WorkingImageTest : public ::testing::Test {
protected:
    WorkingImageTest() : doc(inst.Environment())
    {
        picture = inst.root() + "/picture/p.bmp";
        test::WriteBytes(picture, test::MakeBmp24(12, 9));
    }

    ReplaySummary Run(const std::string& utf8)
    {
        ReplaySummary s;
        const auto failed = test::RunMacro(doc, inst, utf8, &s);
        failures.insert(failures.end(), failed.begin(), failed.end());
        return s;
    }
    void Open() { ASSERT_EQ(doc.OpenDocument(picture), BmpError::kNone); }
    const uint8_t* Current() const { return doc.planes().GetPlane(doc.currentPlane()); }
    std::vector<uint8_t> CurrentCopy() const
    {
        const uint8_t* p = Current();
        return {p, p + static_cast<size_t>(doc.planes().width()) * doc.planes().height()};
    }
    // Fills the current plane with a constant (stands in for a filter).
    void Fill(uint8_t v)
    {
        uint8_t* p = doc.planes().GetPlane(doc.currentPlane());
        std::fill(p, p + static_cast<size_t>(doc.planes().width()) * doc.planes().height(), v);
    }
    std::string Recorded() const { return test::ReadText(inst.root() + "/filter/rec.flt"); }

    test::Installation inst;
    CLumadriftDoc doc;
    std::string picture;
    std::vector<int> failures;
};

struct ChannelCase {
    int channel;
    int invert;
};

class AcquireReplay : public WorkingImageTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(AcquireReplay, PlaneZeroHoldsTheChannelOfTheRange)
{
    const auto [channel, invert] = GetParam();
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const std::string line = "チャネル=" + std::to_string(channel) + " 反転=" + std::to_string(invert) +
                             " 彩度=30.00 左座標=7 上座標=6 右座標=2 下座標=1";
    const ReplaySummary s = Run("51 ファイルを開く\nファイル=../picture/p.bmp\n55 画像処理範囲取得\n" + line + "\n");
    doc.StopRecording();
    ASSERT_EQ(s.failed, 0);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(doc.range(), (ProcessingRange{2, 1, 7, 6}));  // normalized
    ASSERT_EQ(doc.planes().width(), 6);
    ASSERT_EQ(doc.planes().height(), 6);
    EXPECT_EQ(doc.planes().count(), 5);
    EXPECT_EQ(doc.colors().count(), 1);
    EXPECT_EQ(doc.colors().width(), 6);
    EXPECT_EQ(doc.currentPlane(), 0);
    EXPECT_EQ(doc.zoom(), 100);
    EXPECT_EQ(doc.history().position(), 1);
    EXPECT_EQ(doc.grayHeader().width, 6);
    const uint8_t* p = doc.planes().GetPlane(0);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 6; ++x) {
            const int ix = x + 2, iy = y + 1;
            const uint8_t r = static_cast<uint8_t>(ix * 10 + 1);
            const uint8_t g = static_cast<uint8_t>(iy * 10 + 2);
            const uint8_t b = static_cast<uint8_t>(ix + iy + 3);
            uint8_t expected = 0;
            AcquireChannelPixels(&r, &g, &b, 1, channel, invert != 0, 30.0, &expected);
            ASSERT_EQ(p[y * 6 + x], expected) << "pixel " << x << "," << y;
        }
    }
    EXPECT_EQ(Recorded(), MacroBytes("51 ファイルを開く\nファイル=" + inst.root() +
                                     "/filter/../picture/p.bmp\n55 画像処理範囲取得\n"
                                     "チャネル=" + std::to_string(channel) + " 反転=" +
                                     std::to_string(invert) +
                                     " 彩度=30.00 左座標=2 上座標=1 右座標=7 下座標=6\n"));
}

INSTANTIATE_TEST_SUITE_P(AllChannels, AcquireReplay,
                         ::testing::Values(ChannelCase{0, 0}, ChannelCase{0, 1}, ChannelCase{1, 0},
                                           ChannelCase{1, 1}, ChannelCase{2, 0}, ChannelCase{2, 1},
                                           ChannelCase{3, 0}, ChannelCase{3, 1}, ChannelCase{4, 0},
                                           ChannelCase{4, 1}, ChannelCase{5, 0}, ChannelCase{5, 1}));

TEST_F(WorkingImageTest, RangeOutsideTheImageOnlyStoresTheRange)
{
    Open();
    Run("55 画像処理範囲取得\nチャネル=0 反転=0 彩度=0.00 左座標=5 上座標=0 右座標=12 下座標=3\n");
    EXPECT_EQ(failures, std::vector<int>{1});
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.range(), (ProcessingRange{5, 0, 12, 3}));
    EXPECT_TRUE(doc.planes().empty());
    EXPECT_EQ(doc.colors().width(), 12);
}

TEST_F(WorkingImageTest, UnknownChannelIsRefused)
{
    Open();
    Run("55 画像処理範囲取得\nチャネル=6 反転=0 彩度=0.00 左座標=0 上座標=0 右座標=1 下座標=1\n");
    EXPECT_EQ(failures, std::vector<int>{1});
    EXPECT_EQ(doc.state(), kStateColor);
}

TEST_F(WorkingImageTest, OnePixelRange)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0.0, 11, 8, 11, 8}), 0);
    EXPECT_EQ(doc.planes().width(), 1);
    EXPECT_EQ(doc.planes().height(), 1);
    EXPECT_EQ(Current()[0], 111);
    EXPECT_EQ(GetLe32(&doc.grayHeader().fileHeader[2]), 1u * 4u + 1078u);
}

TEST_F(WorkingImageTest, InteractiveAcquisitionUsesTheCurrentRange)
{
    Open();
    doc.setRange({0, 0, 12, 2});  // one column too wide
    EXPECT_EQ(doc.Acquire(doc.AcquireInRange(0, 0, 0.0)), -1);
    EXPECT_EQ(doc.state(), kStateColor);
    doc.setRange({0, 0, 11, 2});
    EXPECT_EQ(doc.Acquire(doc.AcquireInRange(0, 0, 0.0)), 0);
    EXPECT_EQ(doc.planes().width(), 12);
}

TEST_F(WorkingImageTest, SecondAcquisitionStartsANewHistory)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 3, 3}), 0);
    doc.PoolAdd("a");
    ASSERT_EQ(doc.ReplayPool(4, 0, ""), 0);
    EXPECT_EQ(doc.history().position(), 2);
    doc.ShowSourcePicture();
    EXPECT_EQ(doc.history().position(), 0);
    ASSERT_EQ(doc.Acquire({1, 0, 0, 0, 0, 1, 1}), 0);
    EXPECT_EQ(doc.history().position(), 1);
    EXPECT_FALSE(doc.undoAvailable());
}

TEST_F(WorkingImageTest, AcquisitionWithoutAFileIsRefused)
{
    EXPECT_EQ(doc.Acquire({0, 0, 0, 0, 0, 0, 0}), -1);
}

TEST_F(WorkingImageTest, UndoAndRedoThroughReplay)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 3, 2}), 0);
    const auto red = CurrentCopy();
    doc.setState(kStateBinary);
    doc.PoolAdd("binary");
    doc.setState(kStateGray);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    Run("57 画像プール\n対象CD=4 ID=0 ファイル=\n61 元に戻す\n62 やり直し\n62 やり直し\n");
    doc.StopRecording();
    // The second redo has nothing ahead of it.
    EXPECT_EQ(failures, std::vector<int>{5});
    EXPECT_EQ(doc.state(), kStateBinary);
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(Recorded(), MacroBytes("57 画像プール\n対象CD=4 ID=0 ファイル=\n61 元に戻す\n62 やり直し\n"));
    ASSERT_EQ(doc.Undo(), 0);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(CurrentCopy(), red);
    EXPECT_EQ(doc.Undo(), -1);
}

// A filter that runs out of memory half way leaves the picture, the state,
// the history and the record as they were, and the caller hears of it.
TEST_F(WorkingImageTest, FilterOutOfMemoryLeavesEverythingAsItWas)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 3, 2}), 0);
    const auto before = CurrentCopy();
    const int plane = doc.currentPlane(), position = doc.history().position();
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_THROW(doc.RunGrayOperation(kOpDilate, {},
                                      [](PlaneBank& b) {
                                          b.DestinationPlane()[0] ^= 0xff;
                                          throw std::bad_alloc();
                                      }),
                 std::bad_alloc);
    doc.StopRecording();
    EXPECT_EQ(doc.currentPlane(), plane);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(doc.history().position(), position);
    EXPECT_EQ(CurrentCopy(), before);
    EXPECT_EQ(Recorded(), "");
    // A redo onto the abandoned step shows the same picture.
    if (doc.Redo() == 0) {
        EXPECT_EQ(CurrentCopy(), before);
    }
}

TEST_F(WorkingImageTest, PoolDialogTwoTargetsThenOk)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 2, 1}), 0);
    Fill(10);
    doc.PoolAdd("ten");
    doc.setState(kStateLabeled);
    Fill(20);
    doc.PoolAdd("twenty");
    doc.setState(kStateGray);
    Fill(30);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    doc.PoolDialogOpen();
    ASSERT_EQ(doc.PoolDialogToTarget(0), 0);
    EXPECT_TRUE(doc.PoolDialogButtonsDisabled());
    EXPECT_EQ(doc.PoolDialogAdd("late"), -1);  // add is disabled now
    ASSERT_EQ(doc.PoolDialogToTarget(1), 0);
    EXPECT_EQ(doc.currentPlane(), 1);  // the same plane both times
    EXPECT_EQ(Current()[0], 20);
    doc.PoolDialogClose(true);
    doc.StopRecording();
    EXPECT_EQ(doc.history().position(), 2);
    EXPECT_EQ(doc.state(), kStateLabeled);
    EXPECT_EQ(Recorded(), MacroBytes("57 画像プール\n対象CD=4 ID=1 ファイル=\n"));
    ASSERT_EQ(doc.Undo(), 0);
    EXPECT_EQ(Current()[0], 30);
    EXPECT_EQ(doc.pool().size(), 2);
}

TEST_F(WorkingImageTest, PoolDialogClosedWithoutOkKeepsTheImageButNoStep)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 2, 1}), 0);
    Fill(10);
    doc.setState(kStateBinary);
    doc.PoolAdd("ten");
    doc.setState(kStateGray);
    Fill(30);
    doc.PoolDialogOpen();
    ASSERT_EQ(doc.PoolDialogToTarget(0), 0);
    doc.PoolDialogClose(false);
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(Current()[0], 10);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(doc.history().position(), 1);
}

TEST_F(WorkingImageTest, PoolDialogSizeMismatchChangesNothing)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 2, 1}), 0);
    doc.PoolAdd("small");
    doc.ShowSourcePicture();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 3, 3}), 0);
    doc.PoolDialogOpen();
    EXPECT_EQ(doc.PoolDialogToTarget(0), -1);
    EXPECT_FALSE(doc.PoolDialogButtonsDisabled());
    EXPECT_EQ(doc.currentPlane(), 0);
    // Entries of another size can still be saved and deleted.
    EXPECT_EQ(doc.PoolDialogSave(0, inst.root() + "/data/small.bmp"), 0);
    EXPECT_EQ(test::ReadBytes(inst.root() + "/data/small.bmp").size(), 1078u + 2 * 4u);
    EXPECT_EQ(doc.PoolDialogDelete(0), 0);
    doc.PoolDialogClose(true);
    EXPECT_EQ(doc.history().position(), 1);
}

TEST_F(WorkingImageTest, PoolDialogRecordTexts)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 2, 1}), 0);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    doc.PoolDialogOpen();
    EXPECT_EQ(doc.PoolDialogAdd(""), -1);  // empty name: nothing, no line
    doc.PoolDialogAdd("a");
    doc.PoolDialogAdd("a");
    doc.PoolDialogSave(1, "");             // save dialog cancelled
    doc.PoolDialogSave(-1, "/x.bmp");      // no row selected
    doc.PoolDialogDelete(-1);              // no row selected: ID = rows
    doc.PoolDialogDelete(0);
    doc.PoolDialogDeleteAll();
    doc.PoolDialogClose(true);
    doc.StopRecording();
    EXPECT_EQ(Recorded(), MacroBytes("57 画像プール\n追加CD=1 ID= ファイル=a\n"
                                     "57 画像プール\n追加CD=1 ID= ファイル=a\n"
                                     "57 画像プール\n保存CD=3 ID=1 ファイル=\n"
                                     "57 画像プール\n保存CD=3 ID=2 ファイル=/x.bmp\n"
                                     "57 画像プール\n削除CD=2 ID=2 ファイル=\n"
                                     "57 画像プール\n削除CD=2 ID=0 ファイル=\n"
                                     "57 画像プール\n全削除CD=5 ID= ファイル=\n"));
    EXPECT_EQ(doc.pool().size(), 0);
}

TEST_F(WorkingImageTest, PoolReplayActionsAndTheirRecords)
{
    Open();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 5, 1}), 0);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const ReplaySummary s = Run(
        "57 画像プール\n削除CD=2 ID=0 ファイル=\n"         // empty pool: fails
        "57 画像プール\n追加CD=1 ID= ファイル=first\n"
        "57 画像プール\n追加CD=1 ID= ファイル=second\n"
        "57 画像プール\n保存CD=3 ID=1 ファイル=../data/s.bmp\n"
        "57 画像プール\n削除CD=2 ID=0 ファイル=\n"
        "57 画像プール\n対象CD=4 ID=-3 ファイル=x\n"
        "57 画像プール\n削除CD=2 ID=5 ファイル=\n"         // no such entry: fails
        "57 画像プール\n謎CD=9 ID=0 ファイル=\n"           // unknown action: nothing
        "57 画像プール\n全削除CD=5 ID= ファイル=\n");
    doc.StopRecording();
    EXPECT_EQ(s.entries, 9);
    EXPECT_EQ(failures, (std::vector<int>{1, 13}));
    EXPECT_EQ(doc.pool().size(), 0);
    EXPECT_EQ(test::ReadBytes(inst.root() + "/data/s.bmp").size(), 1078u + 2 * 8u);
    EXPECT_EQ(doc.history().position(), 2);
    EXPECT_EQ(Recorded(),
              MacroBytes("57 画像プール\n追加CD=1 ID= ファイル=first\n"
                         "57 画像プール\n追加CD=1 ID= ファイル=second\n"
                         "57 画像プール\n保存CD=3 ID=1 ファイル=" + inst.root() + "/filter/../data/s.bmp\n"
                         "57 画像プール\n削除CD=2 ID=0 ファイル=\n"
                         "57 画像プール\n対象CD=4 ID=-3 ファイル=x\n"
                         "57 画像プール\n全削除CD=5 ID= ファイル=\n"));
}

class InterImageTest : public WorkingImageTest {
protected:
    void SetUp() override
    {
        Open();
        ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 3, 1}), 0);
        Fill(0xF0);
        doc.setState(kStateBinary);
        doc.PoolAdd("f0 binary");
        Fill(0x3C);
        doc.PoolAdd("3c binary");
        doc.setState(kStateGray);
        Fill(0x3C);
        doc.PoolAdd("3c gray");
        Fill(0x01);
        before = CurrentCopy();
    }
    std::vector<uint8_t> before;
};

TEST_F(InterImageTest, XorOfTwoEntries)
{
    ASSERT_EQ(doc.InterImage(BitOp::kXor, {0, 1}), 0);
    EXPECT_EQ(Current()[0], 0xCC);
    EXPECT_EQ(Current()[7], 0xCC);
    EXPECT_EQ(doc.state(), kStateBinary);  // both entries binary
    // First undo shows the reference, the second the image before.
    ASSERT_EQ(doc.Undo(), 0);
    EXPECT_EQ(Current()[0], 0x3C);
    ASSERT_EQ(doc.Undo(), 0);
    EXPECT_EQ(CurrentCopy(), before);
}

TEST_F(InterImageTest, SameEntryTwice)
{
    ASSERT_EQ(doc.InterImage(BitOp::kAnd, {0, 0}), 0);
    EXPECT_EQ(Current()[3], 0xF0);
    ASSERT_EQ(doc.InterImage(BitOp::kOr, {0, 0}), 0);
    EXPECT_EQ(Current()[3], 0xF0);
    ASSERT_EQ(doc.InterImage(BitOp::kXor, {0, 0}), 0);
    EXPECT_EQ(Current()[3], 0x00);
}

TEST_F(InterImageTest, MixedStatesGiveGray)
{
    ASSERT_EQ(doc.InterImage(BitOp::kOr, {0, 2}), 0);
    EXPECT_EQ(Current()[0], 0xFC);
    EXPECT_EQ(doc.state(), kStateGray);
}

TEST_F(InterImageTest, ReplayLinesAndFailures)
{
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const ReplaySummary s = Run("21 画像間AND演算\n対象ID=0 参照ID=-1\n"
                                "22 画像間OR演算\n対象ID=7 参照ID=0\n"
                                "23 画像間XOR演算\n対象ID=1\n");
    doc.StopRecording();
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(failures, (std::vector<int>{3, 5}));
    EXPECT_EQ(Current()[0], 0xF0);  // reference -1 is the first entry
    EXPECT_EQ(Recorded(), MacroBytes("21 画像間AND演算\n対象ID=0 参照ID=-1\n"));
}

TEST_F(InterImageTest, EntryOfAnotherSizeIsRefusedWithNothingChanged)
{
    doc.ShowSourcePicture();
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 4, 1}), 0);
    const int position = doc.history().position();
    EXPECT_EQ(doc.CheckOperands(0, 1), -1);
    EXPECT_EQ(doc.InterImage(BitOp::kAnd, {0, 1}), -1);
    EXPECT_EQ(doc.history().position(), position);
    EXPECT_EQ(doc.currentPlane(), 0);
}

}  // namespace
}  // namespace lumadrift
