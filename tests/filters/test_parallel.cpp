// Every operation that spreads its rows over the worker pool writes the same
// bytes for 1, 2, 3 and 7 threads. Bands are forced down to one row, so even
// the smallest shapes are cut at every row boundary; the canvas margin shows
// a band that writes outside its rows or the range.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/acquisition.h"
#include "core/bmp.h"
#include "core/parallel.h"
#include "core/work_progress.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/derivative.h"
#include "filters/labeling.h"
#include "filters/smoothing.h"
#include "reference/first_difference.h"
#include "support/canvas.h"

namespace lumadrift {
namespace {

using Canvas = test::MarginCanvas<3, 2, 4, 3, 0x5A>;

// One operation: reads src over the range, and everything it produces ends
// up in the bytes of dst (a plane of the same layout) or in `extra`.
using Run = std::function<void(const Canvas& src, Canvas& dst, std::vector<uint8_t>& extra)>;

struct Operation {
    const char* name;
    Run run;
    bool binarySource = false;  // 0/255 pictures, for labeling statistics
};

void Put(std::vector<uint8_t>& out, long long v)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out.insert(out.end(), p, p + sizeof v);
}

Run Kernel(std::function<void(const uint8_t*, uint8_t*, int, FilterRange)> k)
{
    return [k](const Canvas& s, Canvas& d, std::vector<uint8_t>&) { k(s.px.data(), d.px.data(), s.stride, s.range); };
}

Run Rank(int x, int y, int rank)
{
    return Kernel([=](const uint8_t* s, uint8_t* d, int st, FilterRange r) { RankFilterKernel(s, d, st, r, x, y, rank); });
}

Run Average(int x, int y)
{
    return Kernel([=](const uint8_t* s, uint8_t* d, int st, FilterRange r) { MovingAverageKernel(s, d, st, r, x, y); });
}

// Acquisition of one channel from three planes made of the canvas bytes.
Run Acquire(int channel, double base)
{
    return [=](const Canvas& s, Canvas&, std::vector<uint8_t>& extra) {
        const size_t n = s.px.size();
        std::vector<uint8_t> g(n), b(n);
        for (size_t i = 0; i < n; ++i) {
            g[i] = static_cast<uint8_t>(s.px[i] * 7 + 3);
            b[i] = static_cast<uint8_t>(s.px[(i * 13) % n] ^ 0x35);
        }
        extra.assign(n, 0);
        AcquireChannelPixels(s.px.data(), g.data(), b.data(), n, channel, false, base, extra.data());
    };
}

const double k5[25] = {0.1, 0.2, 0.3, 0.2, 0.1, 0.2, 0.4, 0.6, 0.4, 0.2, 0.3, 0.6, 1.7,
                       0.6, 0.3, 0.2, 0.4, 0.6, 0.4, 0.2, 0.1, 0.2, 0.3, 0.2, 0.1};

const Operation kOperations[] = {
    {"Binarize", Kernel([](auto s, auto d, int st, FilterRange r) { BinarizeKernel(s, d, st, r, 60, 190, 0); })},
    {"Dilate", Kernel(DilateKernel)},
    {"Erode", Kernel(ErodeKernel)},
    {"Contrast", Kernel([](auto s, auto d, int st, FilterRange r) { ContrastKernel(s, d, st, r, 1.3); })},
    {"Gamma", Kernel([](auto s, auto d, int st, FilterRange r) { GammaKernel(s, d, st, r, 2.2); })},
    {"Equalize", Kernel(EqualizeKernel)},
    {"Histogram",
     [](const Canvas& s, Canvas&, std::vector<uint8_t>& extra) {
         int32_t counts[256];
         HistogramKernel(s.px.data(), s.stride, s.range, counts);
         extra.assign(reinterpret_cast<uint8_t*>(counts), reinterpret_cast<uint8_t*>(counts) + sizeof counts);
     }},
    {"Average3x3", Average(3, 3)},
    {"Average21x5", Average(21, 5)},     // 16-bit sums
    {"Average17x17", Average(17, 17)},   // 32-bit sums
    {"Median3x3", Rank(3, 3, 4)},
    {"Rank5x5", Rank(5, 5, 6)},
    {"Rank7x3", Rank(7, 3, 2)},
    {"Median15x15", Rank(15, 15, 112)},
    {"Sobel", Kernel(SobelKernel)},
    {"Smooth", Kernel(SmoothKernel)},
    {"Convolve5x5", Kernel([](auto s, auto d, int st, FilterRange r) { ConvolveKernel(s, d, st, r, 5, 5, k5); })},
    {"Affine", Kernel([](auto s, auto d, int st, FilterRange r) {
         AffineTransformKernel(s, d, st, r, {30.0, r.w / 2.0, r.h / 2.0, 1.2, 0.9, 1.5, -0.5});
     })},
    {"Label",
     [](const Canvas& s, Canvas& d, std::vector<uint8_t>& extra) {
         const LabelOutcome o = LabelKernel(s.px.data(), d.px.data(), s.stride, s.range);
         extra = {static_cast<uint8_t>(o.count), static_cast<uint8_t>(o.count >> 8), static_cast<uint8_t>(o.overflow)};
     },
     true},
    {"LabelStatistics",
     [](const Canvas& s, Canvas&, std::vector<uint8_t>& extra) {
         // The plane's values stand for labels; 0/255 plus a few others.
         const auto stats = GatherLabelStatistics(s.px.data(), s.stride, s.range);
         extra.clear();
         for (const LabelStatistics& v : stats)
             for (long long n : {v.area, v.sumX, v.sumY, (long long)v.minX, (long long)v.maxX,
                                 (long long)v.minY, (long long)v.maxY})
                 Put(extra, n);
     },
     true},
    {"AcquireBrightness", Acquire(kChannelBrightness, 0.0)},
    {"AcquireHue", Acquire(kChannelHue, 30.0)},
    {"AcquireSaturation", Acquire(kChannelSaturation, 0.0)},
    {"GrayBmp",
     [](const Canvas& s, Canvas&, std::vector<uint8_t>& extra) { extra = BuildGrayBmp(s.px.data(), s.stride, s.height); }},
    {"DecodeBmp24",
     [](const Canvas& s, Canvas&, std::vector<uint8_t>& extra) {
         const std::vector<uint8_t> file = BuildBmp24(s.px.data(), s.stride / 3, s.height, s.stride);
         LoadedBmp bmp;
         ASSERT_EQ(ParseBmp(file.data(), file.size(), bmp), BmpError::kNone);
         const int w = s.range.w / 3 > 0 ? s.range.w / 3 : 1;
         const size_t n = static_cast<size_t>(w) * s.range.h;
         extra.assign(3 * n, 0);
         DecodeDibToPlanes(extra.data(), extra.data() + n, extra.data() + 2 * n, bmp.pixels(), bmp.pixelBytes(),
                           bmp.info, bmp.colorTable(), s.range.x0 / 3, s.range.y0, s.range.x0 / 3 + w - 1,
                           s.range.y0 + s.range.h - 1);
     }},
};

struct Shape {
    int w, h;
};
// Single pixels, single rows and columns, odd sizes, and one large enough
// for acquisition to split its pixel blocks.
const Shape kShapes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {17, 13}, {67, 45}, {301, 223}};

// What a window hears from the calling thread while a filter runs.
struct TickCounter : WorkObserver {
    int ticks = 0;
    void OnWorkBegin() override {}
    void OnWorkEnd() override {}
    void OnWorkTick(int, int) override { ++ticks; }
};

std::vector<uint8_t> Produce(const Operation& op, const Shape& shape, int threads, int bandRows,
                             TickCounter* observer = nullptr)
{
    SetWorkObserver(observer);
    SetParallelThreads(threads);
    SetParallelBandRows(bandRows);
    Canvas src(shape.w, shape.h), dst(shape.w, shape.h);
    std::mt19937 rng(shape.w * 131 + shape.h);
    for (uint8_t& p : src.px)
        p = op.binarySource ? ((rng() & 3) == 0 ? static_cast<uint8_t>(rng() % 7) : (rng() & 1) * 255)
                            : static_cast<uint8_t>(rng());
    std::vector<uint8_t> extra;
    op.run(src, dst, extra);
    SetParallelThreads(0);
    SetParallelBandRows(0);
    SetWorkObserver(nullptr);
    dst.px.insert(dst.px.end(), extra.begin(), extra.end());
    return dst.px;
}

class ParallelBytes : public ::testing::TestWithParam<Operation> {};

TEST_P(ParallelBytes, SameForAnyThreadCount)
{
    for (const Shape& shape : kShapes) {
        const std::vector<uint8_t> want = Produce(GetParam(), shape, 1, 0);
        for (int threads : {2, 3, 7}) {
            SCOPED_TRACE(std::to_string(shape.w) + "x" + std::to_string(shape.h) + ", " +
                         std::to_string(threads) + " threads");
            const int stride = shape.w + 7;
            EXPECT_EQ(ref::FirstDifference(Produce(GetParam(), shape, threads, 1), want, stride), "");
        }
        // A caller that reports between bands (one thread goes band by
        // band then) writes the same bytes.
        for (int threads : {1, 2}) {
            SCOPED_TRACE(std::to_string(shape.w) + "x" + std::to_string(shape.h) + ", " +
                         std::to_string(threads) + " threads, observed");
            TickCounter observer;
            EXPECT_EQ(ref::FirstDifference(Produce(GetParam(), shape, threads, 1, &observer), want, shape.w + 7), "");
            if (shape.h > 100) {
                EXPECT_GT(observer.ticks, 0);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, ParallelBytes, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumadrift
