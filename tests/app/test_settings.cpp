#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "app/directories.h"
#include "app/image_settings.h"
#include "core/file_io.h"
#include "core/cp932.h"
#include "core/ini_file.h"
#include "support/param_support.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

// Every field the settings keep, walked through the settings' own groups.
void ExpectSameSettings(const ImageSettings& a, const ImageSettings& b)
{
    EXPECT_EQ(a.displayRange, b.displayRange);
    ImageSettings& ma = const_cast<ImageSettings&>(a);
    ImageSettings& mb = const_cast<ImageSettings&>(b);
    for (const SettingsGroup& g : SettingsGroups())
        test::ExpectSameFields(*g.fields, g.in(ma), g.in(mb));
}

// Values that the write formats keep exactly, every field away from its default.
ImageSettings Populated(int mode)
{
    ImageSettings s;
    s.range = {10, 20, 109, 219};
    s.displayRange = s.range;
    s.mouseColor = 0x0000FF;
    s.graphColor = 0x00FF00;
    s.resultColor = 0xFF0000;
    s.profileOrientation = 1;
    s.binarize.min = 50;
    s.binarize.max = 200;
    s.contrast.factor = 1.5;
    s.gamma.value = 0.25;
    s.movingAverage.x = 5;
    s.movingAverage.y = 7;
    s.median.x = 9;
    s.median.y = 11;
    s.rank.x = 13;
    s.rank.y = 15;
    s.rank.rank = 4;
    s.rank.choice = 3;
    s.convolution.mode = mode;
    s.convolution.m = 7;
    s.convolution.n = 5;
    s.convolution.values.clear();
    if (mode == 0)
        s.convolution.kernelFile = "/home/ユーザー/filter/ｴｯｼﾞ.knl";
    for (int i = 0; i < (mode == 0 ? 0 : mode * mode); ++i)
        s.convolution.values.push_back((i - 4) * 0.125);
    s.affine.angle = -12.5;
    s.affine.centerX = 100.5;
    s.affine.centerY = 50.0;
    s.affine.zoomX = 1.5;
    s.affine.zoomY = 2.0;
    s.affine.shiftX = -3.0;
    s.affine.shiftY = 4.5;
    s.fft.low = 0.25;
    s.fft.high = 0.75;
    s.fft.shape = 2;
    s.fft.maskFile = "/data/画像①.msk";
    return s;
}

class SettingsTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "Lumadrift.ini"; }
    IniFile Ini() const { return IniFile(Path()); }
    ImageSettings LoadFrom(const std::string& text) const
    {
        WriteText(Path(), text);
        return LoadImageSettings(Ini());
    }
    std::string SavedText(const ImageSettings& s) const
    {
        std::remove(Path().c_str());
        IniFile ini = Ini();
        EXPECT_TRUE(SaveImageSettings(ini, s));
        return ReadText(Path());
    }
    // The value written for one key of "IMGSET".
    std::string SavedValue(const ImageSettings& s, const char* key) const
    {
        SavedText(s);
        return Ini().GetString("IMGSET", key, "<missing>");
    }

    TempDir dir_;
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults)
{
    // The struct's own initial values must agree with the file's defaults,
    // since a document that never loaded settings starts from them.
    ImageSettings expected;
    ExpectSameSettings(LoadImageSettings(Ini()), expected);
    ExpectSameSettings(LoadImageSettings(IniFile()), expected);
    EXPECT_EQ(expected.convolution.values, std::vector<double>(9, 0.0));
}

// A fresh file gets "IMGSET" only: no IMG_FFTTHD and no "CAMERA", whatever
// the struct holds for them.
TEST_F(SettingsTest, FreshFileGoldenBytes)
{
    ImageSettings s = Populated(3);
    s.gamma.value = 0.45;
    s.convolution.values = {-1, 0.5, 2, 0, 1.25, -0.0625, 3, 4, 1e-7};
    s.affine.angle = 12.34;
    s.affine.centerX = 100.26;
    s.affine.centerY = 50.74;
    s.affine.shiftX = -3.04;
    s.affine.shiftY = 4.96;
    s.fft.low = 0.256;
    s.fft.high = 0.904;
    s.fftThreads = 4;
    s.cameraUse = 1;
    EXPECT_EQ(SavedText(s),
              "[IMGSET]\r\n"
              "IMG_RANGE=10,20,109,219\r\n"
              "IMG_MCOLOR=255\r\n"
              "IMG_GCOLOR=65280\r\n"
              "IMG_RCOLOR=16711680\r\n"
              "IMG_PROFILE=1\r\n"
              "IMG_MINBINARY=50\r\n"
              "IMG_MAXBINARY=200\r\n"
              "IMG_CONTRAST=1.500000\r\n"
              "IMG_GAMMA=0.450000\r\n"
              "IMG_AVEKNLX=5\r\n"
              "IMG_AVEKNLY=7\r\n"
              "IMG_MEDKNLX=9\r\n"
              "IMG_MEDKNLY=11\r\n"
              "IMG_RANKKNLX=13\r\n"
              "IMG_RANKKNLY=15\r\n"
              "IMG_RANKVAL=4\r\n"
              "IMG_RANKIDX=3\r\n"
              "IMG_CONVMODE=3\r\n"
              "IMG_CONVMN=7,5\r\n"
              "IMG_CONVVAL=-1.000000,0.500000,2.000000,0.000000,1.250000,-0.062500,3.000000,4.000000,0.000000\r\n"
              "IMG_AFANGLE=12.3\r\n"
              "IMG_AFCENTER=100.3,50.7\r\n"
              "IMG_AFZOOM=1.5,2.0\r\n"
              "IMG_AFPOS=-3.0,5.0\r\n"
              "IMG_MINFFT=0.26\r\n"
              "IMG_MAXFFT=0.90\r\n"
              "IMG_FFTMASK=2\r\n"
              "IMG_MASKFILE=/data/\x89\xE6\x91\x9C\x87\x40.msk\r\n");
}

class SettingsRoundTrip : public SettingsTest, public ::testing::WithParamInterface<int> {};

TEST_P(SettingsRoundTrip, StructToIniToStructKeepsEveryField)
{
    ImageSettings s = Populated(GetParam());
    // Read-only keys come from the file, never from the struct being saved.
    WriteText(Path(), "[CAMERA]\r\nCAMERA_USE=1\r\nCAMERA_WIDTH=1280\r\nCAMERA_HEIGHT=720\r\n"
                      "[IMGSET]\r\nIMG_FFTTHD=4\r\n");
    IniFile ini = Ini();
    ASSERT_TRUE(SaveImageSettings(ini, s));
    s.fftThreads = 4;
    s.cameraUse = 1;
    s.cameraWidth = 1280;
    s.cameraHeight = 720;
    ExpectSameSettings(LoadImageSettings(ini), s);
}

INSTANTIATE_TEST_SUITE_P(ConvolutionModes, SettingsRoundTrip, ::testing::Values(3, 5, 0));

// Every group of the settings, filled with values of its own, comes back
// from the file field for field (the kernel in both of its forms).
TEST_F(SettingsTest, EveryGroupRoundTripsThroughTheFile)
{
    for (int mode : {3, 5, 0}) {
        SCOPED_TRACE(mode);
        ImageSettings s;
        int seed = 1;
        for (const SettingsGroup& g : SettingsGroups())
            if (g.written)
                test::FillDistinct(*g.fields, g.in(s), seed++);
        s.convolution.mode = mode;
        if (mode == 0) {
            s.convolution.values.clear();
            s.convolution.kernelFile = "/k/ｶｰﾈﾙ.knl";
        } else {
            test::FillDistinct(kConvolutionFields, &s.convolution, 99);
            s.convolution.mode = mode;
            s.convolution.values.resize(static_cast<size_t>(mode * mode));
            s.convolution.kernelFile.clear();
        }
        s.displayRange = s.range;
        const ImageSettings back = LoadFrom(SavedText(s));
        ExpectSameSettings(back, s);
    }
}

// A value that is not a number: an integer or a single real reads as its
// leading number (0 without one); a list keeps the defaults from the first
// field that does not parse.
TEST_F(SettingsTest, GarbageInEveryKeyReadsByTheLeadingNumberRule)
{
    for (const SettingsGroup& g : SettingsGroups()) {
        const ParamField* end = g.fields->end();
        for (const ParamField* f = g.fields->begin(); f < end; ++f) {
            if (!f->iniKey || f->type == FieldType::kKernel || f->type == FieldType::kPath)
                continue;
            const bool list = (f + 1 < end && f[1].iniKey && std::string(f[1].iniKey) == f->iniKey) ||
                              (f > g.fields->begin() && f[-1].iniKey && std::string(f[-1].iniKey) == f->iniKey);
            SCOPED_TRACE(f->iniKey);
            for (const char* text : {"12x", "abc"}) {
                ImageSettings s = LoadFrom(std::string("[") + g.section + "]\r\n" + f->iniKey + "=" + text + "\r\n");
                ImageSettings defaults;
                void* got = f->ref(g.in(s));
                void* def = f->ref(g.in(defaults));
                const bool first = !list || f == g.fields->begin() || std::string(f[-1].iniKey ? f[-1].iniKey : "") != f->iniKey;
                const double want = text[0] == 'a' ? (list ? -1 : 0) : (list && !first ? -1 : 12);
                const double value = f->type == FieldType::kReal ? *static_cast<double*>(got)
                                     : f->type == FieldType::kColor ? static_cast<double>(*static_cast<uint32_t*>(got))
                                                                    : *static_cast<int*>(got);
                const double fallback = f->type == FieldType::kReal ? *static_cast<double*>(def)
                                        : f->type == FieldType::kColor ? static_cast<double>(*static_cast<uint32_t*>(def))
                                                                       : *static_cast<int*>(def);
                EXPECT_EQ(value, want < 0 ? fallback : want) << text;
            }
        }
    }
}

TEST_F(SettingsTest, WrittenTextOfSingleKeys)
{
    struct Case {
        const char* key;
        void (*set)(ImageSettings&);
        const char* text;
    } cases[] = {
        {"IMG_GAMMA", [](ImageSettings& s) { s.gamma.value = 1234567.0000004; }, "1234567.000000"},
        {"IMG_AFANGLE", [](ImageSettings& s) { s.affine.angle = -0.06; }, "-0.1"},
        {"IMG_AFZOOM", [](ImageSettings& s) { s.affine.zoomX = 0.96; s.affine.zoomY = 3; }, "1.0,3.0"},
        {"IMG_MINFFT", [](ImageSettings& s) { s.fft.low = 0.1; }, "0.10"},
        {"IMG_MCOLOR", [](ImageSettings& s) { s.mouseColor = 0x00FFFFFF; }, "16777215"},
        {"IMG_RANGE", [](ImageSettings& s) { s.range = {-1, 0, 65535, 7}; }, "-1,0,65535,7"},
        {"IMG_CONVVAL", [](ImageSettings& s) { s.convolution.mode = 0; s.convolution.kernelFile = "/k/a b.knl"; }, "/k/a b.knl"},
        // A struct whose array does not match its mode still writes the mode's count.
        {"IMG_CONVVAL", [](ImageSettings& s) { s.convolution.mode = 3; s.convolution.values = {2}; },
         "2.000000,0.000000,0.000000,0.000000,0.000000,0.000000,0.000000,0.000000,0.000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " -> " + c.text);
        ImageSettings s;
        c.set(s);
        EXPECT_EQ(SavedValue(s, c.key), c.text);
    }
}

TEST_F(SettingsTest, ModeFiveWritesTwentyFiveCoefficientsWithSixDecimals)
{
    ImageSettings s;
    s.convolution.mode = 5;
    s.convolution.values.clear();
    std::string expected;
    for (int i = 0; i < 25; ++i) {
        s.convolution.values.push_back(i / 8.0 - 1);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%.6f", i ? "," : "", i / 8.0 - 1);
        expected += buf;
    }
    EXPECT_EQ(SavedValue(s, "IMG_CONVVAL"), expected);
    EXPECT_EQ(LoadImageSettings(Ini()).convolution.values, s.convolution.values);
}

TEST_F(SettingsTest, UnknownConvolutionModeLeavesTheStoredValue)
{
    WriteText(Path(), "[IMGSET]\r\nIMG_CONVVAL=/k/old.knl\r\n");
    ImageSettings s;
    s.convolution.mode = 7;
    IniFile ini = Ini();
    ASSERT_TRUE(SaveImageSettings(ini, s));
    EXPECT_EQ(ini.GetString("IMGSET", "IMG_CONVVAL", ""), "/k/old.knl");
    const ImageSettings back = LoadImageSettings(ini);
    EXPECT_EQ(back.convolution.mode, 7);
    EXPECT_TRUE(back.convolution.values.empty());
    EXPECT_EQ(back.convolution.kernelFile, "");
}

TEST_F(SettingsTest, ListsStoppingEarlyKeepTheKeysDefaults)
{
    struct Case {
        const char* line;
        ProcessingRange range;
        int m, n;
    } cases[] = {
        {"IMG_RANGE=10,20,109,219", {10, 20, 109, 219}, 3, 3},
        {"IMG_RANGE=1,2", {1, 2, 0, 0}, 3, 3},
        {"IMG_RANGE=abc", {0, 0, 0, 0}, 3, 3},
        {"IMG_RANGE= 5, 6,\t7, 8junk", {5, 6, 7, 8}, 3, 3},
        {"IMG_RANGE=5 ,6,7,8", {5, 0, 0, 0}, 3, 3},  // a blank before the comma ends the scan
        {"IMG_RANGE=5;6;7;8", {5, 0, 0, 0}, 3, 3},
        {"IMG_RANGE=1.9,2,3,4", {1, 0, 0, 0}, 3, 3},
        {"IMG_RANGE=", {0, 0, 0, 0}, 3, 3},
        {"IMG_CONVMN=7", {0, 0, 0, 0}, 7, 3},
        {"IMG_CONVMN=,9", {0, 0, 0, 0}, 3, 3},
        {"IMG_CONVMN=9,-1,4", {0, 0, 0, 0}, 9, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ImageSettings s = LoadFrom(std::string("[IMGSET]\r\n") + c.line + "\r\n");
        EXPECT_EQ(s.range, c.range);
        EXPECT_EQ(s.displayRange, c.range);  // the one key fills both rectangles
        EXPECT_EQ(s.convolution.m, c.m);
        EXPECT_EQ(s.convolution.n, c.n);
    }
}

TEST_F(SettingsTest, RealsParseLeadingNumber)
{
    struct Case {
        const char* line;
        double contrast, centerX, centerY;
    } cases[] = {
        {"IMG_CONTRAST=2.25", 2.25, 0, 0},
        {"IMG_CONTRAST=2.25xyz", 2.25, 0, 0},
        {"IMG_CONTRAST=abc", 0, 0, 0},  // present but not a number: 0, not the default
        {"IMG_CONTRAST=", 0, 0, 0},
        {"IMG_CONTRAST=2,5", 2, 0, 0},
        {"IMG_CONTRAST=-1e2", -100, 0, 0},
        {"IMG_AFCENTER=1.5", 1, 1.5, 0},
        {"IMG_AFCENTER=1.5,-2.5", 1, 1.5, -2.5},
        {"IMG_AFCENTER=x,2", 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ImageSettings s = LoadFrom(std::string("[imgset]\r\n") + c.line + "\r\n");
        EXPECT_EQ(s.contrast.factor, c.contrast);
        EXPECT_EQ(s.affine.centerX, c.centerX);
        EXPECT_EQ(s.affine.centerY, c.centerY);
    }
}

TEST_F(SettingsTest, ModeReadFirstDecidesTheConvolutionValue)
{
    struct Case {
        const char* lines;
        std::vector<double> values;
        const char* kernelFile;
    } cases[] = {
        {"IMG_CONVMODE=3\r\nIMG_CONVVAL=1,2,3,4,5,6,7,8,9", {1, 2, 3, 4, 5, 6, 7, 8, 9}, ""},
        {"IMG_CONVMODE=3\r\nIMG_CONVVAL=1,2,3", {1, 2, 3, 0, 0, 0, 0, 0, 0}, ""},
        {"IMG_CONVMODE=3\r\nIMG_CONVVAL=1,2,3,4,5,6,7,8,9,10,11", {1, 2, 3, 4, 5, 6, 7, 8, 9}, ""},
        {"IMG_CONVMODE=5\r\nIMG_CONVVAL=1,2,3,4,5,6,7,8,9",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"IMG_CONVMODE=5", std::vector<double>(25, 0.0), ""},
        {"IMG_CONVMODE=0\r\nIMG_CONVVAL=/k/my kernel.knl", {}, "/k/my"},
        {"IMG_CONVMODE=0\r\nIMG_CONVVAL=/k/tab\there.knl", {}, "/k/tab"},
        {"IMG_CONVMODE=0\r\nIMG_CONVVAL=\x83\x4A\x81\x5B\x83\x6C\x83\x8B.knl", {}, "カーネル.knl"},
        {"IMG_CONVMODE=0\r\nIMG_CONVVAL=", {}, ""},
        {"IMG_CONVMODE=0", {}, "0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0,0.0"},  // the key's default text
        {"IMG_CONVMODE=4\r\nIMG_CONVVAL=1,2,3", {}, ""},
        {"IMG_CONVVAL=1,2,3,4,5,6,7,8,9\r\nIMG_CONVMODE=abc", {}, "1,2,3,4,5,6,7,8,9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        const ImageSettings s = LoadFrom(std::string("[IMGSET]\r\n") + c.lines + "\r\n");
        EXPECT_EQ(s.convolution.values, c.values);
        EXPECT_EQ(s.convolution.kernelFile, c.kernelFile);
    }
}

TEST_F(SettingsTest, OverlongPathsAreCutTo259BytesOfCp932)
{
    const std::string kanji = "\x92\x6C";  // 値
    struct Case {
        std::string cp932;
        size_t keptBytes;
    } cases[] = {
        {std::string(300, 'a'), 259},
        {std::string(259, 'a'), 259},
        {"ab" + [&] { std::string k; for (int i = 0; i < 200; ++i) k += kanji; return k; }(), 258},
        {"a" + [&] { std::string k; for (int i = 0; i < 200; ++i) k += kanji; return k; }(), 259},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keptBytes);
        const ImageSettings s = LoadFrom("[IMGSET]\r\nIMG_CONVMODE=0\r\nIMG_CONVVAL=" + c.cp932 +
                                         "\r\nIMG_MASKFILE=" + c.cp932 + "\r\n");
        const std::string kept = Cp932ToUtf8(c.cp932.substr(0, c.keptBytes));
        EXPECT_EQ(s.convolution.kernelFile, kept);
        EXPECT_EQ(s.fft.maskFile, kept);

        // A path set in the struct that is too long for the file is cut the same way.
        ImageSettings longer;
        longer.convolution.mode = 0;
        longer.convolution.kernelFile = longer.fft.maskFile = Cp932ToUtf8(c.cp932);
        SavedText(longer);
        EXPECT_EQ(Ini().GetString("IMGSET", "IMG_CONVVAL", ""), c.cp932.substr(0, c.keptBytes));
        EXPECT_EQ(Ini().GetString("IMGSET", "IMG_MASKFILE", ""), c.cp932.substr(0, c.keptBytes));
    }
}

TEST_F(SettingsTest, SaveKeepsReadOnlyKeysAndOtherSections)
{
    const std::string before =
        "[WINDOW]\r\nX=1\r\nY=2\r\nCX=3\r\nCY=4\r\nMAXIMIZED=0\r\n"
        "[IMGSET]\r\nIMG_FFTTHD=2\r\n; tuned by hand\r\n"
        "[CAMERA]\r\nCAMERA_USE=1\r\n";
    WriteText(Path(), before);
    ImageSettings s;
    s.fftThreads = 5;
    s.cameraUse = 0;
    IniFile ini = Ini();
    ASSERT_TRUE(SaveImageSettings(ini, s));
    const std::string after = ReadText(Path());
    EXPECT_EQ(after.substr(0, after.find("IMG_FFTTHD=2\r\n") + 14),
              "[WINDOW]\r\nX=1\r\nY=2\r\nCX=3\r\nCY=4\r\nMAXIMIZED=0\r\n[IMGSET]\r\nIMG_FFTTHD=2\r\n");
    EXPECT_NE(after.find("IMG_MASKFILE=\r\n; tuned by hand\r\n[CAMERA]\r\nCAMERA_USE=1\r\n"), std::string::npos);
    const ImageSettings back = LoadImageSettings(ini);
    EXPECT_EQ(back.fftThreads, 2);
    EXPECT_EQ(back.cameraUse, 1);
}

TEST_F(SettingsTest, NumbersIgnoreTheProcessLocale)
{
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ImageSettings s;
    s.contrast.factor = 1.5;
    s.affine.angle = 12.34;
    s.fft.high = 0.5;
    s.convolution.values[4] = -0.25;
    const std::string contrast = SavedValue(s, "IMG_CONTRAST");
    const std::string angle = Ini().GetString("IMGSET", "IMG_AFANGLE", "");
    const std::string high = Ini().GetString("IMGSET", "IMG_MAXFFT", "");
    const ImageSettings back = LoadImageSettings(Ini());
    const ImageSettings parsed = LoadFrom("[IMGSET]\r\nIMG_GAMMA=2.25\r\nIMG_AFPOS=0.5,-1.5\r\n");
    std::setlocale(LC_NUMERIC, previous.c_str());

    EXPECT_EQ(contrast, "1.500000");
    EXPECT_EQ(angle, "12.3");
    EXPECT_EQ(high, "0.50");
    EXPECT_EQ(back.contrast.factor, 1.5);
    EXPECT_EQ(back.convolution.values[4], -0.25);
    EXPECT_EQ(parsed.gamma.value, 2.25);
    EXPECT_EQ(parsed.affine.shiftX, 0.5);
    EXPECT_EQ(parsed.affine.shiftY, -1.5);
}

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeDirectory(dir_ / "bin"));
        ASSERT_TRUE(MakeDirectory(dir_ / "env"));
    }
    std::string IniPath() const { return dir_ / "env/Lumadrift.ini"; }

    TempDir dir_;
};

TEST_F(PlacementTest, ReadsWindowSectionWhenTheLayoutIsPresent)
{
    WriteText(IniPath(), "[window]\r\nx=-8\r\nY=30\r\nCX=1024\r\nMAXIMIZED=1\r\n");
    const FramePlacement p = LoadPlacement(dir_ / "bin");
    EXPECT_EQ(p.layoutState, 0);
    EXPECT_EQ(p.iniPath, dir_.path() + "/bin/../env/Lumadrift.ini");
    EXPECT_EQ(p.x, -8);
    EXPECT_EQ(p.y, 30);
    EXPECT_EQ(p.width, 1024);
    EXPECT_EQ(p.height, 480);
    EXPECT_EQ(p.maximized, 1);
}

TEST_F(PlacementTest, WrongLayoutKeepsDefaultsAndWritesNothing)
{
    ASSERT_TRUE(MakeDirectory(dir_ / "bin2"));
    WriteText(dir_ / "bin2/../env/Lumadrift.ini", "[WINDOW]\r\nX=99\r\n");
    FramePlacement p = LoadPlacement(dir_ / "bin2");
    EXPECT_EQ(p.layoutState, -1);
    EXPECT_EQ(p.iniPath, "");
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
    EXPECT_EQ(p.maximized, 0);
    p.x = 5;
    EXPECT_FALSE(SavePlacement(p));
    EXPECT_EQ(ReadText(IniPath()), "[WINDOW]\r\nX=99\r\n");
}

TEST_F(PlacementTest, SaveGoldenBytesAndReload)
{
    WriteText(IniPath(), "[IMGSET]\r\nIMG_PROFILE=1\r\n");
    FramePlacement p = LoadPlacement(dir_ / "bin");
    p.x = 100;
    p.y = -20;
    p.width = 800;
    p.height = 600;
    p.maximized = 1;
    ASSERT_TRUE(SavePlacement(p));
    EXPECT_EQ(ReadText(IniPath()),
              "[IMGSET]\r\nIMG_PROFILE=1\r\n"
              "[WINDOW]\r\nX=100\r\nY=-20\r\nCX=800\r\nCY=600\r\nMAXIMIZED=1\r\n");
    const FramePlacement back = LoadPlacement(dir_ / "bin");
    EXPECT_EQ(back.x, 100);
    EXPECT_EQ(back.y, -20);
    EXPECT_EQ(back.width, 800);
    EXPECT_EQ(back.height, 600);
    EXPECT_EQ(back.maximized, 1);
}

}  // namespace
}  // namespace lumadrift
