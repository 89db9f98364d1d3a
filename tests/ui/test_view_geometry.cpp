// The view's arithmetic without a window.
#include <gtest/gtest.h>

#include <algorithm>

#include "ui/view_geometry.h"

namespace lumadrift {
namespace {

struct MapCase {
    int zoom;
    int v;
    int display;
    int image;
};

class Mapping : public ::testing::TestWithParam<MapCase> {};

TEST_P(Mapping, DisplayAndImage)
{
    const MapCase c = GetParam();
    SCOPED_TRACE(testing::Message() << "zoom " << c.zoom << " v " << c.v);
    EXPECT_EQ(ToDisplay(c.zoom, c.v), c.display);
    EXPECT_EQ(ToImage(c.zoom, c.v), c.image);
}

INSTANTIATE_TEST_SUITE_P(
    Zooms, Mapping,
    ::testing::Values(MapCase{100, 0, 0, 0}, MapCase{100, 37, 37, 37},
                      // 4.5 + 0.5 truncates to 5; 1.5 + 0.5 to 2.
                      MapCase{150, 1, 2, 1}, MapCase{150, 3, 5, 2},
                      // At 25 % one pixel is 0 display pixels wide.
                      MapCase{25, 1, 0, 4}, MapCase{25, 2, 1, 8},
                      // Truncation toward zero of -2.5 and -3 + 0.5.
                      MapCase{100, -3, -2, -2}, MapCase{200, 7, 14, 4},
                      MapCase{75, 10, 8, 13}, MapCase{120, 5, 6, 4}));

TEST(FitRect, ClampKeepsCornerOrder)
{
    // 100 x 50 image at 100 %: x in [5, 104], y in [5, 54].
    const ViewRect r = FitRect({120, -3, 2, 60}, 0, 100, 100, 50);
    EXPECT_EQ(r, (ViewRect{104, 5, 5, 54}));
}

TEST(FitRect, ShiftKeepsSizeAndNormalizes)
{
    // Dragged past the right edge: the width stays 20.
    EXPECT_EQ(FitRect({110, 10, 90, 30}, 1, 100, 100, 50), (ViewRect{84, 10, 104, 30}));
    // Past the left and top edges.
    EXPECT_EQ(FitRect({0, 2, 10, 12}, 1, 100, 100, 50), (ViewRect{5, 5, 15, 15}));
    // Wider than the image: pushed right, then back left past the margin.
    EXPECT_EQ(FitRect({0, 5, 200, 6}, 1, 100, 100, 50), (ViewRect{-96, 5, 104, 6}));
}

TEST(StoreRect, BandAtFullSize)
{
    const StoredRange s = StoreRect({114, 224, 15, 25}, 100);
    EXPECT_EQ(s.display, (ViewRect{10, 20, 109, 219}));
    EXPECT_EQ(s.image, (ViewRect{10, 20, 109, 219}));
    const BoxValues b = BoxesFromRange(s.image);
    EXPECT_EQ(b.x, 10);
    EXPECT_EQ(b.y, 20);
    EXPECT_EQ(b.w, 100);
    EXPECT_EQ(b.h, 200);
}

TEST(StoreRect, HalfSizeMapsBackToImagePixels)
{
    const StoredRange s = StoreRect({5, 5, 55, 30}, 50);
    EXPECT_EQ(s.display, (ViewRect{0, 0, 50, 25}));
    EXPECT_EQ(s.image, (ViewRect{0, 0, 100, 50}));
}

TEST(RangeBoxes, ZeroWidthBecomesTwoPixelsWide)
{
    // W = 0 gives right = X - 1; stored normalized the range is 2 wide.
    const ViewRect r = RectFromBoxes(30, 10, 0, 5, 100, 200, 100);
    EXPECT_EQ(r, (ViewRect{35, 15, 34, 19}));
    const StoredRange s = StoreRect(r, 100);
    EXPECT_EQ(s.image, (ViewRect{29, 10, 30, 14}));
    EXPECT_EQ(BoxesFromRange(s.image).w, 2);
}

TEST(RangeBoxes, ClampedToTheImage)
{
    const ViewRect r = RectFromBoxes(150, 90, 100, 100, 100, 200, 100);
    EXPECT_EQ(r, (ViewRect{155, 95, 204, 104}));
}

TEST(RangeBoxes, LeadingNumberReading)
{
    EXPECT_EQ(BoxValue("12x"), 12);
    EXPECT_EQ(BoxValue(""), 0);
    EXPECT_EQ(BoxValue("abc"), 0);
    EXPECT_EQ(BoxValue("007"), 7);
}

TEST(Brightness, TruncatesTheWeightedSum)
{
    EXPECT_EQ(Brightness(255, 255, 255), 255);  // the weights sum to 1.0009
    EXPECT_EQ(Brightness(100, 0, 0), 29);       // 29.99
    EXPECT_EQ(Brightness(0, 0, 9), 1);          // 1.026
    EXPECT_EQ(Brightness(0, 0, 0), 0);
}

TEST(ZoomBox, CustomEntryComesAndGoes)
{
    ZoomBoxModel box;
    EXPECT_EQ(box.entries[box.current], "100%");
    SyncZoomBox(box, 120);
    ASSERT_EQ(box.entries.size(), 7u);
    EXPECT_EQ(box.entries[6], "120%");
    EXPECT_EQ(box.current, 6);
    // Picking the custom entry keeps the zoom and the entry.
    EXPECT_EQ(SelectZoomBoxEntry(box, 6, 120), 120);
    EXPECT_EQ(box.entries.size(), 7u);
    // Picking 25 % drops it.
    EXPECT_EQ(SelectZoomBoxEntry(box, 5, 120), 25);
    EXPECT_EQ(box.entries.size(), 6u);
    // A second custom value replaces the first.
    SyncZoomBox(box, 130);
    SyncZoomBox(box, 140);
    ASSERT_EQ(box.entries.size(), 7u);
    EXPECT_EQ(box.entries[6], "140%");
    // 100 typed in the dialog selects the preset; no seventh entry.
    SyncZoomBox(box, 100);
    EXPECT_EQ(box.entries.size(), 6u);
    EXPECT_EQ(box.current, 2);
}

TEST(FrameHit, MoveZoneCornersAndNewBand)
{
    const ViewRect f{20, 20, 120, 80};
    EXPECT_EQ(HitTestFrame(f, 30, 30).hit, FrameHit::kMove);
    EXPECT_EQ(HitTestFrame(f, 110, 70).hit, FrameHit::kNone);  // right/bottom exclusive
    const FrameHitResult lb = HitTestFrame(f, 18, 83);
    ASSERT_EQ(lb.hit, FrameHit::kCorner);
    EXPECT_EQ(lb.movingX, 20);
    EXPECT_EQ(lb.movingY, 80);
    EXPECT_EQ(lb.fixedX, 120);
    EXPECT_EQ(lb.fixedY, 20);
    // An edge away from the corners starts a new band.
    EXPECT_EQ(HitTestFrame(f, 70, 20).hit, FrameHit::kNone);
    // The square around the pointer spans -5 inclusive to +5 exclusive, so
    // a corner is caught from 5 pixels right of it but only 4 left of it.
    EXPECT_EQ(HitTestFrame(f, 25, 25).hit, FrameHit::kCorner);
    EXPECT_EQ(HitTestFrame(f, 16, 16).hit, FrameHit::kCorner);
    EXPECT_EQ(HitTestFrame(f, 15, 15).hit, FrameHit::kNone);
}

TEST(FrameHit, NarrowFrameMovesFromItsCorner)
{
    // 10 wide: the shrunk rectangle is inverted and normalizes to a zone
    // reaching past the frame, so the corner press moves the frame.
    const ViewRect f{50, 50, 60, 60};
    EXPECT_EQ(HitTestFrame(f, 50, 50).hit, FrameHit::kMove);
}

TEST(FrameCursor, Shapes)
{
    const ViewRect f{20, 20, 120, 80};
    EXPECT_EQ(RangeCursor(f, 21, 19), CursorKind::kSizeFDiag);
    EXPECT_EQ(RangeCursor(f, 118, 82), CursorKind::kSizeFDiag);
    EXPECT_EQ(RangeCursor(f, 20, 80), CursorKind::kSizeBDiag);
    EXPECT_EQ(RangeCursor(f, 120, 20), CursorKind::kSizeBDiag);
    // Between 5 and 10 inside: move shape, though a press starts a band.
    EXPECT_EQ(RangeCursor(f, 70, 27), CursorKind::kMove);
    EXPECT_EQ(HitTestFrame(f, 70, 27).hit, FrameHit::kNone);
    EXPECT_EQ(RangeCursor(f, 70, 22), CursorKind::kCross);
    EXPECT_EQ(RangeCursor(f, 300, 300), CursorKind::kCross);
}

bool HasLabel(const ProfileGraph& g, int x, int y, const std::string& t)
{
    return std::any_of(g.labels.begin(), g.labels.end(),
                       [&](const GraphText& l) { return l.x == x && l.y == y && l.text == t; });
}

TEST(ProfileGraph, VerticalLineLabelsAndTicks)
{
    // Line (50, 80) -> (50, 20), ordered to run from row 20: 60 samples.
    std::vector<std::pair<int, int>> s;
    for (int i = 0; i < 60; ++i)
        s.push_back({i * 4, i});
    const ViewRect ends{50, 20, 50, 80};
    const ProfileGraph g = LayoutProfileGraph(s, 1, ends, 50, 20, 100, 400);
    // left = min(50, 400 - 311) = 50, x0 = 85.
    EXPECT_TRUE(HasLabel(g, 55, 25, "20"));
    EXPECT_TRUE(HasLabel(g, 55, 60 + 20 - 7, "80"));
    EXPECT_TRUE(HasLabel(g, 55, 30 + 20 - 1, "50"));
    EXPECT_EQ(g.labels.size(), 3u + 5u);  // no quarter labels below 100 samples
    EXPECT_EQ(g.curve.size(), 59u);
    EXPECT_EQ(g.curve.front().x1, 85);
    EXPECT_EQ(g.curve.front().y1, 25);
    // Position axis, two end ticks, value axis, five value ticks.
    EXPECT_EQ(g.axes.size(), 1u + 2u + 1u + 5u);
    EXPECT_EQ(g.axes[0].x1, 85);
    EXPECT_EQ(g.axes[0].y2, 85);
}

TEST(ProfileGraph, LowStartPutsTheGraphAboveTheLine)
{
    std::vector<std::pair<int, int>> s(120, {0, 255});
    const ProfileGraph g = LayoutProfileGraph(s, 0, {10, 300, 130, 300}, 10, 300, 100, 400);
    // Baseline at 305, top at 50: value 255 (second 0) would be at 50.
    EXPECT_EQ(g.axes[0].y1, 305);
    EXPECT_EQ(g.curve.front().y1, 50 + 255);
    // n >= 100: quarter ticks and labels.
    EXPECT_TRUE(HasLabel(g, 30 + 10 - 7, 305, "40"));
    EXPECT_TRUE(HasLabel(g, 90 + 10 - 7, 305, "100"));
    EXPECT_TRUE(HasLabel(g, 120 + 10 - 17, 305, "130"));
    EXPECT_TRUE(HasLabel(g, 60 + 10 + 16, 305 - 250, "250"));
}

TEST(ProfileGraph, NarrowImageStartsLeftOfTheLine)
{
    std::vector<std::pair<int, int>> s(10, {0, 0});
    const ProfileGraph g = LayoutProfileGraph(s, 1, {40, 0, 41, 10}, 40, 0, 100, 200);
    // W - 311 = -111.
    EXPECT_TRUE(HasLabel(g, -106, 5, "0"));
}

TEST(ProfileMarkers, CrossOnASlopedLine)
{
    const auto m = LayoutProfileMarkers({2}, 0, {10, 20, 20, 25}, 100);
    ASSERT_EQ(m.size(), 2u);
    // slope 0.5: point (12, trunc(1 + 20 + 0.5)) = (12, 21).
    EXPECT_EQ(m[0].x1, 17);
    EXPECT_EQ(m[0].y1, 21);
    EXPECT_EQ(m[0].y2, 31);
    EXPECT_EQ(m[1].x1, 12);
    EXPECT_EQ(m[1].x2, 22);
    EXPECT_EQ(m[1].y1, 26);
}

}  // namespace
}  // namespace lumadrift
