#include "core/plane_bank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/image_model.h"
#include "core/memory.h"

namespace lumadrift {
namespace {

using Bytes = std::vector<uint8_t>;

void FillPattern(PlaneBank& bank, int index, uint8_t seed)
{
    uint8_t* p = bank.GetPlane(index);
    const size_t n = static_cast<size_t>(bank.width()) * bank.height();
    for (size_t i = 0; i < n; ++i)
        p[i] = static_cast<uint8_t>(seed + i);
}

Bytes PlaneBytes(const PlaneBank& bank, int index)
{
    const uint8_t* p = bank.GetPlane(index);
    return Bytes(p, p + static_cast<size_t>(bank.width()) * bank.height());
}

TEST(PlaneBank, CountAboveCapacityFailsAndKeepsTheBank)
{
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(5, 7, 3), 0);
    FillPattern(bank, 2, 40);
    bank.SelectPlanes(2, 4);
    const Bytes before = PlaneBytes(bank, 2);

    EXPECT_EQ(bank.CreatePlaneBank(31, 9, 9), -1);
    const int expected[] = {7, 3, 0, 0, 7, 3, 5, 2, 4};
    for (int item = kBankWidth; item <= kBankDestination; ++item) {
        SCOPED_TRACE("item " + std::to_string(item));
        EXPECT_EQ(bank.QueryPlaneBank(item), expected[item - 1]);
    }
    EXPECT_EQ(PlaneBytes(bank, 2), before);

    EXPECT_EQ(bank.CreatePlaneBank(30, 2, 2), 0);
    EXPECT_EQ(bank.QueryPlaneBank(kBankCount), 30);
    EXPECT_NE(bank.GetPlane(29), nullptr);
    EXPECT_EQ(bank.GetPlane(30), nullptr);
    EXPECT_EQ(bank.GetPlane(-1), nullptr);
}

TEST(PlaneBank, EmptyBankAnswersMinusOneAndDoesNothing)
{
    PlaneBank bank;
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "never created" : "released");
        for (int item = kBankWidth; item <= kBankDestination; ++item)
            EXPECT_EQ(bank.QueryPlaneBank(item), -1) << "item " << item;
        bank.SelectPlanes(3, 4);
        EXPECT_EQ(bank.source(), 0);
        EXPECT_EQ(bank.destination(), 0);
        EXPECT_EQ(bank.SourcePlane(), nullptr);
        EXPECT_EQ(bank.DestinationPlane(), nullptr);
        bank.CopyRangeToDestination();
        bank.FillRange(9);
        uint8_t buffer[4] = {7, 7, 7, 7};
        int length = 4;
        bank.ReadRangeRow(0, buffer, length);
        EXPECT_EQ(length, 0);
        EXPECT_EQ(buffer[0], 0);
        length = 4;
        bank.WriteRangeRow(0, buffer, length);
        EXPECT_EQ(length, 0);

        ASSERT_EQ(bank.CreatePlaneBank(2, 4, 4), 0);
        bank.ReleasePlaneBank();
    }
}

TEST(PlaneBank, ReadRangeRowRefusesShortBuffersAndOutsideRows)
{
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(2, 5, 3), 0);
    FillPattern(bank, 0, 100);
    bank.SelectPlanes(0, 1);
    struct Row { const char* name; int y; int length; int expectedLength; };
    const Row rows[] = {
        {"short by one", 1, 4, 0},
        {"zero length", 1, 0, 0},
        {"row -1", -1, 5, 0},
        {"row = height", 3, 5, 0},
        {"exact", 2, 5, 5},
        {"longer buffer", 0, 9, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        uint8_t buffer[9];
        std::memset(buffer, 0xEE, sizeof buffer);
        int length = r.length;
        bank.ReadRangeRow(r.y, buffer, length);
        EXPECT_EQ(length, r.expectedLength);
        if (r.expectedLength == 0) {
            if (r.length > 0) {
                EXPECT_EQ(buffer[0], 0);
            }
            continue;
        }
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(buffer[x], static_cast<uint8_t>(100 + r.y * 5 + x));
        EXPECT_EQ(buffer[5], 0xEE);
    }
}

TEST(PlaneBank, WriteRangeRowClearsTheRestOfAShortRow)
{
    struct Row { const char* name; int y; int length; int expectedLength; Bytes expectedRow; };
    const Row rows[] = {
        {"short", 1, 2, 2, {1, 2, 0, 0, 0}},
        {"empty", 1, 0, 0, {0, 0, 0, 0, 0}},
        {"exact", 1, 5, 5, {1, 2, 3, 4, 5}},
        {"longer", 1, 7, 5, {1, 2, 3, 4, 5}},
        {"outside", 3, 5, 0, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        PlaneBank bank;
        ASSERT_EQ(bank.CreatePlaneBank(2, 5, 3), 0);
        bank.SelectPlanes(0, 1);
        std::memset(bank.GetPlane(1), 0xAA, 15);
        const uint8_t buffer[7] = {1, 2, 3, 4, 5, 6, 7};
        int length = r.length;
        bank.WriteRangeRow(r.y, buffer, length);
        EXPECT_EQ(length, r.expectedLength);
        const Bytes plane = PlaneBytes(bank, 1);
        EXPECT_EQ(Bytes(plane.begin() + 5, plane.begin() + 10), r.expectedRow);
        // Neighbouring rows are never touched.
        EXPECT_EQ(Bytes(plane.begin(), plane.begin() + 5), Bytes(5, 0xAA));
        EXPECT_EQ(Bytes(plane.begin() + 10, plane.end()), Bytes(5, 0xAA));
    }
}

TEST(PlaneBank, CopyAndFillCoverTheWholeRange)
{
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(3, 3, 4), 0);
    FillPattern(bank, 0, 1);
    FillPattern(bank, 2, 200);
    bank.SelectPlanes(0, 2);
    bank.CopyRangeToDestination();
    EXPECT_EQ(PlaneBytes(bank, 2), PlaneBytes(bank, 0));
    bank.FillRange(0x3C);
    EXPECT_EQ(PlaneBytes(bank, 2), Bytes(12, 0x3C));
    EXPECT_NE(PlaneBytes(bank, 0), Bytes(12, 0x3C));
}

TEST(ColorBank, LimitsAndExtraction)
{
    ColorBank bank;
    EXPECT_EQ(bank.CreateColorBank(11, 2, 2), -1);
    EXPECT_EQ(bank.QueryColorBank(kBankCount), -1);
    ASSERT_EQ(bank.CreateColorBank(2, 3, 1), 0);
    uint8_t* r = nullptr;
    uint8_t* g = nullptr;
    uint8_t* b = nullptr;
    bank.GetColorPlanes(1, &r, &g, &b);
    ASSERT_TRUE(r && g && b);
    const uint8_t red[] = {0, 1, 255}, green[] = {10, 20, 30}, blue[] = {128, 127, 7};
    std::memcpy(r, red, 3);
    std::memcpy(g, green, 3);
    std::memcpy(b, blue, 3);
    uint8_t* untouched = reinterpret_cast<uint8_t*>(&bank);
    bank.GetColorPlanes(2, &untouched, nullptr, nullptr);
    EXPECT_EQ(untouched, reinterpret_cast<uint8_t*>(&bank));

    bank.SelectColorSlots(0, 1);
    struct Row { int channel; bool invert; Bytes expected; };
    const Row rows[] = {
        {0, false, {0, 1, 255}}, {0, true, {255, 254, 0}}, {1, false, {10, 20, 30}}, {2, true, {127, 128, 248}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("channel " + std::to_string(row.channel) + (row.invert ? " inverted" : ""));
        Bytes gray(3, 0x99);
        bank.ExtractColorPlane(row.channel, gray.data(), row.invert);
        EXPECT_EQ(gray, row.expected);
    }
}

TEST(ImageModel, GrayHeaderForFiveByThree)
{
    const GrayHeader h = MakeGrayHeader(5, 3);
    EXPECT_EQ(h.fileHeader[0], 'B');
    EXPECT_EQ(h.fileHeader[1], 'M');
    EXPECT_EQ(GetLe32(h.fileHeader.data() + 2), 1102u);
    EXPECT_EQ(GetLe32(h.fileHeader.data() + 6), 0u);
    EXPECT_EQ(GetLe32(h.fileHeader.data() + 10), 1078u);
    EXPECT_EQ(h.stride(), 8);
    ASSERT_EQ(h.colorTable.size(), 1024u);
    for (int i : {0, 1, 128, 255}) {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(h.colorTable[4 * i + 0], i);
        EXPECT_EQ(h.colorTable[4 * i + 1], i);
        EXPECT_EQ(h.colorTable[4 * i + 2], i);
        EXPECT_EQ(h.colorTable[4 * i + 3], 0);
    }
}

TEST(ImageModel, RingWrapsAfterTheLastPlane)
{
    const int expected[kRingSize] = {1, 2, 3, 4, 0};
    for (int current = 0; current < kRingSize; ++current)
        EXPECT_EQ(NextRingPlane(current), expected[current]) << "current " << current;
}

TEST(ImageModel, RangeInsideImage)
{
    struct Row { const char* name; ProcessingRange r; bool inside; };
    const Row rows[] = {
        {"whole image", {0, 0, 9, 5}, true},
        {"one pixel wider", {0, 0, 10, 5}, false},
        {"one pixel taller", {0, 0, 9, 6}, false},
        {"left -1", {-1, 0, 9, 5}, false},
        {"top -1", {0, -1, 9, 5}, false},
        {"single corner pixel", {9, 5, 9, 5}, true},
        {"one-pixel-wide column", {3, 0, 3, 5}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(IsInsideImage(r.r, 10, 6), r.inside);
    }
    const ProcessingRange swapped = Normalized({9, 5, 0, 0});
    EXPECT_EQ(swapped, (ProcessingRange{0, 0, 9, 5}));
    EXPECT_EQ(swapped.width(), 10);
    EXPECT_EQ(swapped.height(), 6);
}

}  // namespace
}  // namespace lumadrift

namespace lumadrift {
namespace {

// A picture is taken only when eleven bytes a pixel fit what the system
// has; an unknown amount (0) refuses nothing.
TEST(PictureMemory, ElevenBytesAPixelMustFit)
{
    const struct {
        uint64_t pixels, available;
        bool fits;
    } rows[] = {
        {1, 11, true},
        {1, 10, false},
        {uint64_t{1} << 30, uint64_t{11} << 30, true},           // 32768 x 32768 in 11 GiB
        {uint64_t{1} << 30, (uint64_t{11} << 30) - 1, false},
        {uint64_t{1} << 30, 0, true},
        {0, 5, true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(PictureFits(r.pixels, r.available), r.fits) << r.pixels << " pixels in " << r.available;
    EXPECT_GT(AvailableMemory(), 0u);  // /proc/meminfo is there on Linux
}

// The pixel limit an open passes to the readers: the fixed limit, lowered
// to what eleven bytes a pixel of the available memory allow.
TEST(PictureMemory, PixelLimitFollowsTheAvailableMemory)
{
    constexpr int64_t kLimit = int64_t{1} << 30;
    const struct {
        uint64_t available;
        int64_t pixels;
    } rows[] = {
        {0, kLimit},                                  // unknown
        {10, 0},
        {11, 1},
        {(uint64_t{11} << 30) - 1, kLimit - 1},
        {uint64_t{11} << 30, kLimit},                 // 32768 x 32768
        {uint64_t{24} << 30, kLimit},
        {UINT64_MAX, kLimit},
    };
    for (const auto& r : rows)
        EXPECT_EQ(PixelsThatFit(kLimit, r.available), r.pixels) << r.available;
}

std::vector<const uint8_t*> Planes(const PlaneBank& bank)
{
    std::vector<const uint8_t*> p;
    for (int i = 0; i < bank.count(); ++i)
        p.push_back(bank.GetPlane(i));
    std::sort(p.begin(), p.end());
    return p;
}

// A bank freed and created again with the same size (the next acquisition,
// the next picture of a batch) gets its planes back; a new size frees what
// was kept instead of keeping it beside the new planes, and no more than
// kRecycledBuffers are ever kept.
TEST(PictureMemory, ReleasedPlanesComeBackOnlyForTheSameSize)
{
    ReleaseRecycledBuffers();
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(5, 64, 48), 0);
    const std::vector<const uint8_t*> first = Planes(bank);
    bank.ReleasePlaneBank();
    EXPECT_EQ(KeptBuffers().count, 5);
    EXPECT_EQ(KeptBuffers().bytes, 5u * 64 * 48);
    ASSERT_EQ(bank.CreatePlaneBank(5, 64, 48), 0);
    EXPECT_EQ(Planes(bank), first);
    EXPECT_EQ(KeptBuffers().count, 0);

    bank.ReleasePlaneBank();
    ASSERT_EQ(bank.CreatePlaneBank(2, 48, 64 + 1), 0);
    EXPECT_EQ(KeptBuffers().count, 0);

    ColorBank colours;
    ASSERT_EQ(colours.CreateColorBank(ColorBank::kCapacity, 8, 8), 0);
    colours.ReleaseColorBank();
    EXPECT_EQ(KeptBuffers().count, kRecycledBuffers);
    EXPECT_EQ(ReleaseRecycledBuffers(), size_t{kRecycledBuffers} * 64);
    EXPECT_EQ(KeptBuffers().count, 0);
}

}  // namespace
}  // namespace lumadrift
