#include <gtest/gtest.h>

#include "commands/commands_test_util.h"
#include "commands/lumadrift_doc.h"
#include "core/file_io.h"
#include "core/ini_file.h"

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumadrift {
namespace {

class CountingObserver : public DocObserver {
public:
    void OnImageChanged() override { ++images; }
    void OnZoomChanged(int z) override { zoom = z; }
    void OnRangeChanged() override { ++ranges; }
    void OnTitleChanged() override { ++titles; }
    int images = 0, ranges = 0, titles = 0, zoom = 0;
};

class DocumentTest : public ::testing::Test {
protected:
    DocumentTest() : doc(inst.Environment()) { doc.SetObserver(&observer); }
    ~DocumentTest() override { doc.SetObserver(nullptr); }

    std::string Picture(const std::string& name, int w, int h)
    {
        const std::string path = inst.root() + "/picture/" + name;
        test::WriteBytes(path, test::MakeBmp24(w, h));
        return path;
    }
    // Puts the document into the gray state with a ring of w x h planes
    // whose current plane holds x + 16 * y.
    void MakeGray(int w, int h)
    {
        ASSERT_EQ(doc.planes().CreatePlaneBank(5, w, h), 0);
        doc.MakeGrayHeader(w, h);
        uint8_t* p = doc.planes().GetPlane(doc.currentPlane());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                p[y * w + x] = static_cast<uint8_t>(x + 16 * y);
        doc.setState(kStateGray);
    }

    test::Installation inst;
    CountingObserver observer;
    CLumadriftDoc doc;
};

TEST_F(DocumentTest, FreshDocumentHasNoImage)
{
    EXPECT_EQ(doc.state(), kStateNoImage);
    EXPECT_EQ(doc.renderPending(), -1);
    EXPECT_FALSE(doc.IsRecording());
    EXPECT_EQ(doc.Title(), "無題");
    EXPECT_EQ(doc.planes().QueryPlaneBank(kBankWidth), -1);
    EXPECT_EQ(doc.colors().QueryColorBank(kBankCount), -1);
}

TEST_F(DocumentTest, OpenFillsOneColourSlotOfTheFileSize)
{
    const std::string path = Picture("chart.bmp", 7, 5);
    ASSERT_EQ(doc.OpenDocument(path), BmpError::kNone);
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.renderPending(), 0);
    EXPECT_EQ(doc.currentPlane(), 0);
    EXPECT_EQ(doc.colors().count(), 1);
    EXPECT_EQ(doc.colors().width(), 7);
    EXPECT_EQ(doc.colors().height(), 5);
    EXPECT_TRUE(doc.planes().empty());
    EXPECT_EQ(doc.Title(), "chart.bmp");
    const uint8_t *r = nullptr, *g = nullptr, *b = nullptr;
    doc.colors().GetColorPlanes(0, &r, &g, &b);
    ASSERT_NE(r, nullptr);
    // Bottom-right pixel (6, 4): red 61, green 42, blue 13.
    EXPECT_EQ(r[4 * 7 + 6], 61);
    EXPECT_EQ(g[4 * 7 + 6], 42);
    EXPECT_EQ(b[4 * 7 + 6], 13);
    EXPECT_GE(observer.images, 1);
    EXPECT_GE(observer.ranges, 1);
}

TEST_F(DocumentTest, OpenDoesNotChangeTheProcessingRange)
{
    doc.setRange({3, 4, 1, 2});
    EXPECT_EQ(doc.range(), (ProcessingRange{1, 2, 3, 4}));
    ASSERT_EQ(doc.OpenDocument(Picture("a.bmp", 4, 4)), BmpError::kNone);
    EXPECT_EQ(doc.range(), (ProcessingRange{1, 2, 3, 4}));
}

TEST_F(DocumentTest, RefusedFileLeavesEverythingAsItWas)
{
    MakeGray(4, 3);
    const std::string bad = inst.root() + "/picture/bad.bmp";
    test::WriteText(bad, "MB this is no bitmap");
    EXPECT_EQ(doc.OpenDocument(bad), BmpError::kNotBitmap);
    EXPECT_EQ(doc.state(), kStateGray);
    EXPECT_EQ(doc.planes().width(), 4);
    EXPECT_EQ(doc.OpenDocument(inst.root() + "/picture/none.bmp"), BmpError::kCannotRead);
    EXPECT_EQ(doc.state(), kStateGray);
}

TEST_F(DocumentTest, OpenReleasesTheGrayPlanes)
{
    MakeGray(4, 3);
    ASSERT_EQ(doc.OpenDocument(Picture("a.bmp", 2, 2)), BmpError::kNone);
    EXPECT_TRUE(doc.planes().empty());
    EXPECT_EQ(doc.state(), kStateColor);
}

TEST_F(DocumentTest, SaveInColourStateWritesTheLoadedBytes)
{
    const std::string path = Picture("a.bmp", 5, 3);
    ASSERT_EQ(doc.OpenDocument(path), BmpError::kNone);
    const std::string out = inst.root() + "/data/copy.bmp";
    ASSERT_EQ(doc.SaveAs(out), 0);
    EXPECT_EQ(test::ReadBytes(out), test::MakeBmp24(5, 3));
    EXPECT_EQ(doc.pathName(), path);  // Save As keeps the document's path
}

TEST_F(DocumentTest, SaveWithoutPathAsksForSaveAs)
{
    EXPECT_EQ(doc.SaveDocument(), -1);
}

TEST_F(DocumentTest, GrayFileBytes)
{
    MakeGray(6, 2);
    const std::string out = inst.root() + "/data/gray.bmp";
    ASSERT_EQ(doc.WriteGrayFile(out), 0);
    const auto f = test::ReadBytes(out);
    ASSERT_EQ(f.size(), 1094u);
    EXPECT_EQ(GetLe32(&f[2]), 1094u);
    EXPECT_EQ(GetLe32(&f[10]), 1078u);
    // Bottom row first, each row followed by two zero bytes.
    const std::vector<uint8_t> pixels(f.begin() + 1078, f.end());
    const std::vector<uint8_t> expected = {16, 17, 18, 19, 20, 21, 0, 0, 0, 1, 2, 3, 4, 5, 0, 0};
    EXPECT_EQ(pixels, expected);
}

TEST_F(DocumentTest, FailedSaveKeepsTheOldFile)
{
    MakeGray(64, 64);
    const std::string out = inst.root() + "/data/keep.bmp";
    test::WriteText(out, "precious");
    // A file size limit makes the write fail half-way, even for root.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 2000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int rc = doc.WriteGrayFile(out);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(test::ReadText(out), "precious");
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(inst.root() + "/data"))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

TEST_F(DocumentTest, ShowSourcePictureGoesBackToTheFile)
{
    ASSERT_EQ(doc.OpenDocument(Picture("a.bmp", 9, 7)), BmpError::kNone);
    MakeGray(3, 2);  // as if a 3 x 2 range had been acquired
    doc.setZoom(50);
    ASSERT_TRUE(doc.StartRecording(inst.root() + "/filter/r.flt"));
    doc.ShowSourcePicture();
    doc.StopRecording();
    EXPECT_EQ(doc.state(), kStateColor);
    EXPECT_EQ(doc.zoom(), 100);
    EXPECT_EQ(observer.zoom, 100);
    EXPECT_EQ(doc.renderPending(), 0);
    EXPECT_EQ(doc.imageWidth(), 9);
    EXPECT_EQ(doc.colors().count(), 2);
    EXPECT_EQ(doc.colors().source(), 0);
    EXPECT_EQ(doc.colors().destination(), 1);
    EXPECT_EQ(doc.planes().width(), 3);  // the gray planes stay
    EXPECT_FALSE(doc.undoAvailable());
    EXPECT_EQ(test::ReadText(inst.root() + "/filter/r.flt"), test::MacroBytes("56 元画像表示\n"));
}

TEST_F(DocumentTest, RingAdvanceWrapsAfterTheFifthPlane)
{
    MakeGray(2, 2);
    std::vector<std::pair<int, int>> seen;
    for (int i = 0; i < 6; ++i) {
        doc.AdvancePlaneRing();
        seen.emplace_back(doc.planes().source(), doc.planes().destination());
        EXPECT_EQ(doc.renderPending(), doc.currentPlane());
    }
    const std::vector<std::pair<int, int>> expected = {{0, 1}, {1, 2}, {2, 3},
                                                       {3, 4}, {4, 0}, {0, 1}};
    EXPECT_EQ(seen, expected);
}

TEST_F(DocumentTest, SettingsAreSavedOnlyWhenAsked)
{
    const std::string ini = inst.root() + "/env/Lumadrift.ini";
    {
        CLumadriftDoc quiet(inst.Environment(false));
        quiet.settings().binarize.min = 42;
    }
    EXPECT_FALSE(FileExists(ini));
    {
        CLumadriftDoc saving(inst.Environment(true));
        saving.settings().binarize.min = 42;
    }
    EXPECT_EQ(IniFile(ini).GetInt("IMGSET", "IMG_MINBINARY", 0), 42);
    CLumadriftDoc reader(inst.Environment(false));
    EXPECT_EQ(reader.settings().binarize.min, 42);
}

TEST_F(DocumentTest, RangeEditingTogglesOnlyOnTheColourPicture)
{
    EXPECT_EQ(doc.ToggleRangeEdit(), -1);  // no picture
    ASSERT_EQ(doc.OpenDocument(Picture("a.bmp", 4, 4)), BmpError::kNone);
    ASSERT_EQ(doc.ToggleRangeEdit(), 0);
    EXPECT_EQ(doc.state(), kStateRangeEdit);
    ASSERT_EQ(doc.ToggleRangeEdit(), 0);
    EXPECT_EQ(doc.state(), kStateColor);
    MakeGray(2, 2);
    EXPECT_EQ(doc.ToggleRangeEdit(), -1);
    EXPECT_EQ(doc.state(), kStateGray);
}

TEST(DocumentLayout, BrokenLayoutTouchesNoFiles)
{
    test::TempDir dir;
    DocEnvironment env;
    env.layoutState = -1;
    env.dirs = Directories::FromRoot(dir.path());
    {
        CLumadriftDoc doc(env);
        doc.settings().binarize.min = 1;
    }
    EXPECT_FALSE(DirectoryExists(dir / "env"));
    EXPECT_FALSE(DirectoryExists(dir / "log"));
}

TEST(DocumentLayout, MissingFoldersAreCreated)
{
    test::TempDir dir;
    DocEnvironment env;
    env.layoutState = 0;
    env.dirs = Directories::FromRoot(dir.path());
    env.saveSettings = false;
    CLumadriftDoc doc(env);
    for (const char* sub : {"env", "picture", "filter", "log", "data"})
        EXPECT_TRUE(DirectoryExists(dir / sub)) << sub;
}

}  // namespace
}  // namespace lumadrift
