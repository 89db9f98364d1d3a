// A plane with a margin around the filter range: the margin holds values a
// filter would pick up if it read outside the range, and must never be
// written, so both kinds of fault show up in a byte comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "filters/border.h"

namespace lumadrift::test {

struct Canvas {
    int stride = 0;
    int height = 0;
    FilterRange range;
    std::vector<uint8_t> px;

    Canvas(int w, int h, int left, int top, int right, int bottom, uint8_t fill)
        : stride(left + w + right), height(top + h + bottom), range{left, top, w, h},
          px(static_cast<size_t>(stride) * height, fill)
    {
    }
    // Plane coordinates.
    uint8_t& at(int x, int y) { return px[static_cast<size_t>(y) * stride + x]; }
    // Range coordinates.
    uint8_t& in(int x, int y) { return at(range.x0 + x, range.y0 + y); }
};

// A canvas whose margins and fill default to a test file's own choice.
template <int Left, int Top, int Right, int Bottom, uint8_t Fill = 0>
struct MarginCanvas : Canvas {
    MarginCanvas(int w, int h, int left = Left, int top = Top, int right = Right,
                 int bottom = Bottom, uint8_t fill = Fill)
        : Canvas(w, h, left, top, right, bottom, fill)
    {
    }
};

}  // namespace lumadrift::test
