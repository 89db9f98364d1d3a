// The density profile: sampling along a line, the result file and replay.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "core/cp932.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

class ProfileTest : public ::testing::Test {
protected:
    ProfileTest() : doc(inst.Environment())
    {
        const std::string pic = inst.root() + "/picture/p.bmp";
        test::WriteBytes(pic, test::MakeBmp24(100, 100));
        EXPECT_EQ(doc.OpenDocument(pic), BmpError::kNone);
        EXPECT_EQ(doc.Acquire({0, 0, 0, 0, 0, 99, 99}), 0);
        // Pixel (x, y) = x + 2y (low 8 bits): every sample names its place.
        uint8_t* p = doc.planes().GetPlane(0);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                p[y * 100 + x] = static_cast<uint8_t>(x + 2 * y);
    }
    std::vector<int> Run(const std::string& utf8) { return test::RunMacro(doc, inst, utf8); }

    test::Installation inst;
    CLumadriftDoc doc;
};

TEST_F(ProfileTest, FortyFiveDegreesIsSampledColumnByColumn)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    EXPECT_EQ(doc.ComputeProfile(10, 10, 20, 20), 10);
    EXPECT_EQ(doc.settings().profileOrientation, 0);
    const auto& rows = doc.profileRows();
    EXPECT_EQ(rows[3].x, 13);
    EXPECT_EQ(rows[3].y, 13);
    EXPECT_EQ(rows[3].value, 13 + 26);
    EXPECT_EQ(doc.ProfileSamples()[3], std::make_pair(3, 255 - 39));
}

TEST_F(ProfileTest, VerticalLineIsSwappedAndStopsBeforeItsEnd)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    EXPECT_EQ(doc.ComputeProfile(50, 80, 50, 20), 60);
    EXPECT_EQ(doc.settings().profileOrientation, 1);
    EXPECT_EQ(doc.profileRows().front().y, 20);
    EXPECT_EQ(doc.profileRows().back().y, 79);
    EXPECT_EQ(doc.profileEnds().y1, 20);
    EXPECT_EQ(doc.profileEnds().y2, 80);
    EXPECT_EQ(doc.profileLine().y1, 80);  // the stored line keeps its order
    EXPECT_EQ(doc.ProfileSamples()[0], std::make_pair(50 + 40, 0));
}

TEST_F(ProfileTest, SteepLineRoundsItsColumns)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    EXPECT_EQ(doc.ComputeProfile(0, 0, 3, 10), 10);
    // Column = trunc(i * 0.3 + 0.5).
    std::vector<int> cols;
    for (const auto& r : doc.profileRows())
        cols.push_back(r.x);
    EXPECT_EQ(cols, (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2, 2, 3}));
}

TEST_F(ProfileTest, OnePointLineSamplesNothing)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    doc.ComputeProfile(1, 1, 4, 1);
    EXPECT_EQ(doc.ComputeProfile(7, 7, 7, 7), 0);
    EXPECT_EQ(doc.profileRows().size(), 3u);  // the previous table stays
}

TEST_F(ProfileTest, HorizontalExampleFileBytes)
{
    uint8_t* p = doc.planes().GetPlane(0);
    p[20 * 100 + 10] = 0;
    p[20 * 100 + 11] = 128;
    p[20 * 100 + 12] = 255;
    ASSERT_EQ(doc.ToggleProfile(), 0);
    ASSERT_EQ(doc.ComputeProfile(10, 20, 13, 20), 3);
    const std::string path = inst.root() + "/data/h.pfl";
    ASSERT_EQ(doc.WriteProfileFile(path), 0);
    EXPECT_EQ(test::ReadText(path), Utf8ToCp932("No.\t座標\t濃度値\r\n"
                                                "1\t(10, 20)\t0\r\n"
                                                "2\t(11, 20)\t128\r\n"
                                                "3\t(12, 20)\t255\r\n"));
    const std::string header = test::ReadText(path).substr(0, 17);
    EXPECT_EQ(header, "No.\t\x8D\xC0\x95\x57\t\x94\x5A\x93\x78\x92\x6C\r\n");
}

TEST_F(ProfileTest, EmptyTableWritesTheHeaderOnly)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    const std::string path = inst.root() + "/data/e.pfl";
    ASSERT_EQ(doc.WriteProfileFile(path), 0);
    EXPECT_EQ(test::ReadText(path), Utf8ToCp932("No.\t座標\t濃度値\r\n"));
}

TEST_F(ProfileTest, ReplayOpensSamplesSavesAndCloses)
{
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    const auto failed = Run("58 濃度プロファイル\nID=0\n"        // state 3: fails
                            "58 濃度プロファイル\nID=1\n"
                            "58 濃度プロファイル\nID=1\n"        // already open: fails
                            "58 濃度プロファイル\nID=2 始点X=120 始点Y=-5 終点X=90 終点Y=30 ファイル=../data/r.pfl\n"
                            "58 濃度プロファイル\nID=2 始点X=1 始点Y=1\n"  // too few words
                            "58 濃度プロファイル\nID=9\n"        // unknown: nothing, success
                            "58 濃度プロファイル\nID=0\n");
    doc.StopRecording();
    EXPECT_EQ(failed, (std::vector<int>{1, 5, 9}));
    EXPECT_EQ(doc.state(), kStateGray);
    // (120, -5) clipped to (99, 0); the line (99,0)-(90,30) is steep: 30 rows.
    const std::string pfl = test::ReadText(inst.root() + "/data/r.pfl");
    EXPECT_EQ(std::count(pfl.begin(), pfl.end(), '\n'), 31);
    EXPECT_EQ(test::ReadText(inst.root() + "/filter/rec.flt"),
              MacroBytes("58 濃度プロファイル\nID=1\n"
                         "58 濃度プロファイル\nID=2 始点X=99 始点Y=0 終点X=90 終点Y=30 ファイル=" +
                         inst.root() + "/filter/../data/r.pfl\n"
                         "58 濃度プロファイル\nID=0\n"));
}

TEST_F(ProfileTest, ProfileStateBlocksUndoButNotSaving)
{
    ASSERT_EQ(doc.ToggleProfile(), 0);
    EXPECT_FALSE(EvaluateCommand(kCmdUndo, doc.CommandValues()).enabled);
    EXPECT_EQ(CheckCode(doc, 52), 0);
    EXPECT_EQ(CheckCode(doc, 1), -1);
}

}  // namespace
}  // namespace lumadrift
