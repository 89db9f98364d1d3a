#include "filters/labeling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <fstream>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "support/canvas.h"
#include "support/isa_levels.h"
#include "reference/first_difference.h"
#include "reference/labeling_ref.h"
#include "support/test_support.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<2, 1, 3, 2>;

// Draws a picture given as rows of '#' (255) and '.' (0) into the range.
Canvas FromPicture(const std::vector<std::string>& rows)
{
    Canvas c(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (int y = 0; y < c.range.h; ++y)
        for (int x = 0; x < c.range.w; ++x)
            c.in(x, y) = rows[y][x] == '#' ? 255 : 0;
    return c;
}

struct Labeled {
    LabelOutcome outcome;
    Canvas out;
};

Labeled LabelOf(const Canvas& in)
{
    Canvas out = in;
    for (uint8_t& p : out.px)
        p = 0x5A;  // anything outside the range must survive
    const LabelOutcome o = LabelKernel(in.px.data(), out.px.data(), in.stride, in.range);
    return {o, out};
}

// Checks the fast kernel against the literal steps on one source canvas.
void ExpectSameAsReference(const Canvas& in)
{
    Labeled fast = LabelOf(in);
    std::vector<uint8_t> want(in.px.size(), 0x5A);
    const ref::LabelResult r = ref::Label(in.px.data(), want.data(), in.stride, in.range);
    EXPECT_EQ(fast.outcome.count, r.count);
    EXPECT_EQ(fast.outcome.overflow, r.overflow);
    EXPECT_EQ(ref::FirstDifference(fast.out.px, want, in.stride), "");
}

struct ShapeCase {
    const char* name;
    std::vector<std::string> picture;
    int count;                       // K
    std::vector<std::string> labels;  // digits per pixel, '.' for 0
};

const ShapeCase kShapes[] = {
    {"DiagonalTouchIsOneObject", {"#..", ".#.", "..#"}, 2, {"1..", ".1.", "..1"}},
    {"AntiDiagonalTouchIsOneObject", {"..#", ".#.", "#.."}, 2, {"..1", ".1.", "1.."}},
    {"OneBlackPixelSeparates", {"#.#"}, 3, {"1.2"}},
    {"UShapeMergesAtTheBottom",
     {"#...#", "#...#", "#####"}, 2, {"1...1", "1...1", "11111"}},
    {"ArmsMergingUnderALowerLabel",
     {"..#.#", "#.#.#", "###.#", "#...#", "#####"}, 2,
     {"..1.1", "1.1.1", "111.1", "1...1", "11111"}},
    {"NumberedByFirstPixelInRasterOrder",
     {"......", "......", ".....#", "......", "......", "#.....", "#....."}, 3,
     {"......", "......", ".....1", "......", "......", "2.....", "2....."}},
    // The rightmost pixel of a row has no upper-right neighbour and the
    // leftmost no left one: nothing wraps around to the other edge.
    {"RightmostColumnTakesNoUpperRight", {"...", "#.#"}, 3, {"...", "1.2"}},
    {"NothingWrapsFromTheRightEdge", {"..#", "#..", "..."}, 3, {"..1", "2..", "..."}},
    {"AllBlack", {"....", "...."}, 1, {"....", "...."}},
    {"AllWhite", {"###", "###"}, 2, {"111", "111"}},
    {"SinglePixel", {"#"}, 2, {"1"}},
    {"SingleBlackPixel", {"."}, 1, {"."}},
    {"OneRow", {"##.#..##"}, 4, {"11.2..33"}},
    {"OneColumn", {"#", "#", ".", "#"}, 3, {"1", "1", ".", "2"}},
};

class LabelShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(LabelShapes, LabelsAndCount)
{
    const ShapeCase& c = GetParam();
    Canvas in = FromPicture(c.picture);
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.count, c.count);
    EXPECT_EQ(got.outcome.overflow, 0);
    for (int y = 0; y < in.range.h; ++y) {
        for (int x = 0; x < in.range.w; ++x) {
            const char ch = c.labels[y][x];
            const int want = ch == '.' ? 0 : ch - '0';
            ASSERT_EQ(got.out.in(x, y), want) << "at (" << x << ", " << y << ")";
        }
    }
    ExpectSameAsReference(in);
}

INSTANTIATE_TEST_SUITE_P(Shapes, LabelShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Label, GrayValuesBelow255AreBackground)
{
    Canvas in = FromPicture({"#.#", "...", "#.#"});
    in.in(1, 0) = 254;
    in.in(1, 1) = 1;
    in.in(1, 2) = 128;
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.count, 5);
    EXPECT_EQ(got.out.in(1, 0), 0);
    EXPECT_EQ(got.out.in(1, 1), 0);
    EXPECT_EQ(got.out.in(2, 2), 4);
}

TEST(Label, InPlaceGivesTheSameLabels)
{
    Canvas in(23, 17);
    std::mt19937 rng(7);
    for (int y = 0; y < in.range.h; ++y)
        for (int x = 0; x < in.range.w; ++x)
            in.in(x, y) = rng() % 3 == 0 ? 255 : 0;
    Labeled separate = LabelOf(in);
    Canvas same = in;
    const LabelOutcome o = LabelKernel(same.px.data(), same.px.data(), same.stride, same.range);
    EXPECT_EQ(o.count, separate.outcome.count);
    for (int y = 0; y < in.range.h; ++y)
        for (int x = 0; x < in.range.w; ++x)
            ASSERT_EQ(same.in(x, y), separate.out.in(x, y)) << "at (" << x << ", " << y << ")";
}

// Random binary and gray pictures of every awkward shape against the
// literal steps.
TEST(Label, MatchesReferenceOnRandomPictures)
{
    struct Size {
        int w, h;
    };
    // Rows wider than 64 pixels let runs cross the 64-pixel words the runs
    // are found in.
    std::vector<Size> sizes = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {17, 13}, {3, 64}, {64, 3}, {33, 31},
                               {65, 4}, {130, 5}, {200, 3}};
    std::mt19937 rng(12345);
    for (int i = 0; i < 40; ++i)
        sizes.push_back({1 + static_cast<int>(rng() % 40), 1 + static_cast<int>(rng() % 40)});
    const int densities[] = {2, 3, 5, 8};  // one pixel in n is an object... roughly
    for (const Size& s : sizes) {
        for (int d : densities) {
            Canvas in(s.w, s.h, static_cast<int>(rng() % 3), static_cast<int>(rng() % 3), 1, 1);
            for (uint8_t& p : in.px)
                p = static_cast<uint8_t>(rng() % d == 0 ? 255 : (rng() % 4 == 0 ? rng() % 255 : 0));
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " density 1/" << d);
            for (IsaLevel level : test::kIsaLevels) {
                if (!IsaAvailable(level))
                    continue;
                SCOPED_TRACE(IsaName(level));
                ScopedIsaCap cap(level);
                ExpectSameAsReference(in);
            }
        }
    }
    LUMADRIFT_SKIP_MISSING_ISA_LEVELS();
}

// n objects of one pixel each, on a grid with black between them.
Canvas Dots(int n, int perRow)
{
    const int rows = (n + perRow - 1) / perRow;
    Canvas c(perRow * 2, rows * 2);
    for (int i = 0; i < n; ++i)
        c.in((i % perRow) * 2, (i / perRow) * 2) = 255;
    return c;
}

TEST(Label, Exactly255ObjectsAreAllLabeledButFlagged)
{
    Canvas in = Dots(255, 20);
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.count, 256);
    EXPECT_EQ(got.outcome.overflow, 1);
    EXPECT_EQ(got.out.in((254 % 20) * 2, (254 / 20) * 2), 255);
    ExpectSameAsReference(in);
}

TEST(Label, Object256StaysBlack)
{
    Canvas in = Dots(256, 20);
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.count, 257);
    EXPECT_EQ(got.outcome.overflow, 1);
    EXPECT_EQ(got.out.in((254 % 20) * 2, (254 / 20) * 2), 255);
    EXPECT_EQ(got.out.in((255 % 20) * 2, (255 / 20) * 2), 0);
    ExpectSameAsReference(in);
}

// Each "V" takes two provisional labels that merge one row later, so 1500
// of them need 3000 provisional labels for 1500 objects: more than the table
// holds, yet every object must come out right.
TEST(Label, MoreProvisionalLabelsThanTheTableHolds)
{
    const int perRow = 50, bands = 30;
    Canvas in(perRow * 4, bands * 3);
    for (int b = 0; b < bands; ++b) {
        for (int i = 0; i < perRow; ++i) {
            in.in(i * 4, b * 3) = 255;
            in.in(i * 4 + 2, b * 3) = 255;
            in.in(i * 4 + 1, b * 3 + 1) = 255;
        }
    }
    std::vector<uint8_t> want(in.px.size());
    const ref::LabelResult r = ref::Label(in.px.data(), want.data(), in.stride, in.range);
    ASSERT_GT(r.provisional, 2047);
    EXPECT_EQ(r.count, 1501);
    ExpectSameAsReference(in);
}

// A comb whose teeth all join at the bottom: each row starts its teeth
// afresh, piling up provisional labels of one object.
TEST(Label, CombOfManyTeethIsOneObject)
{
    Canvas in(2 * 1200, 4);
    for (int x = 0; x < in.range.w; x += 2)
        for (int y = 0; y < 3; ++y)
            in.in(x, y) = 255;
    for (int x = 0; x < in.range.w; ++x)
        in.in(x, 3) = 255;
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.count, 2);
    EXPECT_EQ(got.outcome.overflow, 0);
    ExpectSameAsReference(in);
}

// More objects than the table can tell apart: the labels that are written
// are still those of the first 255 objects, and the flag is up.
TEST(Label, MoreObjectsThanTheTableGivesAnIncompleteFlaggedResult)
{
    Canvas in = Dots(3000, 100);
    Labeled got = LabelOf(in);
    EXPECT_EQ(got.outcome.overflow, 1);
    EXPECT_LE(got.outcome.count, 2048);
    EXPECT_GT(got.outcome.count, 255);
    std::vector<uint8_t> want(in.px.size(), 0x5A);
    ref::Label(in.px.data(), want.data(), in.stride, in.range);
    EXPECT_EQ(ref::FirstDifference(got.out.px, want, in.stride), "");
}

TEST(Label, EmptyBankDoesNothing)
{
    PlaneBank bank;
    const LabelOutcome o = Label(bank);
    EXPECT_EQ(o.count, 1);
    EXPECT_EQ(o.overflow, 0);
    EXPECT_TRUE(LabelingResultRows(bank, 5).empty());
}

TEST(Label, BankLabelsSourceIntoDestination)
{
    PlaneBank bank;
    ASSERT_EQ(bank.CreatePlaneBank(2, 4, 3), 0);
    const uint8_t src[12] = {255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0, 0};
    std::copy(src, src + 12, bank.GetPlane(0));
    std::fill(bank.GetPlane(1), bank.GetPlane(1) + 12, 99);
    bank.SelectPlanes(0, 1);
    const LabelOutcome o = Label(bank);
    EXPECT_EQ(o.count, 4);
    // (0,2) and (1,2) touch nothing above them, so they are object 3.
    const uint8_t* d = bank.GetPlane(1);
    const uint8_t expected[12] = {1, 0, 0, 2, 0, 0, 0, 2, 3, 3, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(d[i], expected[i]) << "at (" << i % 4 << ", " << i / 4 << ")";
    EXPECT_EQ(bank.GetPlane(0)[0], 255);
}

// ---- statistics and result rows ----

// Widths below, at and across the 64-pixel words the runs are found in,
// with runs of one value reaching over word ends and neighbouring runs of
// different values, on every instruction-set level.
class GatherWidths : public testing::TestWithParam<IsaLevel> {};

TEST_P(GatherWidths, GatherAgreesWithThePerLabelFunctions)
{
    if (!IsaAvailable(GetParam()))
        GTEST_SKIP() << "this processor does not run " << IsaName(GetParam());
    ScopedIsaCap cap(GetParam());
    for (int width : {37, 64, 65, 130, 200}) {
        SCOPED_TRACE(width);
        Canvas plane(width, 29, 3, 2, 1, 2, 0);
        std::mt19937 rng(99 + width);
        for (uint8_t& p : plane.px)
            p = static_cast<uint8_t>(rng() % 5 == 0 ? rng() % 6 : 0);
        for (int y = 0; y < plane.range.h; ++y) {
            for (int x = 0; x < 6; ++x)
                plane.in(x + 10, y) = 7;  // a run of one label over many rows
            const int from = static_cast<int>(rng() % width), len = static_cast<int>(rng() % 90);
            for (int x = from; x < std::min(width, from + len); ++x)
                plane.in(x, y) = (x - from) < len / 2 ? 8 : 6;  // two values touching
        }
        const auto stats = GatherLabelStatistics(plane.px.data(), plane.stride, plane.range);
        for (int n = 1; n <= 8; ++n) {
            SCOPED_TRACE(n);
            EXPECT_EQ(stats[n].area, LabelArea(plane.px.data(), plane.stride, plane.range, n));
            int minX, maxX, minY, maxY;
            const int box = LabelBoundingBox(plane.px.data(), plane.stride, plane.range, n, minX, maxX, minY, maxY);
            double cx = -7, cy = -7;
            const int centre = LabelCentroid(plane.px.data(), plane.stride, plane.range, n, cx, cy);
            if (stats[n].area == 0) {
                EXPECT_EQ(box, -1);
                EXPECT_EQ(centre, -1);
                continue;
            }
            EXPECT_EQ(box, 0);
            EXPECT_EQ(centre, 0);
            EXPECT_EQ(stats[n].minX, minX);
            EXPECT_EQ(stats[n].maxX, maxX);
            EXPECT_EQ(stats[n].minY, minY);
            EXPECT_EQ(stats[n].maxY, maxY);
            EXPECT_EQ(static_cast<double>(stats[n].sumX) / stats[n].area, cx);
            EXPECT_EQ(static_cast<double>(stats[n].sumY) / stats[n].area, cy);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, GatherWidths, testing::ValuesIn(test::kIsaLevels), test::IsaLevelName);

TEST(LabelStatistics, MissingLabelLeavesStartingValues)
{
    Canvas plane(5, 4, 2, 3, 0, 0, 0);
    int minX, maxX, minY, maxY;
    EXPECT_EQ(LabelBoundingBox(plane.px.data(), plane.stride, plane.range, 3, minX, maxX, minY, maxY), -1);
    EXPECT_EQ(minX, 2 + 5);
    EXPECT_EQ(maxX, 2);
    EXPECT_EQ(minY, 3 + 4);
    EXPECT_EQ(maxY, 3);
    double x = 1.25, y = 2.5;
    EXPECT_EQ(LabelCentroid(plane.px.data(), plane.stride, plane.range, 3, x, y), -1);
    EXPECT_EQ(x, 1.25);
    EXPECT_EQ(y, 2.5);
}

TEST(LabelStatistics, LabelIsComparedByItsLowEightBits)
{
    Canvas plane(3, 1, 0, 0, 0, 0, 0);
    plane.in(1, 0) = 2;
    EXPECT_EQ(LabelArea(plane.px.data(), plane.stride, plane.range, 258), 1);
    EXPECT_EQ(LabelArea(plane.px.data(), plane.stride, plane.range, 256), 2);
}

std::vector<std::string> Cells(const LabelingRow& row) { return {row.cells.begin(), row.cells.end()}; }

TEST(LabelingRows, SinglePixelRowTexts)
{
    Canvas plane(8, 6, 0, 0, 0, 0, 0);
    plane.in(3, 4) = 255;
    Canvas out = plane;
    const LabelOutcome o = LabelKernel(plane.px.data(), out.px.data(), plane.stride, plane.range);
    const auto rows = LabelingResultRows(out.px.data(), out.stride, out.range, o.count);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Cells(rows[0]), (std::vector<std::string>{"1", "(3, 4)", "(3, 4)", "(3.00, 4.00)", "1"}));
}

TEST(LabelingRows, TextsKeepADecimalPointInACommaLocale)
{
    // Pixels (1,0) (2,0) (2,1): centroid (5/3, 1/3).
    Canvas plane(4, 3, 0, 0, 0, 0, 0);
    plane.in(1, 0) = plane.in(2, 0) = 1;
    plane.in(2, 1) = 1;
    plane.in(0, 2) = 2;
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const auto rows = LabelingResultRows(plane.px.data(), plane.stride, plane.range, 3);
    std::setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Cells(rows[0]), (std::vector<std::string>{"1", "(1, 0)", "(2, 1)", "(1.67, 0.33)", "3"}));
    EXPECT_EQ(Cells(rows[1]), (std::vector<std::string>{"2", "(0, 2)", "(0, 2)", "(0.00, 2.00)", "1"}));
    if (!comma)
        GTEST_SKIP() << "de_DE.UTF-8 is not installed; checked in the C locale only";
}

TEST(LabelingRows, CountLimitsTheRows)
{
    Canvas plane(300, 1, 0, 0, 0, 0, 0);
    for (int x = 0; x < 256; ++x)
        plane.in(x, 0) = static_cast<uint8_t>(x);
    struct Case {
        int count;
        size_t rows;
    };
    for (const Case c : {Case{0, 0}, Case{1, 0}, Case{2, 1}, Case{255, 254}, Case{256, 255}, Case{2048, 255}}) {
        SCOPED_TRACE(c.count);
        const auto rows = LabelingResultRows(plane.px.data(), plane.stride, plane.range, c.count);
        ASSERT_EQ(rows.size(), c.rows);
        if (!rows.empty()) {
            EXPECT_EQ(rows.back().cells[0], std::to_string(c.rows));
        }
    }
}

const std::string kHeaderCp932 =
    "No.\t\x8d\xb6\x8f\xe3\x8d\xc0\x95\x57\t\x89\x45\x89\xba\x8d\xc0\x95\x57\t"
    "\x8f\x64\x90\x53\x8d\xc0\x95\x57\t\x96\xca\x90\xcf\x28\x89\xe6\x91\x66\x29\r\n";

TEST(LabelingFile, GoldenBytes)
{
    Canvas plane(12, 7, 0, 0, 0, 0, 0);
    plane.in(3, 4) = 255;
    plane.in(10, 1) = plane.in(11, 1) = plane.in(10, 2) = 255;
    Canvas out = plane;
    const LabelOutcome o = LabelKernel(plane.px.data(), out.px.data(), plane.stride, plane.range);
    const auto rows = LabelingResultRows(out.px.data(), out.stride, out.range, o.count);

    test::TempDir dir;
    const std::string path = dir / "result.lbl";
    ASSERT_EQ(WriteLabelingResultFile(path, rows), 0);
    const std::string want = kHeaderCp932 +
                             "1\t(10, 1)\t(11, 2)\t(10.33, 1.33)\t3\r\n"
                             "2\t(3, 4)\t(3, 4)\t(3.00, 4.00)\t1\r\n";
    EXPECT_EQ(test::ReadText(path), want);
}

TEST(LabelingFile, NoObjectsGiveTheHeaderLineOnly)
{
    Canvas plane(5, 5, 0, 0, 0, 0, 0);
    Canvas out = plane;
    const LabelOutcome o = LabelKernel(plane.px.data(), out.px.data(), plane.stride, plane.range);
    EXPECT_EQ(o.count, 1);
    EXPECT_EQ(o.overflow, 0);
    const auto rows = LabelingResultRows(out.px.data(), out.stride, out.range, o.count);
    EXPECT_TRUE(rows.empty());
    test::TempDir dir;
    ASSERT_EQ(WriteLabelingResultFile(dir / "empty.lbl", rows), 0);
    EXPECT_EQ(test::ReadText(dir / "empty.lbl"), kHeaderCp932);
}

TEST(LabelingFile, UnwritablePathLeavesNothing)
{
    test::TempDir dir;
    EXPECT_EQ(WriteLabelingResultFile(dir / "missing/result.lbl", {}), -1);
    EXPECT_FALSE(std::ifstream(dir / "missing/result.lbl").good());
}

}  // namespace
}  // namespace lumadrift
