// The FFT band-pass as the document and the replay run it.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "commands/run_log.h"
#include "core/cp932.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

class FftOpsTest : public ::testing::Test {
protected:
    FftOpsTest() : doc(inst.Environment())
    {
        const std::string pic = inst.root() + "/picture/p.bmp";
        test::WriteBytes(pic, test::MakeBmp24(12, 6));
        EXPECT_EQ(doc.OpenDocument(pic), BmpError::kNone);
        EXPECT_EQ(doc.Acquire({0, 0, 0, 0, 0, 11, 5}), 0);
        original.assign(Current(), Current() + 72);
    }
    const uint8_t* Current() { return doc.planes().GetPlane(doc.currentPlane()); }
    std::vector<uint8_t> CurrentCopy() { return {Current(), Current() + 72}; }
    std::vector<int> Run(const std::string& utf8) { return test::RunMacro(doc, inst, utf8); }
    std::string Recorded() const { return test::ReadText(inst.root() + "/filter/rec.flt"); }
    // A mask for the 16 x 8 grid of a 12 x 6 plane: all ones.
    void WriteMask(const std::string& name, int cols, int rows)
    {
        std::string text;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c)
                text += c ? ",1" : "1";
            text += "\r\n";
        }
        test::WriteText(inst.root() + "/filter/" + name, text);
    }

    test::Installation inst;
    CLumadriftDoc doc;
    std::vector<uint8_t> original;
};

TEST_F(FftOpsTest, FullBandGivesThePictureBack)
{
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("19 FFT処理\nマスク=0 最小値=0.00 最大値=1.00\n"
                    "19 FFT処理\nマスク=1 最小値=0 最大値=1\n").empty());
    doc.StopRecording();
    EXPECT_EQ(CurrentCopy(), original);
    EXPECT_EQ(doc.history().position(), 3);
    EXPECT_TRUE(doc.fftBank().empty());  // released after every run
    EXPECT_EQ(Recorded(), MacroBytes("19 FFT処理\nマスク=0 最小値=0.00 最大値=1.00\n"
                                     "19 FFT処理\nマスク=1 最小値=0.00 最大値=1.00\n"));
}

TEST_F(FftOpsTest, ZeroBandGivesOneDensity)
{
    EXPECT_TRUE(Run("19 FFT処理\nマスク=0 最小値=0.00 最大値=0.00\n").empty());
    const auto flat = CurrentCopy();
    for (uint8_t v : flat)
        ASSERT_EQ(v, flat[0]);
}

TEST_F(FftOpsTest, UserMaskFileAndItsFailures)
{
    WriteMask("ones.msk", 16, 8);
    WriteMask("wrong.msk", 8, 8);  // not the grid's size
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const auto failed = Run("19 FFT処理\nマスク=2 ファイル=ones.msk\n"
                            "19 FFT処理\nマスク=2 ファイル=wrong.msk\n"
                            "19 FFT処理\nマスク=2 ファイル=missing.msk\n"
                            "19 FFT処理\nマスク=3 最小値=0 最大値=1\n"
                            "19 FFT処理\nマスク=0 最小値=0.5\n");
    doc.StopRecording();
    EXPECT_EQ(failed, (std::vector<int>{3, 5, 7, 9}));
    // The bad mask files still ran the transform and its inverse: the
    // picture comes back, with a history step and a recorded line each.
    EXPECT_EQ(CurrentCopy(), original);
    EXPECT_EQ(doc.history().position(), 4);
    const std::string filter = inst.root() + "/filter/";
    EXPECT_EQ(Recorded(), MacroBytes("19 FFT処理\nマスク=2 ファイル=" + filter + "ones.msk\n"
                                     "19 FFT処理\nマスク=2 ファイル=" + filter + "wrong.msk\n"
                                     "19 FFT処理\nマスク=2 ファイル=" + filter + "missing.msk\n"));
    EXPECT_EQ(doc.settings().fft.shape, 2);
    EXPECT_DOUBLE_EQ(doc.settings().fft.high, 1.0);
    const std::string log = Cp932ToUtf8(test::ReadText(LogFilePath(inst.logDir(), std::time(nullptr))));
    EXPECT_NE(log.find("Function error:FFT処理 マスク=2 ファイル=wrong.msk \r\n"), std::string::npos) << log;
}

TEST_F(FftOpsTest, ThreadCountOutsideOneToFiveRefuses)
{
    for (int t : {0, 6, -1}) {
        doc.settings().fftThreads = t;
        EXPECT_EQ(Run("19 FFT処理\nマスク=0 最小値=0.00 最大値=1.00\n"), std::vector<int>{1});
        EXPECT_EQ(doc.BeginFft(), -1);
    }
    EXPECT_EQ(doc.history().position(), 1);
    EXPECT_EQ(doc.currentPlane(), 0);
}

TEST_F(FftOpsTest, ThreadsGiveTheSameResult)
{
    doc.settings().fftThreads = 1;
    Run("19 FFT処理\nマスク=1 最小値=0.10 最大値=0.60\n");
    const auto one = CurrentCopy();
    doc.Undo();
    doc.settings().fftThreads = 5;
    Run("19 FFT処理\nマスク=1 最小値=0.10 最大値=0.60\n");
    EXPECT_EQ(CurrentCopy(), one);
}

TEST_F(FftOpsTest, DialogClosedWithoutOkUsesTheStoredValues)
{
    doc.settings().fft.shape = 0;
    doc.settings().fft.low = 0.0;
    doc.settings().fft.high = 1.0;
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    ASSERT_EQ(doc.BeginFft(), 0);
    doc.PreviewFft({0.0, 0.0, 0, {}});  // the spectrum shows in the next plane
    EXPECT_EQ(doc.currentPlane(), 1);
    doc.PreviewFft({0.3, 0.1, 1, {}});
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(doc.history().position(), 1);
    ASSERT_EQ(doc.CompleteFft(false, {0.3, 0.1, 1, ""}), 0);
    doc.StopRecording();
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(CurrentCopy(), original);  // full band: unchanged
    EXPECT_EQ(Recorded(), MacroBytes("19 FFT処理\nマスク=0 最小値=0.00 最大値=1.00\n"));
}

TEST_F(FftOpsTest, OkStoresTheShownValuesAndUserMaskPath)
{
    WriteMask("ones.msk", 16, 8);
    ASSERT_EQ(doc.BeginFft(), 0);
    const std::string mask = inst.root() + "/filter/ones.msk";
    ASSERT_TRUE(doc.MaskFileValid(mask));
    EXPECT_FALSE(doc.MaskFileValid(inst.root() + "/filter/none.msk"));
    doc.PreviewFft({0, 1, 2, {}});
    ASSERT_EQ(doc.SaveFftMask(inst.root() + "/filter/saved.msk"), 0);
    ASSERT_EQ(doc.CompleteFft(true, {0.4, 0.2, 2, mask}), 0);
    EXPECT_EQ(doc.settings().fft.shape, 2);
    EXPECT_EQ(doc.settings().fft.maskFile, mask);
    EXPECT_DOUBLE_EQ(doc.settings().fft.low, 0.0);
    EXPECT_EQ(CurrentCopy(), original);
    EXPECT_EQ(test::ReadText(inst.root() + "/filter/saved.msk"),
              test::ReadText(mask));
}

}  // namespace
}  // namespace lumadrift
