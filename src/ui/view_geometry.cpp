#include "ui/view_geometry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commands/command_table.h"

namespace lumadrift {

int ToDisplay(int zoom, int v)
{
    return static_cast<int>(zoom * 0.01 * v + 0.5);
}

int ToImage(int zoom, int v)
{
    return static_cast<int>(v / (zoom * 0.01) + 0.5);
}

ViewRect NormalizedRect(ViewRect r)
{
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

ViewRect FitRect(ViewRect r, int mode, int zoom, int imageW, int imageH)
{
    const int maxX = ToDisplay(zoom, imageW) + 4;
    const int maxY = ToDisplay(zoom, imageH) + 4;
    if (mode == 0) {
        auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
        r.left = clamp(r.left, kViewMargin, maxX);
        r.right = clamp(r.right, kViewMargin, maxX);
        r.top = clamp(r.top, kViewMargin, maxY);
        r.bottom = clamp(r.bottom, kViewMargin, maxY);
        return r;
    }
    r = NormalizedRect(r);
    if (r.left < kViewMargin) {
        const int d = kViewMargin - r.left;
        r.left += d;
        r.right += d;
    }
    if (r.right > maxX) {
        const int d = r.right - maxX;
        r.left -= d;
        r.right -= d;
    }
    if (r.top < kViewMargin) {
        const int d = kViewMargin - r.top;
        r.top += d;
        r.bottom += d;
    }
    if (r.bottom > maxY) {
        const int d = r.bottom - maxY;
        r.top -= d;
        r.bottom -= d;
    }
    return NormalizedRect(r);
}

StoredRange StoreRect(const ViewRect& d, int zoom)
{
    StoredRange s;
    s.display = NormalizedRect({d.left - kViewMargin, d.top - kViewMargin, d.right - kViewMargin,
                                d.bottom - kViewMargin});
    s.image = NormalizedRect({ToImage(zoom, s.display.left), ToImage(zoom, s.display.top),
                              ToImage(zoom, s.display.right), ToImage(zoom, s.display.bottom)});
    return s;
}

ViewRect RectFromBoxes(int x, int y, int w, int h, int zoom, int imageW, int imageH)
{
    const ViewRect r{ToDisplay(zoom, x) + kViewMargin, ToDisplay(zoom, y) + kViewMargin,
                     ToDisplay(zoom, x + w - 1) + kViewMargin,
                     ToDisplay(zoom, y + h - 1) + kViewMargin};
    return FitRect(r, 0, zoom, imageW, imageH);
}

int BoxValue(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

BoxValues BoxesFromRange(const ViewRect& r)
{
    return {r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1};
}

int Brightness(int r, int g, int b)
{
    return static_cast<int>(0.2999 * r + 0.587 * g + 0.114 * b);
}

ZoomBoxModel::ZoomBoxModel()
{
    for (int z : kZoomPresets)
        entries.push_back(std::to_string(z) + "%");
}

void SyncZoomBox(ZoomBoxModel& box, int zoom)
{
    if (box.entries.size() > 6)
        box.entries.pop_back();
    for (int i = 0; i < 6; ++i) {
        if (kZoomPresets[i] == zoom) {
            box.current = i;
            return;
        }
    }
    box.entries.push_back(std::to_string(zoom) + "%");
    box.current = static_cast<int>(box.entries.size()) - 1;
}

int SelectZoomBoxEntry(ZoomBoxModel& box, int index, int oldZoom)
{
    const int last = static_cast<int>(box.entries.size()) - 1;
    if (box.entries.size() > 6 && index != last)
        box.entries.pop_back();
    box.current = index;
    if (index >= 0 && index < 6)
        return kZoomPresets[index];
    return oldZoom;
}

namespace {

// Left and top inclusive, right and bottom exclusive.
bool Inside(const ViewRect& r, int x, int y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

bool InSquare(int px, int py, int cx, int cy)
{
    return cx >= px - 5 && cx < px + 5 && cy >= py - 5 && cy < py + 5;
}

ViewRect Shrunk(const ViewRect& f, int by)
{
    return NormalizedRect({f.left + by, f.top + by, f.right - by, f.bottom - by});
}

}  // namespace

FrameHitResult HitTestFrame(const ViewRect& f, int px, int py)
{
    FrameHitResult r;
    if (Inside(Shrunk(f, 10), px, py)) {
        r.hit = FrameHit::kMove;
        return r;
    }
    struct Corner {
        int x, y, ox, oy;
    };
    const Corner corners[4] = {{f.left, f.top, f.right, f.bottom},
                               {f.left, f.bottom, f.right, f.top},
                               {f.right, f.bottom, f.left, f.top},
                               {f.right, f.top, f.left, f.bottom}};
    for (const Corner& c : corners) {
        if (InSquare(px, py, c.x, c.y)) {
            r.hit = FrameHit::kCorner;
            r.movingX = c.x;
            r.movingY = c.y;
            r.fixedX = c.ox;
            r.fixedY = c.oy;
            return r;
        }
    }
    return r;
}

CursorKind RangeCursor(const ViewRect& f, int px, int py)
{
    if (InSquare(px, py, f.left, f.top) || InSquare(px, py, f.right, f.bottom))
        return CursorKind::kSizeFDiag;
    if (InSquare(px, py, f.left, f.bottom) || InSquare(px, py, f.right, f.top))
        return CursorKind::kSizeBDiag;
    if (Inside(Shrunk(f, 5), px, py))
        return CursorKind::kMove;
    return CursorKind::kCross;
}

ProfileGraph LayoutProfileGraph(const std::vector<std::pair<int, int>>& s, int orientation,
                                const ViewRect& ends, int dx1, int dy1, int zoom, int imageW)
{
    ProfileGraph g;
    const int n = static_cast<int>(s.size());
    if (n == 0)
        return g;
    auto Z = [zoom](int v) { return ToDisplay(zoom, v); };
    auto num = [](int v) { return std::to_string(v); };
    const int zn = Z(n);
    if (orientation == 0) {
        int top = 5, base = 260;
        if (dy1 >= 256) {
            top = dy1 - 250;
            base = dy1 + 5;
        }
        for (int i = 1; i < n; ++i)
            g.curve.push_back({Z(i - 1) + dx1 + 5, top + s[i - 1].second, Z(i) + dx1 + 5,
                               top + s[i].second});
        g.axes.push_back({dx1 + 5, base, zn + dx1 + 5, base});
        std::vector<int> ticks{dx1 + 5, zn + dx1 + 5};
        if (n >= 100) {
            ticks.push_back(zn / 4 + dx1 + 5);
            ticks.push_back((zn / 4) * 3 + dx1 + 5);
        }
        for (int x : ticks)
            g.axes.push_back({x, base - 5, x, base});
        g.labels.push_back({dx1 + 5, base, num(ends.left)});
        g.labels.push_back({zn + dx1 - 17, base, num(ends.right)});
        if (n >= 50)
            g.labels.push_back({zn / 2 + dx1 - 7, base, num(ends.left + n / 2)});
        if (n >= 100) {
            g.labels.push_back({zn / 4 + dx1 - 7, base, num(ends.left + n / 4)});
            g.labels.push_back({(zn / 4) * 3 + dx1 - 7, base, num(ends.left + (n / 4) * 3)});
        }
        const int vx = zn / 2 + dx1;
        g.axes.push_back({vx + 5, top, vx + 5, base});
        for (int k = 1; k <= 5; ++k) {
            const int y = base - 50 * k;
            g.axes.push_back({vx - 5, y, vx + 15, y});
            g.labels.push_back({vx + 16, y, num(50 * k)});
        }
        return g;
    }
    const int left = std::min(dx1, Z(imageW) - 311);
    const int x0 = left + 35;
    for (int i = 1; i < n; ++i)
        g.curve.push_back({x0 + s[i - 1].first, Z(i - 1) + dy1 + 5, x0 + s[i].first,
                           Z(i) + dy1 + 5});
    g.axes.push_back({x0, Z(0) + dy1 + 5, x0, zn + dy1 + 5});
    std::vector<int> ticks{Z(0) + dy1 + 5, zn + dy1 + 5};
    if (n >= 100) {
        ticks.push_back(zn / 4 + dy1 + 5);
        ticks.push_back((zn / 4) * 3 + dy1 + 5);
    }
    for (int y : ticks)
        g.axes.push_back({x0, y, x0 + 5, y});
    g.labels.push_back({left + 5, Z(0) + dy1 + 5, num(ends.top)});
    g.labels.push_back({left + 5, zn + dy1 - 7, num(ends.bottom)});
    if (n >= 50)
        g.labels.push_back({left + 5, zn / 2 + dy1 - 1, num(ends.top + n / 2)});
    if (n >= 100) {
        g.labels.push_back({left + 5, zn / 4 + dy1 - 1, num(ends.top + n / 4)});
        g.labels.push_back({left + 5, (zn / 4) * 3 + dy1 - 1, num(ends.top + (n / 4) * 3)});
    }
    const int vy = zn / 2 + dy1;
    g.axes.push_back({x0, vy + 5, x0 + 255, vy + 5});
    for (int k = 1; k <= 5; ++k) {
        const int x = x0 + 50 * k;
        g.axes.push_back({x, vy - 5, x, vy + 15});
        g.labels.push_back({x, vy + 16, num(50 * k)});
    }
    return g;
}

std::vector<GraphLine> LayoutProfileMarkers(const std::vector<int>& selected, int orientation,
                                            const ViewRect& e, int zoom)
{
    std::vector<GraphLine> out;
    auto Z = [zoom](int v) { return ToDisplay(zoom, v); };
    for (int k : selected) {
        int px = 0, py = 0;
        if (orientation == 0) {
            const double slope = e.right != e.left
                                     ? static_cast<double>(e.bottom - e.top) / (e.right - e.left)
                                     : 0.0;
            px = e.left + k;
            py = slope == 0.0 ? e.top : static_cast<int>(slope * k + e.top + 0.5);
        } else {
            const double inv = e.bottom != e.top
                                   ? static_cast<double>(e.right - e.left) / (e.bottom - e.top)
                                   : 0.0;
            px = inv == 0.0 ? e.left : static_cast<int>(inv * k + e.left + 0.5);
            py = e.top + k;
        }
        out.push_back({Z(px) + 5, Z(py - 5) + 5, Z(px) + 5, Z(py + 5) + 5});
        out.push_back({Z(px - 5) + 5, Z(py) + 5, Z(px + 5) + 5, Z(py) + 5});
    }
    return out;
}

}  // namespace lumadrift
