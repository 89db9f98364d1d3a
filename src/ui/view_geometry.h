// The arithmetic of the view, kept free of Qt so that it can be tested
// without a window: the image <-> display mapping, keeping rectangles on the
// image, reading the range boxes, the zoom box's entries, the hit tests of
// the range frame and the layout of the density profile graph.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace lumadrift {

// Image pixel (0, 0) is drawn at display position (kViewMargin, kViewMargin);
// the margin is added after scaling.
constexpr int kViewMargin = 5;

// trunc(zoom * 0.01 * v + 0.5), in double precision.
int ToDisplay(int zoom, int v);
// trunc(v / (zoom * 0.01) + 0.5), in double precision; zoom must be > 0.
int ToImage(int zoom, int v);

struct ViewRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const ViewRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

ViewRect NormalizedRect(ViewRect r);

// Keeps a rectangle of display positions (margin included) on an image of
// imageW x imageH pixels. Mode 0 clamps each coordinate on its own and does
// not normalize; mode 1 normalizes and shifts the rectangle back inside,
// keeping its size (it may stick out on the left or top when it is larger
// than the image).
ViewRect FitRect(ViewRect r, int mode, int zoom, int imageW, int imageH);

// The image range of a display rectangle (margin included): minus the
// margin, normalized, then ToImage of each value, normalized. The display
// form (margin removed, normalized) is returned too.
struct StoredRange {
    ViewRect display;  // without margin
    ViewRect image;
};
StoredRange StoreRect(const ViewRect& displayWithMargin, int zoom);

// The display rectangle (margin included, clamped with FitRect mode 0) for
// the values typed into the X, Y, W and H boxes.
ViewRect RectFromBoxes(int x, int y, int w, int h, int zoom, int imageW, int imageH);

// Leading-number reading of a range box: "12x" is 12, "" and "abc" are 0.
int BoxValue(const std::string& text);

// Side-panel form of an image range: X, Y, W, H.
struct BoxValues {
    int x = 0, y = 0, w = 0, h = 0;
};
BoxValues BoxesFromRange(const ViewRect& imageRange);

// The brightness shown for a colour pixel: 0.2999 R + 0.587 G + 0.114 B,
// truncated toward zero.
int Brightness(int r, int g, int b);

// The zoom box: six presets and at most one custom entry after them.
struct ZoomBoxModel {
    ZoomBoxModel();
    std::vector<std::string> entries;  // "200%" ... from kZoomPresets
    int current = 2;
};
// Brings the box in line with a zoom chosen elsewhere (zoom dialog).
void SyncZoomBox(ZoomBoxModel& box, int zoom);
// The operator picked entry index: returns the new zoom (the custom entry
// keeps oldZoom) and drops the custom entry when another one is picked.
int SelectZoomBoxEntry(ZoomBoxModel& box, int index, int oldZoom);

// Hit tests of a press on the range frame in state 2. frame is the frame in
// display positions with margin.
enum class FrameHit { kNone, kMove, kCorner };
struct FrameHitResult {
    FrameHit hit = FrameHit::kNone;
    int movingX = 0, movingY = 0;  // kCorner: the grabbed corner
    int fixedX = 0, fixedY = 0;    // kCorner: the opposite corner
};
FrameHitResult HitTestFrame(const ViewRect& frame, int px, int py);

enum class CursorKind { kArrow, kCross, kSizeFDiag, kSizeBDiag, kMove };
// The pointer's shape over the frame in state 2.
CursorKind RangeCursor(const ViewRect& frame, int px, int py);

// What the density profile graph draws, in display positions with margin.
struct GraphLine {
    int x1, y1, x2, y2;
};
struct GraphText {
    int x, y;  // top-left corner of the text
    std::string text;
};
struct ProfileGraph {
    std::vector<GraphLine> curve;  // polyline segments of the samples
    std::vector<GraphLine> axes;   // axes and ticks
    std::vector<GraphText> labels;
};
// samples: the plotting pairs; ends: the ordered image end points
// (x1, y1, x2, y2); dispX1/dispY1: the ordered display start point without
// margin; imageW: the image width in pixels.
ProfileGraph LayoutProfileGraph(const std::vector<std::pair<int, int>>& samples, int orientation,
                                const ViewRect& ends, int dispX1, int dispY1, int zoom,
                                int imageW);
// The crosses for the selected sample indices.
std::vector<GraphLine> LayoutProfileMarkers(const std::vector<int>& selected, int orientation,
                                            const ViewRect& ends, int zoom);

}  // namespace lumadrift
