// Labeling, the derivative filters, the convolution and the affine
// transformation as the document and the replay run them.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "commands/replay.h"
#include "core/cp932.h"
#include "core/file_io.h"

namespace lumadrift {
namespace {

using test::MacroBytes;

class FilterOpsTest : public ::testing::Test {
public:
    FilterOpsTest() : doc(inst.Environment())
    {
        const std::string pic = inst.root() + "/picture/p.bmp";
        test::WriteBytes(pic, test::MakeBmp24(7, 5));
        EXPECT_EQ(doc.OpenDocument(pic), BmpError::kNone);
        EXPECT_EQ(doc.Acquire({0, 0, 0, 0, 0, 6, 4}), 0);
    }
    uint8_t* Current() { return doc.planes().GetPlane(doc.currentPlane()); }
    void Set(std::initializer_list<int> values)
    {
        uint8_t* p = Current();
        for (int v : values)
            *p++ = static_cast<uint8_t>(v);
    }
    void Fill(uint8_t v) { std::fill(Current(), Current() + 35, v); }
    std::vector<int> Run(const std::string& utf8) { return test::RunMacro(doc, inst, utf8); }
    std::string Recorded() const { return test::ReadText(inst.root() + "/filter/rec.flt"); }

    test::Installation inst;
    CLumadriftDoc doc;
};

// Two objects: a 2 x 2 square at the top left and a single pixel.
void TwoObjects(FilterOpsTest& t)
{
    t.Fill(0);
    uint8_t* p = t.Current();
    p[0] = p[1] = p[7] = p[8] = 255;
    p[4 * 7 + 5] = 255;
    t.doc.setState(kStateBinary);
}

TEST_F(FilterOpsTest, ReplayedLabelingWritesItsResultFile)
{
    TwoObjects(*this);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("04 ラベリング\nファイル=../data/r.lbl\n").empty());
    doc.StopRecording();
    EXPECT_EQ(doc.state(), kStateLabeled);
    EXPECT_EQ(doc.lastLabeling().count, 3);
    EXPECT_EQ(Current()[8], 1);
    EXPECT_EQ(Current()[4 * 7 + 5], 2);
    EXPECT_EQ(test::ReadText(inst.root() + "/data/r.lbl"),
              Utf8ToCp932("No.\t左上座標\t右下座標\t重心座標\t面積(画素)\r\n"
                          "1\t(0, 0)\t(1, 1)\t(0.50, 0.50)\t4\r\n"
                          "2\t(5, 4)\t(5, 4)\t(5.00, 4.00)\t1\r\n"));
    const std::string path = inst.root() + "/filter/../data/r.lbl";
    EXPECT_EQ(doc.labelingResultPath(), path);
    EXPECT_EQ(Recorded(), MacroBytes("04 ラベリング\nファイル=" + path + "\n"));
    EXPECT_EQ(doc.history().position(), 2);
}

TEST_F(FilterOpsTest, LabelingWithoutAFileOnlyLabels)
{
    TwoObjects(*this);
    EXPECT_TRUE(Run("04 ラベリング\nファイル=\n").empty());
    EXPECT_EQ(doc.state(), kStateLabeled);
}

TEST_F(FilterOpsTest, UnwritableResultFileFailsButKeepsTheLabels)
{
    TwoObjects(*this);
    EXPECT_EQ(Run("04 ラベリング\nファイル=../nowhere/r.lbl\n"), std::vector<int>{1});
    EXPECT_EQ(doc.state(), kStateLabeled);
    EXPECT_EQ(Current()[0], 1);
}

TEST_F(FilterOpsTest, InteractiveLabelingRecordsTheLastSavedFile)
{
    TwoObjects(*this);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    doc.BeginLabeling();
    EXPECT_EQ(doc.LabelingRows().size(), 2u);
    doc.CompleteLabeling();  // nothing saved yet: empty file word
    doc.Binarize({0, 255});
    doc.BeginLabeling();
    ASSERT_EQ(doc.SaveLabelingResult(inst.root() + "/data/a.lbl"), 0);
    doc.CompleteLabeling();
    doc.StopRecording();
    EXPECT_EQ(Recorded(), MacroBytes("04 ラベリング\nファイル=\n01 2値化\n最小値=0 最大値=255\n"
                                     "04 ラベリング\nファイル=" + inst.root() + "/data/a.lbl\n"));
}

TEST_F(FilterOpsTest, FixedFiltersEachTakeARingStep)
{
    Fill(0);
    Current()[2 * 7 + 3] = 255;
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("15 スムース化\n").empty());
    EXPECT_EQ(Current()[2 * 7 + 3], 63);  // 1020 / 16 truncated
    EXPECT_EQ(Current()[2 * 7 + 2], 31);  // 510 / 16
    EXPECT_TRUE(Run("11 Roberts\n12 Solbel\n13 Prewitt\n14 ラプラシアン\n16 シャープ化\n").empty());
    doc.StopRecording();
    EXPECT_EQ(doc.history().position(), 5);  // the oldest dropped
    EXPECT_EQ(doc.currentPlane(), 1);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(Recorded(), MacroBytes("15 スムース化\n11 Roberts\n12 Solbel\n13 Prewitt\n"
                                     "14 ラプラシアン\n16 シャープ化\n"));
}

TEST_F(FilterOpsTest, TypedKernelIsRecordedWithIntegerWordsOnReplay)
{
    Fill(100);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("17 コンボリューション\nモード=3  1-1=0.0 1-2=0.0 1-3=0.0 2-1=0.0 2-2=2.7 "
                    "2-3=0.0 3-1=0.0 3-2=0.0 3-3=0.0\n").empty());
    doc.StopRecording();
    EXPECT_EQ(Current()[10], 100);  // 100 * 2.7, divided by the sum 2.7
    EXPECT_EQ(doc.settings().convolution.mode, 3);
    EXPECT_EQ(doc.settings().convolution.m, 3);
    EXPECT_DOUBLE_EQ(doc.settings().convolution.values[4], 2.7);
    EXPECT_EQ(Recorded(), MacroBytes("17 コンボリューション\nモード=3  1-1=0 1-2=0 1-3=0 2-1=0 "
                                     "2-2=2 2-3=0 3-1=0 3-2=0 3-3=0\n"));
}

TEST_F(FilterOpsTest, KernelFileConvolution)
{
    Fill(40);
    test::WriteText(inst.root() + "/filter/k.knl", "1,2\r\n3,4\r\n");
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("17 コンボリューション\nモード=0 ファイル=k.knl\n").empty());
    doc.StopRecording();
    EXPECT_EQ(doc.kernel().cols, 3);  // widened to odd
    EXPECT_EQ(doc.settings().convolution.mode, 0);
    EXPECT_EQ(doc.settings().convolution.kernelFile, inst.root() + "/filter/k.knl");
    EXPECT_EQ(Current()[17], 40);  // a flat image stays flat under a normalised kernel
    EXPECT_EQ(Recorded(), MacroBytes("17 コンボリューション\nモード=0 ファイル=" + inst.root() +
                                     "/filter/k.knl\n"));
}

TEST_F(FilterOpsTest, BadConvolutionLinesChangeNothing)
{
    test::WriteText(inst.root() + "/filter/bad.knl", "1,2,3\r\n4,5\r\n");
    const int position = doc.history().position();
    EXPECT_EQ(Run("17 コンボリューション\nモード=0 ファイル=missing.knl\n"
                  "17 コンボリューション\nモード=0 ファイル=bad.knl\n"
                  "17 コンボリューション\nモード=7 1-1=1\n"
                  "17 コンボリューション\nモード=3 1-1=1 1-2=1\n"
                  "17 コンボリューション\nモード=0\n"),
              (std::vector<int>{1, 3, 5, 7, 9}));
    EXPECT_EQ(doc.history().position(), position);
    EXPECT_EQ(doc.settings().convolution.mode, 3);
}

TEST_F(FilterOpsTest, AffineWithTheDefaultZoomBlacksTheRange)
{
    Fill(90);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("18 アフィン変換\n角度=12.345 中心値X=1 中心値Y=2 拡大率X=0 拡大率Y=0 "
                    "移動量X=0 移動量Y=-1.5\n").empty());
    doc.StopRecording();
    for (int i = 0; i < 35; ++i)
        ASSERT_EQ(Current()[i], 0) << i;
    EXPECT_DOUBLE_EQ(doc.settings().affine.angle, 12.345);
    EXPECT_EQ(Recorded(), MacroBytes("18 アフィン変換\n角度=12.35 中心値X=1.00 中心値Y=2.00 "
                                     "拡大率X=0.00 拡大率Y=0.00 移動量X=0.00 移動量Y=-1.50\n"));
    EXPECT_EQ(Run("18 アフィン変換\n角度=1 中心値X=1\n"), std::vector<int>{1});
}

TEST_F(FilterOpsTest, DensityLinesShareTheirLabel)
{
    Fill(100);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("06 コントラスト\n倍率=1.5\n07 ガンマ補正\n倍率=0.8\n08 階調イコライゼーション\n").empty());
    doc.StopRecording();
    EXPECT_DOUBLE_EQ(doc.settings().contrast.factor, 1.5);
    EXPECT_DOUBLE_EQ(doc.settings().gamma.value, 0.8);
    EXPECT_EQ(Recorded(), MacroBytes("06 コントラスト\n倍率=1.50\n07 ガンマ補正\n倍率=0.80\n"
                                     "08 階調イコライゼーション\n"));
}

TEST_F(FilterOpsTest, GammaOfZeroOrBelowIsRefused)
{
    Fill(100);
    const int position = doc.history().position();
    EXPECT_EQ(Run("07 ガンマ補正\n倍率=0\n07 ガンマ補正\n倍率=-2\n07 ガンマ補正\n倍率=x\n"),
              (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(doc.history().position(), position);
    EXPECT_DOUBLE_EQ(doc.settings().gamma.value, 1.0);
    EXPECT_EQ(doc.GammaImage({0.0}), -1);
}

TEST_F(FilterOpsTest, EvenKernelSizesAreRaisedAndRecordedOdd)
{
    Fill(0);
    Current()[2 * 7 + 3] = 255;
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/rec.flt"));
    EXPECT_TRUE(Run("09 移動平均\nXサイズ=4 Yサイズ=0\n").empty());
    doc.StopRecording();
    EXPECT_EQ(doc.settings().movingAverage.x, 5);
    EXPECT_EQ(doc.settings().movingAverage.y, 1);
    EXPECT_EQ(Current()[2 * 7 + 3], 51);  // 255 / 5
    EXPECT_EQ(Recorded(), MacroBytes("09 移動平均\nXサイズ=5 Yサイズ=1\n"));
}

TEST_F(FilterOpsTest, MedianAndRankOfASinglePixel)
{
    Fill(0);
    Current()[2 * 7 + 3] = 255;
    EXPECT_TRUE(Run("20 ランク指定\nXサイズ=3 Yサイズ=3 ランク=8 インデックス=1\n").empty());
    EXPECT_EQ(Current()[1 * 7 + 2], 255);  // the highest value spreads
    EXPECT_EQ(doc.settings().rank.choice, 1);
    EXPECT_TRUE(Run("10 メディアン\nXサイズ=3 Yサイズ=3\n").empty());
    EXPECT_EQ(Current()[2 * 7 + 3], 255);  // a 3 x 3 square survives its median
    EXPECT_EQ(Current()[0], 0);
}

TEST_F(FilterOpsTest, RankPositionIsCheckedAgainstTheRaisedSizes)
{
    const int position = doc.history().position();
    EXPECT_EQ(Run("20 ランク指定\nXサイズ=3 Yサイズ=3 ランク=24 インデックス=3\n"
                  "20 ランク指定\nXサイズ=5 Yサイズ=5 ランク=25 インデックス=3\n"
                  "20 ランク指定\nXサイズ=3 Yサイズ=3 ランク=-1 インデックス=3\n"
                  "09 移動平均\nXサイズ=-3 Yサイズ=3\n"
                  "10 メディアン\nXサイズ=3\n"),
              (std::vector<int>{1, 3, 5, 7, 9}));
    EXPECT_EQ(doc.history().position(), position);
    EXPECT_TRUE(Run("20 ランク指定\nXサイズ=4 Yサイズ=4 ランク=24 インデックス=3\n").empty());
    EXPECT_EQ(doc.settings().rank.x, 5);
}

}  // namespace
}  // namespace lumadrift
