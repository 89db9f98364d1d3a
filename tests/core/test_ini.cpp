#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "core/ini_file.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using test::ReadText;
using test::TempDir;
using test::WriteText;

class IniTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_ / "Lumadrift.ini"; }
    IniFile Ini() const { return IniFile(Path()); }
    IniFile WithText(const std::string& text) const
    {
        WriteText(Path(), text);
        return Ini();
    }

    TempDir dir_;
};

TEST_F(IniTest, FreshFileGoldenBytes)
{
    IniFile ini = Ini();
    ASSERT_TRUE(ini.WriteString("IMGSET", "IMG_RANGE", "10,20,109,219"));
    ASSERT_TRUE(ini.WriteStrings("WINDOW", {{"X", "5"}, {"Y", "-7"}}));
    ASSERT_TRUE(ini.WriteString("IMGSET", "IMG_MASKFILE", "/home/u/\x83\x7D\x83\x58\x83\x4E.msk"));
    ASSERT_TRUE(ini.WriteString("window", "x", "6"));
    EXPECT_EQ(ReadText(Path()),
              "[IMGSET]\r\n"
              "IMG_RANGE=10,20,109,219\r\n"
              "IMG_MASKFILE=/home/u/\x83\x7D\x83\x58\x83\x4E.msk\r\n"
              "[WINDOW]\r\n"
              "X=6\r\n"
              "Y=-7\r\n");
}

TEST_F(IniTest, RewriteKeepsEveryOtherLineByteForByte)
{
    const std::string before =
        "; settings of the workbench\r\n"
        "stray=before any section\r\n"
        "\r\n"
        "[Other]\n"                      // LF only, kept as it is
        "Alpha = 1 ; not a comment\n"
        "no equals sign here\r\n"
        "[IMGSET]\r\n"
        "  Img_Contrast  =  0.5  \r\n"
        "IMG_GAMMA=2.0\r\n"
        "; trailing comment of IMGSET\r\n"
        "\r\n"
        "[CAMERA]\r\n"
        "CAMERA_USE=1";                  // no final line break
    IniFile ini = WithText(before);
    ASSERT_TRUE(ini.WriteString("imgset", "IMG_CONTRAST", "1.500000"));
    EXPECT_EQ(ReadText(Path()),
              "; settings of the workbench\r\n"
              "stray=before any section\r\n"
              "\r\n"
              "[Other]\n"
              "Alpha = 1 ; not a comment\n"
              "no equals sign here\r\n"
              "[IMGSET]\r\n"
              "Img_Contrast=1.500000\r\n"  // the file's spelling of the key survives
              "IMG_GAMMA=2.0\r\n"
              "; trailing comment of IMGSET\r\n"
              "\r\n"
              "[CAMERA]\r\n"
              "CAMERA_USE=1");
}

TEST_F(IniTest, NewKeyGoesAfterTheSectionsLastKeyLine)
{
    IniFile ini = WithText(
        "[IMGSET]\r\n"
        "IMG_GAMMA=2.0\r\n"
        "; comment\r\n"
        "\r\n"
        "[Empty]\r\n"
        "\r\n"
        "[Last]\r\n"
        "K=v");
    ASSERT_TRUE(ini.WriteStrings("IMGSET", {{"IMG_A", "1"}, {"IMG_B", "2"}}));
    ASSERT_TRUE(ini.WriteString("EMPTY", "E", "3"));
    ASSERT_TRUE(ini.WriteString("Last", "L", "4"));
    ASSERT_TRUE(ini.WriteString("New", "N", "5"));
    EXPECT_EQ(ReadText(Path()),
              "[IMGSET]\r\n"
              "IMG_GAMMA=2.0\r\n"
              "IMG_A=1\r\n"
              "IMG_B=2\r\n"
              "; comment\r\n"
              "\r\n"
              "[Empty]\r\n"
              "E=3\r\n"
              "\r\n"
              "[Last]\r\n"
              "K=v\r\n"
              "L=4\r\n"
              "[New]\r\n"
              "N=5\r\n");
}

TEST_F(IniTest, IntegerReadsLeadingNumber)
{
    IniFile ini = WithText(
        "[S]\r\n"
        "a=12x\r\n"
        "b=abc\r\n"
        "c=   -5\r\n"
        "d=+7\r\n"
        "e=\r\n"
        "f=\"42\"\r\n"
        "g=99999999999\r\n"
        "h=-99999999999\r\n"
        "i=0x1A\r\n"
        "j=1.9\r\n"
        "k=- 3\r\n");
    struct Case {
        const char* key;
        int expected;
    } cases[] = {
        {"a", 12}, {"b", 0}, {"c", -5}, {"d", 7},
        {"e", 77},  // empty value: the default, as for a missing key
        {"f", 42}, {"g", INT_MAX}, {"h", INT_MIN}, {"i", 0}, {"j", 1}, {"k", 0},
        {"missing", 77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(ini.GetInt("S", c.key, 77), c.expected);
    }
}

TEST_F(IniTest, LookupsIgnoreAsciiLetterCase)
{
    IniFile ini = WithText("[ImgSet]\r\nimg_Range=1,2,3,4\r\n[ \x83\x5D ]\r\n\x83\x41=kana\r\n");
    for (const char* section : {"IMGSET", "imgset", "ImgSet"})
        for (const char* key : {"IMG_RANGE", "img_range", "Img_Range"}) {
            SCOPED_TRACE(std::string(section) + "/" + key);
            EXPECT_EQ(ini.GetString(section, key, "none"), "1,2,3,4");
        }
    // 0x5D (']') as a second byte does not end the section name, and second
    // bytes 0x41 / 0x61 are different characters, not different letter cases.
    EXPECT_EQ(ini.GetString("\x83\x5D", "\x83\x41", "none"), "kana");
    EXPECT_EQ(ini.GetString("\x83\x5D", "\x83\x61", "none"), "none");
}

TEST_F(IniTest, TextReadTrimsUnquotesAndLimitsLength)
{
    IniFile ini = WithText(
        "[S]\r\n"
        "blank=  padded value \t\r\n"
        "quoted=\" inside \"\r\n"
        "half=\"open\r\n"
        "empty=\r\n"
        "kanji=\x92\x6C\x92\x6C\x92\x6C\r\n"
        "dup=first\r\n"
        "dup=second\r\n"
        "[S]\r\n"
        "late=in the second S\r\n");
    EXPECT_EQ(ini.GetString("S", "blank", "d"), "padded value");
    EXPECT_EQ(ini.GetString("S", "quoted", "d"), " inside ");
    EXPECT_EQ(ini.GetString("S", "half", "d"), "\"open");
    EXPECT_EQ(ini.GetString("S", "empty", "d"), "");
    EXPECT_EQ(ini.GetString("S", "kanji", "d", 5), "\x92\x6C\x92\x6C");
    EXPECT_EQ(ini.GetString("S", "dup", "d"), "first");
    EXPECT_EQ(ini.GetString("S", "late", "d"), "d");  // only the first S counts
    EXPECT_EQ(ini.GetString("S", "missing", "default text", 7), "default");
    EXPECT_EQ(ini.GetString("T", "blank", "d"), "d");
    EXPECT_EQ(IniFile(dir_ / "absent.ini").GetString("S", "blank", "d"), "d");
    EXPECT_EQ(IniFile().GetInt("S", "blank", 9), 9);
}

TEST_F(IniTest, DuplicateKeyUpdatesTheFirstOnly)
{
    IniFile ini = WithText("[S]\r\ndup=first\r\ndup=second\r\n");
    ASSERT_TRUE(ini.WriteString("S", "DUP", "new"));
    EXPECT_EQ(ReadText(Path()), "[S]\r\ndup=new\r\ndup=second\r\n");
}

TEST_F(IniTest, RefusedNamesLeaveTheFileAlone)
{
    const std::string before = "[S]\r\nk=v\r\n";
    IniFile ini = WithText(before);
    EXPECT_FALSE(ini.WriteString("", "k", "x"));
    EXPECT_FALSE(ini.WriteString("S]", "k", "x"));
    EXPECT_FALSE(ini.WriteString("S", "", "x"));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "x"));
    EXPECT_FALSE(ini.WriteString("S", "a\nb", "x"));
    EXPECT_FALSE(ini.WriteString("S", "[T]", "x"));
    EXPECT_FALSE(IniFile().WriteString("S", "k", "x"));
    EXPECT_FALSE(IniFile(dir_ / "no/such/dir.ini").WriteString("S", "k", "x"));
    EXPECT_EQ(ReadText(Path()), before);
}

TEST_F(IniTest, LineBreakInValueCannotInjectKeys)
{
    IniFile ini = WithText("[S]\r\n");
    ASSERT_TRUE(ini.WriteString("S", "k", "one\r\n[T]\r\nx=1"));
    EXPECT_EQ(ReadText(Path()), "[S]\r\nk=one\r\n");
}

TEST_F(IniTest, GarbageFileReadsAndRewritesWithoutHarm)
{
    std::string garbage;
    garbage += std::string("\x01\x02\xFF\xFE[\x00\x80]\r\x00", 10);
    garbage += "no section=yet\n";
    garbage += "[unterminated\n";
    garbage += "x=in unterminated\n";
    garbage += "[" + std::string(70000, 'Z') + "]\r\n";
    garbage += "long=" + std::string(100000, 'L') + "\r\n";
    garbage += "\x82";  // a lead byte with nothing after it
    garbage += "\r\r\n=no key\r\n[]\r\n==\r\n";
    IniFile ini = WithText(garbage);

    EXPECT_EQ(ini.GetString("unterminated", "x", "d"), "in unterminated");
    EXPECT_EQ(ini.GetString(std::string(70000, 'z'), "long", "d").size(), 511u);
    EXPECT_EQ(ini.GetInt("unterminated", "no section", 3), 3);  // keys before a section belong to none
    EXPECT_EQ(ini.GetInt("IMGSET", "IMG_RANGE", 4), 4);

    ASSERT_TRUE(ini.WriteString("IMGSET", "IMG_PROFILE", "1"));
    const std::string after = ReadText(Path());
    ASSERT_GE(after.size(), garbage.size());
    EXPECT_TRUE(after.compare(0, garbage.size(), garbage) == 0) << "garbage was not kept byte for byte";
    EXPECT_EQ(after.substr(garbage.size()), "[IMGSET]\r\nIMG_PROFILE=1\r\n");
    EXPECT_EQ(ini.GetInt("imgset", "img_profile", 0), 1);
}

TEST_F(IniTest, RewriteLeavesNoTemporaryFile)
{
    IniFile ini = WithText("[S]\r\n");
    ASSERT_TRUE(ini.WriteString("S", "k", "v"));
    ASSERT_TRUE(ini.WriteString("S", "k", "w"));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace lumadrift
