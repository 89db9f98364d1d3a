// The workbench as a whole program: start in an installation's bin folder,
// close, and look at what it left behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

#include "core/file_io.h"
#include "core/ini_file.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

// The program's own home: its recent-file list and Qt's caches land here,
// never in the real user's folders.
struct Home {
    test::TempDir dir;
    Home()
    {
        for (const char* sub : {"config", "data", "cache", "runtime"})
            ::mkdir((dir / sub).c_str(), 0700);
    }
    std::string Environment() const
    {
        return "HOME='" + dir.path() + "' XDG_CONFIG_HOME='" + (dir / "config") +
               "' XDG_DATA_HOME='" + (dir / "data") + "' XDG_CACHE_HOME='" + (dir / "cache") +
               "' XDG_RUNTIME_DIR='" + (dir / "runtime") + "'";
    }
    std::string RecentFiles() const { return test::ReadText(dir / "config/Lumadrift/Lumadrift.conf"); }
};

int RunWorkbench(const std::string& cwd, const std::string& args = {}, const Home& home = Home())
{
    const std::string cmd = "cd '" + cwd + "' && env " + home.Environment() +
                            " QT_QPA_PLATFORM=offscreen LUMADRIFT_CLOSE_AFTER_MS=200 '" +
                            std::string(LUMADRIFT_GUI_EXE) + "' " + args + " >/dev/null 2>&1";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

TEST(Startup, FreshInstallationGetsItsFoldersAndSettings)
{
    test::TempDir dir;
    ::mkdir((dir / "bin").c_str(), 0777);
    ASSERT_EQ(RunWorkbench(dir / "bin"), 0);
    for (const char* sub : {"env", "picture", "filter", "log", "data"})
        EXPECT_TRUE(DirectoryExists(dir / sub)) << sub;
    const std::string ini = test::ReadText(dir / "env/Lumadrift.ini");
    EXPECT_NE(ini.find("[IMGSET]\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("[WINDOW]\r\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("[CAMERA]"), std::string::npos);
    EXPECT_EQ(ini.find("IMG_FFTTHD"), std::string::npos);
    IniFile file(dir / "env/Lumadrift.ini");
    EXPECT_EQ(file.GetInt("IMGSET", "IMG_MINBINARY", -1), 128);
    EXPECT_EQ(file.GetInt("WINDOW", "MAXIMIZED", -1), 0);
}

TEST(Startup, SavedPlacementAndSettingsComeBack)
{
    test::TempDir dir;
    ::mkdir((dir / "BIN").c_str(), 0777);  // letter case is ignored
    ::mkdir((dir / "env").c_str(), 0777);
    test::WriteText(dir / "env/Lumadrift.ini",
                    "[WINDOW]\r\nX=40\r\nY=50\r\nCX=700\r\nCY=500\r\nMAXIMIZED=1\r\n"
                    "[IMGSET]\r\nIMG_MINBINARY=77\r\nIMG_FFTTHD=4\r\n"
                    "[CAMERA]\r\nCAMERA_USE=1\r\n");
    ASSERT_EQ(RunWorkbench(dir / "BIN"), 0);
    IniFile file(dir / "env/Lumadrift.ini");
    EXPECT_EQ(file.GetInt("WINDOW", "CX", -1), 700);
    EXPECT_EQ(file.GetInt("WINDOW", "CY", -1), 500);
    EXPECT_EQ(file.GetInt("WINDOW", "MAXIMIZED", -1), 0);  // never started maximized
    EXPECT_EQ(file.GetInt("IMGSET", "IMG_MINBINARY", -1), 77);
    // Keys the workbench only reads are kept as they were.
    EXPECT_EQ(file.GetInt("IMGSET", "IMG_FFTTHD", -1), 4);
    EXPECT_EQ(file.GetInt("CAMERA", "CAMERA_USE", -1), 1);
}

TEST(Startup, OpensTheFileNamedOnTheCommandLine)
{
    test::TempDir dir;
    ::mkdir((dir / "bin").c_str(), 0777);
    std::vector<uint8_t> f(58, 0);
    f[0] = 'B';
    f[1] = 'M';
    f[2] = 58;
    f[14] = 40;
    f[18] = 1;
    f[22] = 1;
    f[26] = 1;
    f[28] = 24;
    test::WriteBytes(dir / "bin/one.bmp", f);
    Home home;
    EXPECT_EQ(RunWorkbench(dir / "bin", "one.bmp", home), 0);
    // Remembered in the program's own home.
    EXPECT_NE(home.RecentFiles().find("one.bmp"), std::string::npos) << home.RecentFiles();
}

// A picture on the command line that cannot be opened: its message (answered
// here by the close timer), then the program ends as a failed start.
TEST(Startup, UnopenablePictureOnTheCommandLineEndsTheProgram)
{
    test::TempDir dir;
    ::mkdir((dir / "bin").c_str(), 0777);
    test::WriteText(dir / "bin/bad.bmp", "BM not a picture");
    Home home;
    EXPECT_EQ(RunWorkbench(dir / "bin", "bad.bmp", home), 1);
    EXPECT_EQ(RunWorkbench(dir / "bin", "missing.bmp", home), 1);
    EXPECT_EQ(home.RecentFiles().find("bad.bmp"), std::string::npos);
    // Settings and placement are still written, as at every end.
    EXPECT_TRUE(FileExists(dir / "env/Lumadrift.ini"));
}

}  // namespace
}  // namespace lumadrift
