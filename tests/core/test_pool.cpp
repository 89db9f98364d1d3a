#include <gtest/gtest.h>

#include "core/image_pool.h"
#include "core/picture_file.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

std::vector<uint8_t> Plane(int w, int h, int seed)
{
    std::vector<uint8_t> p(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<uint8_t>(seed + i);
    return p;
}

TEST(ImagePool, EntriesKeepInsertionOrderAndNamesNeedNotBeUnique)
{
    ImagePool pool;
    const GrayHeader h = MakeGrayHeader(3, 2);
    const auto p = Plane(3, 2, 0);
    pool.Add("a", 3, h, p.data());
    pool.Add("a", 4, h, p.data());
    ASSERT_EQ(pool.size(), 2);
    EXPECT_EQ(pool.Find(1)->state, 4);
    EXPECT_EQ(pool.Find(0)->state, 3);
    EXPECT_EQ(pool.Find(-5), pool.Find(0));  // 0 or less: the first entry
    EXPECT_EQ(pool.Find(2), nullptr);
    EXPECT_FALSE(pool.Unlink(2));
    EXPECT_TRUE(pool.Unlink(0));
    EXPECT_EQ(pool.Find(0)->state, 4);
    EXPECT_TRUE(pool.Unlink(-1));
    EXPECT_EQ(pool.size(), 0);
    EXPECT_FALSE(pool.Unlink(0));
}

TEST(ImagePool, PixelsAreStoredBottomUp)
{
    ImagePool pool;
    const auto p = Plane(3, 2, 10);  // rows {10,11,12}, {13,14,15}
    PoolEntry& e = pool.Add("x", 3, MakeGrayHeader(3, 2), p.data());
    EXPECT_EQ(e.pixels, (std::vector<uint8_t>{13, 14, 15, 10, 11, 12}));
}

TEST(ImagePool, SixByTwoFileBytes)
{
    ImagePool pool;
    const auto p = Plane(6, 2, 1);
    const PoolEntry& e = pool.Add("x", 3, MakeGrayHeader(6, 2), p.data());
    test::TempDir dir;
    ASSERT_EQ(WritePoolFile(dir / "p.bmp", e), 0);
    const auto f = test::ReadBytes(dir / "p.bmp");
    ASSERT_EQ(f.size(), 1094u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(GetLe32(&f[2]), 1094u);
    EXPECT_EQ(GetLe32(&f[10]), 1078u);
    EXPECT_EQ(GetLe32(&f[46]), 256u);
    EXPECT_EQ(f[54 + 4 * 200 + 0], 200);  // gray table entry 200
    const std::vector<uint8_t> rows(f.begin() + 1078, f.end());
    EXPECT_EQ(rows, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST(ImagePool, PngAndTiffFilesHoldTheSamePicture)
{
    ImagePool pool;
    const auto p = Plane(5, 3, 40);
    const PoolEntry& e = pool.Add("x", 3, MakeGrayHeader(5, 3), p.data());
    test::TempDir dir;
    LoadedBmp bmp;
    ASSERT_EQ(WritePoolFile(dir / "p.bmp", e), 0);
    ASSERT_EQ(ReadPictureFile(dir / "p.bmp", bmp), BmpError::kNone);
    const std::vector<uint8_t> rows(bmp.pixels(), bmp.pixels() + bmp.pixelBytes());
    for (const char* name : {"p.png", "p.TIF"}) {
        LoadedBmp other;
        ASSERT_EQ(WritePoolFile(dir / name, e), 0);
        const auto f = test::ReadBytes(dir / name);
        EXPECT_EQ(SniffPictureFormat(f.data(), f.size()), SaveFormatForPath(name));
        ASSERT_EQ(ReadPictureFile(dir / name, other), BmpError::kNone);
        EXPECT_EQ(std::vector<uint8_t>(other.pixels(), other.pixels() + other.pixelBytes()), rows) << name;
    }
}

TEST(ImagePool, UnwritableFileIsRefused)
{
    ImagePool pool;
    const auto p = Plane(2, 2, 0);
    const PoolEntry& e = pool.Add("x", 3, MakeGrayHeader(2, 2), p.data());
    EXPECT_EQ(WritePoolFile("/nonexistent-dir/p.bmp", e), -1);
}

TEST(ImagePool, LongNamesAreCutTo259Cp932Bytes)
{
    EXPECT_EQ(CutPoolName(std::string(300, 'n')), std::string(259, 'n'));
    // 130 two-byte characters are 260 bytes: one must go, not half of one.
    std::string kanji;
    for (int i = 0; i < 130; ++i)
        kanji += "画";
    const std::string cut = CutPoolName(kanji);
    EXPECT_EQ(cut.size(), 129u * 3u);  // UTF-8: three bytes a character
    EXPECT_EQ(CutPoolName("short"), "short");
}

}  // namespace
}  // namespace lumadrift
