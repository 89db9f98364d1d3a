// Binarization with its preview and completion, and the binary filters, as
// the document runs them.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

class BinaryOpsTest : public ::testing::Test {
protected:
    BinaryOpsTest() : doc(inst.Environment())
    {
        const std::string pic = inst.root() + "/picture/p.bmp";
        test::WriteBytes(pic, test::MakeBmp24(26, 3));
        EXPECT_EQ(doc.OpenDocument(pic), BmpError::kNone);
        // Red channel of the first row: x * 10 + 1 -> 1, 11, ..., 251.
        EXPECT_EQ(doc.Acquire({0, 0, 0, 0, 0, 25, 0}), 0);
    }
    const uint8_t* Current() const { return doc.planes().GetPlane(doc.currentPlane()); }
    int CountWhite() const
    {
        int n = 0;
        for (int x = 0; x < 26; ++x)
            n += Current()[x] == 255;
        return n;
    }
    std::string Recorded() const { return test::ReadText(inst.root() + "/filter/rec.flt"); }

    test::Installation inst;
    CLumadriftDoc doc;
};

TEST_F(BinaryOpsTest, PreviewsStartFromTheSamePlane)
{
    doc.settings().binarize.min = 100;
    doc.settings().binarize.max = 200;
    doc.BeginBinarize();
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(CountWhite(), 10);  // 101 .. 191
    doc.PreviewBinarize({0, 255});
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(CountWhite(), 26);  // 1 .. 251 all inside
    doc.PreviewBinarize({200, 50});  // inverted band
    EXPECT_EQ(doc.planes().source(), 0);
    EXPECT_EQ(Current()[5], 0);    // 51 is inside (50, 200): black
    EXPECT_EQ(Current()[0], 255);  // 1
    EXPECT_EQ(Current()[25], 255); // 251
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(doc.history().position(), 1);  // previews push nothing
}

TEST_F(BinaryOpsTest, CancelStillCompletesWithTheStoredThresholds)
{
    doc.settings().binarize.min = 128;
    doc.settings().binarize.max = 128;
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    doc.BeginBinarize();
    doc.PreviewBinarize({0, 255});
    doc.CompleteBinarize(false, {0, 255});
    doc.StopRecording();
    EXPECT_EQ(doc.state(), kStateBinary);
    EXPECT_EQ(doc.history().position(), 2);
    EXPECT_EQ(doc.settings().binarize.min, 128);
    // The recorded thresholds' picture, not the last preview: 128, 128
    // leaves nothing white.
    EXPECT_EQ(CountWhite(), 0);
    EXPECT_EQ(Recorded(), MacroBytes("01 2値化\n最小値=128 最大値=128\n"));
}

TEST_F(BinaryOpsTest, OkStoresTheShownThresholds)
{
    doc.BeginBinarize();
    doc.PreviewBinarize({10, 60});
    doc.CompleteBinarize(true, {10, 60});
    EXPECT_EQ(doc.settings().binarize.min, 10);
    EXPECT_EQ(doc.settings().binarize.max, 60);
    EXPECT_EQ(CountWhite(), 5);  // 11, 21, 31, 41, 51
    ASSERT_EQ(doc.Undo(), 0);
    EXPECT_EQ(doc.state(), kStateGray);
}

TEST_F(BinaryOpsTest, ReplayedMacroRunsAndRecordsEveryStep)
{
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    ReplayOptions o;
    o.logDir = inst.logDir();
    int failed = 0;
    o.onEntry = [&](const ReplayEntry& e) { failed += e.outcome != EntryOutcome::kRan; };
    const std::string macro = "01 2値化\n最小値=200 最大値=50\n02 膨張\n03 収縮\n05 細線化\n";
    ReplayMacroBytes(doc, test::Bytes(MacroBytes(macro)), o);
    doc.StopRecording();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(doc.state(), kStateBinary);
    EXPECT_EQ(doc.history().position(), 5);
    EXPECT_EQ(doc.currentPlane(), 4);
    EXPECT_EQ(doc.settings().binarize.min, 200);
    EXPECT_EQ(Recorded(), MacroBytes(macro));
    for (int x = 0; x < 26; ++x)
        ASSERT_TRUE(Current()[x] == 0 || Current()[x] == 255) << x;
}

TEST_F(BinaryOpsTest, LabeledImageMayBeBinarizedAgain)
{
    doc.setState(kStateLabeled);
    EXPECT_EQ(CheckCode(doc, 1), 0);
    EXPECT_EQ(doc.Binarize({0, 255}), 0);
    EXPECT_EQ(doc.state(), kStateBinary);
}

}  // namespace
}  // namespace lumadrift
