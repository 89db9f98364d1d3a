#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/directories.h"
#include "core/file_io.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using test::TempDir;

TEST(LayoutCheck, LastFourCharactersMustBeSlashBinInAnyCase)
{
    struct Case {
        const char* cwd;
        int expected;
    } cases[] = {
        {"/x/bin", 0},   {"/x/BIN", 0},   {"/x/Bin", 0},  {"/bin", 0},        {"/opt/ld/bIN", 0},
        {"/x/binx", -1}, {"/x/bin2", -1}, {"bin", -1},    {"/bi", -1},        {"", -1},
        {"/x/sbin", -1}, {"/x/bin/", -1}, {"xbin", -1},   {"/x\\bin", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cwd);
        EXPECT_EQ(LayoutCheck(c.cwd), c.expected);
    }
}

TEST(Directories, PathsKeepTheLiteralParentComponent)
{
    const Directories d = Directories::FromWorkingDirectory("/opt/Lumadrift/BIN");
    EXPECT_EQ(d.envDir, "/opt/Lumadrift/BIN/../env");
    EXPECT_EQ(d.pictureDir, "/opt/Lumadrift/BIN/../picture");
    EXPECT_EQ(d.filterDir, "/opt/Lumadrift/BIN/../filter");
    EXPECT_EQ(d.logDir, "/opt/Lumadrift/BIN/../log");
    EXPECT_EQ(d.dataDir, "/opt/Lumadrift/BIN/../data");
    EXPECT_EQ(d.iniPath, "/opt/Lumadrift/BIN/../env/Lumadrift.ini");
}

TEST(Directories, FromRootHasNoParentComponent)
{
    struct Case {
        const char* root;
        const char* env;
        const char* ini;
    } cases[] = {
        {"/opt/ld", "/opt/ld/env", "/opt/ld/env/Lumadrift.ini"},
        {"/opt/ld//", "/opt/ld/env", "/opt/ld/env/Lumadrift.ini"},
        {"/", "/env", "/env/Lumadrift.ini"},
        {"dist", "dist/env", "dist/env/Lumadrift.ini"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        const Directories d = Directories::FromRoot(c.root);
        EXPECT_EQ(d.envDir, c.env);
        EXPECT_EQ(d.iniPath, c.ini);
    }
}

TEST(Directories, CreateMissingMakesTheSiblingsOfBin)
{
    TempDir tmp;
    ASSERT_TRUE(MakeDirectory(tmp / "bin"));
    ASSERT_TRUE(MakeDirectory(tmp / "picture"));
    test::WriteText(tmp / "picture/keep.bmp", "BM");
    test::WriteText(tmp / "log", "a file where a folder should be");

    const Directories d = Directories::FromWorkingDirectory(tmp / "bin");
    d.CreateMissing();
    for (const char* name : {"env", "picture", "filter", "data"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(DirectoryExists(tmp / name));
    }
    EXPECT_TRUE(FileExists(tmp / "log"));  // left alone; its users report the failure
    EXPECT_EQ(test::ReadText(tmp / "picture/keep.bmp"), "BM");
}

TEST(Directories, CreateMissingMakesOneLevelOnly)
{
    TempDir tmp;
    const Directories d = Directories::FromRoot(tmp / "no/such/root");
    d.CreateMissing();
    EXPECT_FALSE(DirectoryExists(tmp / "no"));
}

TEST(Directories, CurrentDirectoryIsTheProcessWorkingDirectory)
{
    TempDir tmp;
    const std::string previous = CurrentDirectory();
    ASSERT_FALSE(previous.empty());
    std::string deep = tmp.path();
    for (int i = 0; i < 4; ++i) {  // longer than the old 260-character limit
        deep += "/" + std::string(80, static_cast<char>('a' + i));
        ASSERT_TRUE(MakeDirectory(deep));
    }
    ASSERT_EQ(::chdir(deep.c_str()), 0);
    const std::string now = CurrentDirectory();
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_EQ(now, std::filesystem::canonical(deep).string());
}

}  // namespace
}  // namespace lumadrift
