// lumadrift-samples OUTDIR: writes the sample pictures shipped with the
// workbench: one 320 x 240 test chart saved at every bit count the program
// reads. The chart has something for each family of operations: gray ramps
// for the density tools, separate and touching coloured objects on a dark
// background for binarization and labeling, and fine detail (line pairs, a
// checkerboard, a thin diagonal, lettering) for the filters. The output is
// the same on every run and every machine.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/bmp.h"
#include "core/file_io.h"
#include "core/image_model.h"

namespace {

using lumadrift::PutLe16;
using lumadrift::PutLe32;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Rgb {
    uint8_t r, g, b;
};

// Every solid colour of the chart comes from this table, and every
// component is a multiple of 51, so the 4-bit and 8-bit files (whose
// palettes hold these colours) show the objects without any error.
const Rgb kColours16[16] = {
    {0, 0, 0},       {51, 51, 51},   {102, 102, 102}, {153, 153, 153},
    {204, 204, 204}, {255, 255, 255}, {255, 0, 0},    {0, 204, 0},
    {0, 102, 255},   {255, 255, 0},  {255, 0, 255},   {0, 255, 255},
    {255, 153, 0},   {153, 0, 204},  {102, 51, 0},    {0, 102, 51},
};
enum Colour { kBlack, kBackground, kGray102, kGray153, kGray204, kWhite, kRed, kGreen,
              kBlue, kYellow, kMagenta, kCyan, kOrange, kPurple, kBrown, kTeal };

class Canvas {
public:
    Canvas() : px_(static_cast<size_t>(kWidth) * kHeight, kColours16[kBackground]) {}

    void Set(int x, int y, Rgb c)
    {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight)
            px_[static_cast<size_t>(y) * kWidth + x] = c;
    }
    Rgb At(int x, int y) const { return px_[static_cast<size_t>(y) * kWidth + x]; }

    // Inclusive corners.
    void FillRect(int x0, int y0, int x1, int y1, Rgb c)
    {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                Set(x, y, c);
    }
    void FillCircle(int cx, int cy, int r, Rgb c)
    {
        for (int y = cy - r; y <= cy + r; ++y)
            for (int x = cx - r; x <= cx + r; ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                    Set(x, y, c);
    }
    // One pixel wide, every step touching the previous one.
    void Line(int x0, int y0, int x1, int y1, Rgb c)
    {
        const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
        const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            Set(x0, y0, c);
            if (x0 == x1 && y0 == y1)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) { err += dy; x0 += sx; }
            if (e2 <= dx) { err += dx; y0 += sy; }
        }
    }

private:
    std::vector<Rgb> px_;
};

// 5 x 7 strokes of the letters the chart spells, one row per string.
struct Glyph {
    char ch;
    const char* rows[7];
};
const Glyph kFont[] = {
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'I', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
};

void Text(Canvas& c, int x, int y, const char* text, int scale, Rgb colour)
{
    for (; *text; ++text, x += 6 * scale) {
        for (const Glyph& g : kFont) {
            if (g.ch != *text)
                continue;
            for (int row = 0; row < 7; ++row)
                for (int col = 0; col < 5; ++col)
                    if (g.rows[row][col] == '#')
                        c.FillRect(x + col * scale, y + row * scale, x + col * scale + scale - 1,
                                   y + row * scale + scale - 1, colour);
        }
    }
}

Rgb Gray(int v)
{
    const uint8_t g = static_cast<uint8_t>(v);
    return {g, g, g};
}

Canvas DrawChart()
{
    Canvas c;
    const auto& k = kColours16;

    // Ramps: 0 at the left and top, 255 at the right and bottom edge.
    for (int x = 0; x < kWidth; ++x)
        c.FillRect(x, 0, x, 15, Gray(x * 255 / (kWidth - 1)));
    for (int y = 16; y < kHeight; ++y)
        c.FillRect(0, y, 15, y, Gray((y - 16) * 255 / (kHeight - 17)));

    // Objects. Red and green circles touch (centre distance = sum of radii),
    // the blue and yellow rectangles share an edge, the rest stand apart.
    c.FillCircle(56, 56, 24, k[kRed]);
    c.FillCircle(98, 56, 18, k[kGreen]);
    c.FillRect(130, 30, 180, 70, k[kBlue]);
    c.FillRect(181, 30, 205, 50, k[kYellow]);
    c.FillCircle(60, 132, 28, k[kMagenta]);
    c.FillRect(100, 110, 150, 160, k[kCyan]);
    c.FillCircle(184, 132, 22, k[kOrange]);
    c.FillRect(120, 84, 140, 99, k[kPurple]);
    c.FillCircle(120, 132, 10, k[kTeal]);  // sits inside the cyan square: a hole for labeling
    // Small objects: a few pixels each, down to a single dot.
    c.FillRect(30, 95, 32, 97, k[kBrown]);
    c.FillRect(40, 95, 41, 96, k[kWhite]);
    c.FillCircle(170, 95, 3, k[kYellow]);
    c.FillCircle(190, 95, 2, k[kGreen]);
    c.Set(205, 95, k[kWhite]);
    c.Set(205, 165, k[kWhite]);

    // Line pairs with periods 2, 4 and 6, vertical then horizontal.
    const int periods[3] = {2, 4, 6};
    for (int i = 0; i < 3; ++i) {
        const int x0 = 220 + i * 34;
        for (int x = x0; x < x0 + 30; ++x)
            if ((x - x0) % periods[i] < periods[i] / 2)
                c.FillRect(x, 20, x, 49, k[kWhite]);
        for (int y = 54; y < 84; ++y)
            if ((y - 54) % periods[i] < periods[i] / 2)
                c.FillRect(x0, y, x0 + 29, y, k[kWhite]);
    }
    // Checkerboard of 4-pixel cells.
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            c.Set(220 + x, 90 + y, ((x / 4 + y / 4) & 1) ? k[kWhite] : k[kBlack]);
    // Thin diagonals.
    c.Line(290, 90, 316, 170, k[kWhite]);
    c.Line(300, 90, 316, 100, k[kYellow]);
    Text(c, 220, 160, "LUMA", 1, k[kWhite]);
    Text(c, 250, 160, "DRIFT", 1, k[kGray204]);

    // Gray steps, large lettering and colour bars along the bottom.
    for (int i = 0; i < 8; ++i)
        c.FillRect(20 + i * 26, 180, 20 + i * 26 + 23, 203, Gray(i * 255 / 7));
    Text(c, 20, 214, "LUMADRIFT", 2, k[kWhite]);
    for (int i = 0; i < 8; ++i)
        c.FillRect(232 + i * 11, 180, 232 + i * 11 + 10, 235, k[kRed + i]);
    return c;
}

// ---- Palettes and pixel encodings -----------------------------------------

std::vector<Rgb> Palette16() { return std::vector<Rgb>(std::begin(kColours16), std::end(kColours16)); }

// The 6 x 6 x 6 cube of multiples of 51, then 40 grays between its steps.
std::vector<Rgb> Palette256()
{
    std::vector<Rgb> p;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p.push_back({uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)});
    for (int step = 0; step < 5; ++step)
        for (int i = 1; i <= 8; ++i) {
            const int v = step * 51 + i * 51 / 9;
            p.push_back(Gray(v));
        }
    return p;
}

// Nearest entry by squared distance; the first one wins a tie.
uint8_t Nearest(const std::vector<Rgb>& palette, Rgb c)
{
    int best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return static_cast<uint8_t>(best);
}

// Builds a plain bottom-up BMP (40-byte header, uncompressed) of the chart.
std::vector<uint8_t> Encode(const Canvas& c, int bits)
{
    std::vector<Rgb> palette;
    if (bits == 1)
        palette = {{0, 0, 0}, {255, 255, 255}};
    else if (bits == 4)
        palette = Palette16();
    else if (bits == 8)
        palette = Palette256();
    const size_t stride = lumadrift::DibStride(kWidth, bits);
    const size_t offset = 54 + 4 * palette.size();
    std::vector<uint8_t> f(offset + stride * kHeight, 0);
    uint8_t* p = f.data();
    p[0] = 'B';
    p[1] = 'M';
    PutLe32(p + 2, static_cast<uint32_t>(f.size()));
    PutLe32(p + 10, static_cast<uint32_t>(offset));
    PutLe32(p + 14, 40);
    PutLe32(p + 18, kWidth);
    PutLe32(p + 22, kHeight);
    PutLe16(p + 26, 1);
    PutLe16(p + 28, static_cast<uint32_t>(bits));
    PutLe32(p + 34, static_cast<uint32_t>(stride * kHeight));
    PutLe32(p + 46, static_cast<uint32_t>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i) {
        p[54 + 4 * i + 0] = palette[i].b;
        p[54 + 4 * i + 1] = palette[i].g;
        p[54 + 4 * i + 2] = palette[i].r;
    }
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = p + offset + static_cast<size_t>(kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c0 = c.At(x, y);
            switch (bits) {
            case 1: {
                // Luma threshold, so the monochrome file keeps the objects.
                const int luma = (c0.r * 299 + c0.g * 587 + c0.b * 114) / 1000;
                if (luma >= 128)
                    row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
                break;
            }
            case 4:
                row[x / 2] |= static_cast<uint8_t>(Nearest(palette, c0) << ((x % 2) ? 0 : 4));
                break;
            case 8: row[x] = Nearest(palette, c0); break;
            case 16: {
                // 5-6-5 in an uncompressed 16-bit file is how this program
                // reads such files, so that is how its sample is written.
                const unsigned v = (c0.r >> 3) << 11 | (c0.g >> 2) << 5 | (c0.b >> 3);
                PutLe16(row + 2 * x, v);
                break;
            }
            case 24:
                row[3 * x + 0] = c0.b;
                row[3 * x + 1] = c0.g;
                row[3 * x + 2] = c0.r;
                break;
            case 32:
                row[4 * x + 0] = c0.b;
                row[4 * x + 1] = c0.g;
                row[4 * x + 2] = c0.r;
                break;
            }
        }
    }
    return f;
}

}  // namespace

// A series of 24-bit pictures for batch runs: a soft gradient with a few
// dozen bright discs whose places follow a fixed pseudo-random sequence.
int WriteSeries(const std::string& dir, int count, int width, int height)
{
    if (!lumadrift::DirectoryExists(dir) && !lumadrift::MakeDirectory(dir))
        return 1;
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const size_t stride = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> bgr(stride * static_cast<size_t>(height));
    for (int n = 0; n < count; ++n) {
        for (int y = 0; y < height; ++y) {
            uint8_t* row = &bgr[static_cast<size_t>(y) * stride];
            for (int x = 0; x < width; ++x) {
                row[3 * x + 0] = static_cast<uint8_t>(40 + (x * 60) / width);
                row[3 * x + 1] = static_cast<uint8_t>(30 + (y * 60) / height);
                row[3 * x + 2] = static_cast<uint8_t>(50 + ((x + y + n) % 17));
            }
        }
        for (int d = 0; d < 40; ++d) {
            const int cx = static_cast<int>(next() % static_cast<uint32_t>(width));
            const int cy = static_cast<int>(next() % static_cast<uint32_t>(height));
            const int r = 4 + static_cast<int>(next() % 30);
            const uint8_t v = static_cast<uint8_t>(160 + next() % 96);
            for (int y = std::max(0, cy - r); y <= std::min(height - 1, cy + r); ++y) {
                uint8_t* row = &bgr[static_cast<size_t>(y) * stride];
                for (int x = std::max(0, cx - r); x <= std::min(width - 1, cx + r); ++x)
                    if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r)
                        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
            }
        }
        const std::vector<uint8_t> file = lumadrift::BuildBmp24(bgr.data(), width, height, stride);
        char name[64];
        std::snprintf(name, sizeof name, "/series_%04d.bmp", n);
        if (lumadrift::WriteFileWhole(dir + name, file) != 0)
            return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 6 && std::string(argv[1]) == "--series")
        return WriteSeries(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr,
                     "usage: lumadrift-samples OUTDIR\n"
                     "       lumadrift-samples --series OUTDIR COUNT WIDTH HEIGHT\n"
                     "Writes the 320 x 240 sample chart into OUTDIR as sample.bmp (24 bits)\n"
                     "and sample_1bit, _4bit, _8bit, _16bit, _32bit.bmp; or COUNT pictures\n"
                     "series_NNNN.bmp of WIDTH x HEIGHT for batch runs.\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!lumadrift::DirectoryExists(dir) && !lumadrift::MakeDirectory(dir)) {
        std::fprintf(stderr, "lumadrift-samples: cannot create %s\n", dir.c_str());
        return 1;
    }
    const Canvas chart = DrawChart();
    const struct { const char* name; int bits; } files[] = {
        {"sample.bmp", 24}, {"sample_1bit.bmp", 1}, {"sample_4bit.bmp", 4},
        {"sample_8bit.bmp", 8}, {"sample_16bit.bmp", 16}, {"sample_32bit.bmp", 32},
    };
    for (const auto& f : files) {
        const std::string path = dir + "/" + f.name;
        if (lumadrift::WriteFileWhole(path, Encode(chart, f.bits)) != 0) {
            std::fprintf(stderr, "lumadrift-samples: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
