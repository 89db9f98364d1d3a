// The command-line replay tool as a whole program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

#include "commands/commands_test_util.h"
#include "core/bmp.h"
#include "core/file_io.h"
#include "core/image_model.h"
#include "core/picture_file.h"

namespace lumadrift {
namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class ReplayToolTest : public ::testing::Test {
protected:
    Result RunTool(const std::string& args, const std::string& cwd = {})
    {
        const std::string out = inst.dir / "stdout.txt";
        const std::string err = inst.dir / "stderr.txt";
        std::string cmd;
        if (!cwd.empty())
            cmd = "cd '" + cwd + "' && ";
        cmd += std::string("'") + LUMADRIFT_REPLAY_EXE + "' " + args + " >'" + out + "' 2>'" + err + "'";
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = test::ReadText(out);
        r.err = test::ReadText(err);
        return r;
    }
    std::string Macro(const std::string& name, const std::string& utf8)
    {
        const std::string path = inst.root() + "/filter/" + name;
        test::WriteText(path, test::MacroBytes(utf8));
        return path;
    }

    test::Installation inst;
};

TEST_F(ReplayToolTest, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(RunTool("").status, 2);
    EXPECT_EQ(RunTool("--bogus x.flt").status, 2);
    EXPECT_EQ(RunTool("--root").status, 2);
    const Result missing = RunTool("--root '" + inst.root() + "' '" + inst.root() + "/filter/none.flt'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

TEST_F(ReplayToolTest, HelpAndVersionGoToStdoutAndExitWithZero)
{
    const Result help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    // Every option the parser takes, the exit statuses and an example.
    for (const char* word : {"--root", "-o OUTDIR", "-j N", "--shard I/N", "--format", "--overwrite",
                             "--dry-run", "--version", "--help", "Exit status: 0", "Example:"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    const Result version = RunTool("--version -j bogus");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lumadrift-replay ", 0), 0u) << version.out;
    EXPECT_NE(version.out.find_first_of("0123456789"), std::string::npos) << version.out;
}

TEST_F(ReplayToolTest, EveryEntryRanExitsWithZero)
{
    test::WriteBytes(inst.root() + "/picture/a.bmp", test::MakeBmp24(3, 3));
    const std::string m = Macro("ok.flt",
                                "51 ファイルを開く\nファイル=../picture/a.bmp\n"
                                "52 ファイルの保存\nファイル=../data/b.bmp\n");
    const Result r = RunTool("--root '" + inst.root() + "' '" + m + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(inst.root() + "/data/b.bmp"), test::MakeBmp24(3, 3));
    // Settings are read, never written.
    EXPECT_FALSE(FileExists(inst.root() + "/env/Lumadrift.ini"));
}

TEST_F(ReplayToolTest, FailedEntryExitsWithOneAndNamesTheLine)
{
    const std::string m = Macro("bad.flt", "63 スリープ\nミリ秒=0\n02 膨張\n");
    const Result r = RunTool("--root '" + inst.root() + "' '" + m + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("bad.flt:3: Active mode error: 膨張"), std::string::npos) << r.err;
    std::vector<uint8_t> log;
    bool found = false;
    for (const auto& e : std::filesystem::directory_iterator(inst.logDir()))
        found = found || e.path().extension() == ".log";
    EXPECT_TRUE(found);
}

TEST_F(ReplayToolTest, RootDefaultsToTheParentOfBin)
{
    const std::string m = Macro("bad.flt", "02 膨張\n");
    const Result r = RunTool("../filter/bad.flt", inst.root() + "/bin");
    EXPECT_EQ(r.status, 1);
    bool found = false;
    for (const auto& e : std::filesystem::directory_iterator(inst.logDir()))
        found = found || e.path().extension() == ".log";
    EXPECT_TRUE(found) << "log not written under the installation root";
}

// Pictures written by another program's BMP writer come out of an
// open-and-save replay as plain uncompressed files with the same pixels.
TEST_F(ReplayToolTest, OtherWritersFilesOpenAndSave)
{
    if (std::system("convert -version 2>/dev/null | grep -q ImageMagick") != 0)
        GTEST_SKIP() << "ImageMagick is not installed";
    const struct {
        const char* name;
        const char* args;
    } variants[] = {
        {"rle8.bmp", "-type palette -compress RLE BMP3:"},
        {"v5.bmp", "-type truecolor BMP:"},
        {"rgb565.bmp", "-define bmp:subtype=RGB565 BMP:"},
        {"gray.bmp", "-type grayscale BMP3:"},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const std::string in = inst.root() + "/picture/" + v.name;
        const std::string cmd = std::string("convert -size 13x7 gradient:red-blue ") + v.args + "'" +
                                in + "' 2>/dev/null";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const std::string m = Macro("io.flt", std::string("51 ファイルを開く\nファイル=../picture/") +
                                                  v.name + "\n52 ファイルの保存\nファイル=../data/" +
                                                  v.name + "\n");
        const Result r = RunTool("--root '" + inst.root() + "' '" + m + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        LoadedBmp original, saved;
        ASSERT_EQ(ReadBmpFile(in, original), BmpError::kNone);
        const auto bytes = test::ReadBytes(inst.root() + "/data/" + v.name);
        ASSERT_EQ(ParseBmp(bytes.data(), bytes.size(), saved), BmpError::kNone);
        EXPECT_EQ(GetLe32(&bytes[14]), 40u);       // plain info header
        EXPECT_EQ(GetLe32(&bytes[30]), 0u);        // uncompressed
        EXPECT_GT(static_cast<int32_t>(GetLe32(&bytes[22])), 0);  // bottom-up
        std::vector<uint8_t> r1(91), g1(91), b1(91), r2(91), g2(91), b2(91);
        DecodeDibToPlanes(r1.data(), g1.data(), b1.data(), original.pixels(), original.pixelBytes(),
                          original.info, original.colorTable(), 0, 0, 12, 6);
        DecodeDibToPlanes(r2.data(), g2.data(), b2.data(), saved.pixels(), saved.pixelBytes(),
                          saved.info, saved.colorTable(), 0, 0, 12, 6);
        EXPECT_EQ(r1, r2);
        EXPECT_EQ(g1, g2);
        EXPECT_EQ(b1, b2);
    }
}

class BatchTest : public ReplayToolTest {
protected:
    void SetUp() override
    {
        ::mkdir((inst.root() + "/in").c_str(), 0777);
        // Three pictures of different sizes, and a file that is no picture.
        test::WriteBytes(inst.root() + "/in/a.bmp", test::MakeBmp24(20, 12));
        test::WriteBytes(inst.root() + "/in/b.bmp", test::MakeBmp24(24, 10));
        test::WriteBytes(inst.root() + "/in/c.BMP", test::MakeBmp24(30, 16));
        test::WriteText(inst.root() + "/in/notes.txt", "not a picture");
        macro = Macro("batch.flt",
                      "51 ファイルを開く\nファイル=whatever.bmp\n"
                      "55 画像処理範囲取得\nチャネル=0 反転=0 彩度=0.00 左座標=2 上座標=1 右座標=17 下座標=9\n"
                      "01 2値化\n最小値=60 最大値=255\n"
                      "04 ラベリング\nファイル=result.lbl\n"
                      "52 ファイルの保存\nファイル=out.bmp\n"
                      "52 ファイルの保存\nファイル=again.bmp\n");
    }
    Result Batch(const std::string& args)
    {
        return RunTool("--root '" + inst.root() + "' " + args + " '" + macro + "' '" + inst.root() +
                       "/in'");
    }
    std::vector<std::string> Files(const std::string& dir)
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string macro;
};

TEST_F(BatchTest, OutputsAreNamedAfterEachPicture)
{
    const Result r = Batch("-j 1 -o '" + inst.root() + "/out1'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Files(inst.root() + "/out1"),
              (std::vector<std::string>{"a-2.bmp", "a.bmp", "a.lbl", "b-2.bmp", "b.bmp", "b.lbl",
                                        "c-2.bmp", "c.bmp", "c.lbl"}));
    // A 16 x 9 gray file from the acquired range.
    EXPECT_EQ(test::ReadBytes(inst.root() + "/out1/a.bmp").size(), 1078u + 9u * 16u);
    EXPECT_NE(r.out.find("images: 3, entries run: 18, entries failed: 0"), std::string::npos) << r.out;
    // Nothing was written where the macro itself pointed.
    EXPECT_FALSE(FileExists(inst.root() + "/filter/out.bmp"));
}

TEST_F(BatchTest, AnyNumberOfJobsGivesTheSameBytes)
{
    ASSERT_EQ(Batch("-j 1 -o '" + inst.root() + "/one'").status, 0);
    ASSERT_EQ(Batch("-j 4 -o '" + inst.root() + "/four'").status, 0);
    const auto names = Files(inst.root() + "/one");
    ASSERT_EQ(names, Files(inst.root() + "/four"));
    for (const auto& n : names)
        EXPECT_EQ(test::ReadBytes(inst.root() + "/one/" + n), test::ReadBytes(inst.root() + "/four/" + n))
            << n;
}

TEST_F(BatchTest, ExistingFilesAreKeptUnlessOverwriteIsGiven)
{
    ::mkdir((inst.root() + "/out").c_str(), 0777);
    test::WriteText(inst.root() + "/out/b.bmp", "keep me");
    const Result r = Batch("-o '" + inst.root() + "/out'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(test::ReadText(inst.root() + "/out/b.bmp"), "keep me");
    EXPECT_NE(r.err.find("b.bmp"), std::string::npos);
    EXPECT_NE(r.err.find("not overwritten"), std::string::npos) << r.err;
    EXPECT_TRUE(FileExists(inst.root() + "/out/c.bmp"));  // the others went on
    const Result again = Batch("--overwrite -o '" + inst.root() + "/out'");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(test::ReadText(inst.root() + "/out/b.bmp"), "keep me");
}

TEST_F(BatchTest, AFailingPictureDoesNotStopTheOthers)
{
    test::WriteText(inst.root() + "/in/broken.bmp", "BM but nothing else");
    const Result r = Batch("-o '" + inst.root() + "/out'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("broken.bmp"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Function error: ファイルを開く"), std::string::npos) << r.err;
    EXPECT_TRUE(FileExists(inst.root() + "/out/a.bmp"));
    EXPECT_TRUE(FileExists(inst.root() + "/out/c.bmp"));
    EXPECT_FALSE(FileExists(inst.root() + "/out/broken.bmp"));
}

TEST_F(BatchTest, ShardsCoverEveryPictureOnce)
{
    std::vector<std::string> all;
    for (int i = 0; i < 3; ++i) {
        const std::string dir = inst.root() + "/shard" + std::to_string(i);
        const Result r = Batch("--shard " + std::to_string(i) + "/3 -o '" + dir + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& n : Files(dir))
            if (n.size() > 4 && n.substr(n.size() - 4) == ".lbl")
                all.push_back(n);
        EXPECT_EQ(Files(dir).size(), 3u) << "one picture per shard";
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::string>{"a.lbl", "b.lbl", "c.lbl"}));
    EXPECT_EQ(Batch("--shard 3/3").status, 2);
    EXPECT_EQ(Batch("--shard x").status, 2);
    EXPECT_EQ(Batch("-j 0").status, 2);
}

TEST_F(BatchTest, DryRunListsAndWritesNothing)
{
    const Result r = Batch("--dry-run -o '" + inst.root() + "/dry'");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("/in/a.bmp -> " + inst.root() + "/dry/a-2.bmp"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("c.lbl"), std::string::npos);
    EXPECT_FALSE(DirectoryExists(inst.root() + "/dry"));
}

TEST_F(BatchTest, PicturesOfEveryFormatInTheChosenFormatOut)
{
    std::vector<uint8_t> gray(20 * 12, 90);
    test::WriteBytes(inst.root() + "/in/d.png", EncodeGrayPicture(PictureFormat::kPng, gray.data(), 20, 12));
    std::string pgm = "P2 20 12 255\n";
    for (int i = 0; i < 20 * 12; ++i)
        pgm += std::to_string(i % 256) + " ";
    test::WriteText(inst.root() + "/in/e.PGM", pgm);
    const std::string out = inst.root() + "/tiff";
    const Result r = Batch("-j 1 --format tiff -o '" + out + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> pictures = {"a", "a-2", "b", "b-2", "c", "c-2", "d", "d-2", "e", "e-2"};
    for (const std::string& stem : pictures) {
        const std::vector<uint8_t> bytes = test::ReadBytes(out + "/" + stem + ".tif");
        EXPECT_EQ(SniffPictureFormat(bytes.data(), bytes.size()), PictureFormat::kTiff) << stem;
        LoadedBmp bmp;
        EXPECT_EQ(ParsePicture(bytes.data(), bytes.size(), bmp), BmpError::kNone) << stem;
        EXPECT_EQ(bmp.info.width, 16) << stem;
    }
    EXPECT_EQ(Batch("--format gif -o '" + out + "'").status, 2);
}

TEST_F(BatchTest, MissingInputIsAUsageError)
{
    const Result r = RunTool("--root '" + inst.root() + "' '" + macro + "' '" + inst.root() + "/none.bmp'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("none.bmp"), std::string::npos);
}

}  // namespace
}  // namespace lumadrift
