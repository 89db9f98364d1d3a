// The command-line replay tool as a whole program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "commands/commands_test_util.h"
#include "core/file_io.h"

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
    const Result help = RunTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--root"), std::string::npos);
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

}  // namespace
}  // namespace lumadrift
