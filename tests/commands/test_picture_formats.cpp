// Pictures in the other formats through the document and macro replay.
#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "core/memory.h"
#include "core/picture_file.h"

namespace lumadrift {
namespace {

class PictureDocTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return inst.root() + "/picture/" + name; }

    test::Installation inst;
    CLumadriftDoc doc{inst.Environment()};
};

TEST_F(PictureDocTest, RefusedPictureKeepsTheOpenOne)
{
    test::WriteBytes(Path("a.bmp"), test::MakeBmp24(6, 4));
    ASSERT_EQ(doc.OpenDocument(Path("a.bmp")), BmpError::kNone);
    const PictureBytes before = doc.file().fileData;
    const std::vector<uint8_t> gray(8 * 8, 77);
    for (PictureFormat f : {PictureFormat::kPng, PictureFormat::kTiff}) {
        std::vector<uint8_t> cut = EncodeGrayPicture(f, gray.data(), 8, 8);
        cut.resize(cut.size() / 2);
        test::WriteBytes(Path("cut"), cut);
        EXPECT_NE(doc.OpenDocument(Path("cut")), BmpError::kNone);
        EXPECT_EQ(doc.state(), kStateColor);
        EXPECT_EQ(doc.file().fileData, before);
        EXPECT_EQ(doc.pathName(), Path("a.bmp"));
    }
}

TEST_F(PictureDocTest, MacroOpensAndSavesOtherFormats)
{
    std::vector<uint8_t> gray;
    for (int i = 0; i < 20 * 12; ++i)
        gray.push_back(static_cast<uint8_t>(i));
    test::WriteBytes(Path("in.png"), EncodeGrayPicture(PictureFormat::kPng, gray.data(), 20, 12));
    const std::string copy = Path("copy.tif"), result = Path("result.png");
    ReplaySummary s;
    const std::vector<int> failed = test::RunMacro(doc, inst,
        "51 ファイルを開く\nファイル=" + Path("in.png") + "\n"
        "52 ファイルの保存\nファイル=" + copy + "\n"
        "55 画像処理範囲取得\nチャネル=0 反転=0 彩度=0.00 左座標=2 上座標=1 右座標=17 下座標=9\n"
        "52 ファイルの保存\nファイル=" + result + "\n", &s);
    EXPECT_TRUE(failed.empty());
    // The colour save writes the opened picture as it was; the gray save the
    // acquired range.
    LoadedBmp a, b;
    ASSERT_EQ(ReadPictureFile(copy, a), BmpError::kNone);
    EXPECT_EQ(a.fileData, doc.file().fileData);
    const std::vector<uint8_t> bytes = test::ReadBytes(result);
    EXPECT_EQ(SniffPictureFormat(bytes.data(), bytes.size()), PictureFormat::kPng);
    ASSERT_EQ(ReadPictureFile(result, b), BmpError::kNone);
    EXPECT_EQ(b.info.width, 16);
    EXPECT_EQ(b.info.height, 9);
    // Top-left of the range is pixel (2, 1) of the picture: 1 * 20 + 2.
    EXPECT_EQ(b.pixels()[8 * DibStride(16, 8)], 22);
}

// Acquiring the whole picture takes the colour planes an open decoded;
// any sequence of acquisitions must still give the plane a fresh document
// gives, whatever colour bank the previous step left.
TEST_F(PictureDocTest, AcquisitionAfterAnyStepMatchesAFreshDocument)
{
    test::WriteBytes(Path("a.bmp"), test::MakeBmp24(6, 4));
    auto fresh = [&](const AcquireParams& p) {
        CLumadriftDoc other{inst.Environment()};
        EXPECT_EQ(other.OpenDocument(Path("a.bmp")), BmpError::kNone);
        EXPECT_EQ(other.Acquire(p), 0);
        return std::vector<uint8_t>(other.planes().GetPlane(0), other.planes().GetPlane(0) + (p.right - p.left + 1) * (p.bottom - p.top + 1));
    };
    const AcquireParams whole{kChannelRed, 0, 0.0, 0, 0, 5, 3}, wholeBlue{kChannelBlue, 1, 0.0, 0, 0, 5, 3},
        part{kChannelGreen, 0, 0.0, 1, 1, 4, 2};
    // Each step: whether the source picture is shown first, then what is
    // acquired. Only a whole picture after an open or a whole acquisition
    // reuses the decoded planes.
    struct Step {
        bool showSource;
        AcquireParams p;
    };
    const std::vector<std::vector<Step>> sequences = {
        {{false, whole}, {false, wholeBlue}},
        {{false, part}, {true, whole}, {false, wholeBlue}},
        {{false, whole}, {true, part}, {true, wholeBlue}},
    };
    for (const auto& seq : sequences) {
        ASSERT_EQ(doc.OpenDocument(Path("a.bmp")), BmpError::kNone);
        for (size_t i = 0; i < seq.size(); ++i) {
            SCOPED_TRACE(i);
            if (seq[i].showSource)
                doc.ShowSourcePicture();
            ASSERT_EQ(doc.Acquire(seq[i].p), 0);
            const std::vector<uint8_t> expected = fresh(seq[i].p);
            EXPECT_EQ(std::vector<uint8_t>(doc.planes().GetPlane(0), doc.planes().GetPlane(0) + expected.size()), expected);
        }
    }
}

// Opening the next picture of the same size keeps the old planes for the
// acquisition that follows, but not the old file bytes; once the banks are
// rebuilt nothing stays kept beside them.
TEST_F(PictureDocTest, BuffersKeptBetweenPicturesAreOnlyThoseStillOfUse)
{
    const size_t plane = 6 * 4;
    test::WriteBytes(Path("a.bmp"), test::MakeBmp24(6, 4));
    test::WriteBytes(Path("b.bmp"), test::MakeBmp24(6, 4));
    ReleaseRecycledBuffers();
    ASSERT_EQ(doc.OpenDocument(Path("a.bmp")), BmpError::kNone);
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 5, 3}), 0);
    EXPECT_EQ(KeptBuffers().count, 0);
    ASSERT_EQ(doc.OpenDocument(Path("b.bmp")), BmpError::kNone);
    EXPECT_EQ(KeptBuffers().count, kRingSize);
    EXPECT_EQ(KeptBuffers().bytes, kRingSize * plane);
    ASSERT_EQ(doc.Acquire({0, 0, 0, 0, 0, 5, 3}), 0);
    EXPECT_EQ(KeptBuffers().count, 0);
    doc.ShowSourcePicture();
    EXPECT_EQ(KeptBuffers().count, 0);
}

}  // namespace
}  // namespace lumadrift
