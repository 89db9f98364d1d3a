// Contrast, gamma correction and equalization on a 4096 x 4096 random plane,
// next to the closest OpenCV call on the same data, single-threaded.
#include "bench_support.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "filters/density.h"

#ifdef LUMADRIFT_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace lumadrift;

using bench::kPixels;
using bench::kRange;
using bench::kSide;

struct Planes {
    std::vector<uint8_t> gray = bench::RandomPlane(12);
    std::vector<uint8_t> out = std::vector<uint8_t>(kPixels);
};


void BM_Contrast(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { ContrastKernel(p.gray.data(), p.out.data(), kSide, kRange, 1.3); });
}
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);

void BM_Gamma(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { GammaKernel(p.gray.data(), p.out.data(), kSide, kRange, 2.2); });
}
BENCHMARK(BM_Gamma)->Unit(benchmark::kMillisecond);

void BM_Equalize(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { EqualizeKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_Equalize)->Unit(benchmark::kMillisecond);

// The same three filters with the look-up path forced, so the fallbacks for
// processors without 64-byte byte permutes show next to the path this
// machine picks by itself.
template <typename Run>
void LoopOnPath(benchmark::State& state, TableLookupPath path, Run run)
{
    if (!SetTableLookupPath(path)) {
        state.SkipWithError("look-up path not available on this processor");
        return;
    }
    bench::Loop<Planes>(state, run);
    SetTableLookupPath(TableLookupPath::kAuto);
}

void BM_ContrastOnPath(benchmark::State& state, TableLookupPath path)
{
    LoopOnPath(state, path, [](Planes& p) { ContrastKernel(p.gray.data(), p.out.data(), kSide, kRange, 1.3); });
}
BENCHMARK_CAPTURE(BM_ContrastOnPath, avx2, TableLookupPath::kAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ContrastOnPath, scalar, TableLookupPath::kScalar)->Unit(benchmark::kMillisecond);

void BM_GammaOnPath(benchmark::State& state, TableLookupPath path)
{
    LoopOnPath(state, path, [](Planes& p) { GammaKernel(p.gray.data(), p.out.data(), kSide, kRange, 2.2); });
}
BENCHMARK_CAPTURE(BM_GammaOnPath, avx2, TableLookupPath::kAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GammaOnPath, scalar, TableLookupPath::kScalar)->Unit(benchmark::kMillisecond);

void BM_EqualizeOnPath(benchmark::State& state, TableLookupPath path)
{
    LoopOnPath(state, path, [](Planes& p) { EqualizeKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK_CAPTURE(BM_EqualizeOnPath, avx2, TableLookupPath::kAvx2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EqualizeOnPath, scalar, TableLookupPath::kScalar)->Unit(benchmark::kMillisecond);

#ifdef LUMADRIFT_HAVE_OPENCV
cv::Mat Wrap(std::vector<uint8_t>& v) { return cv::Mat(kSide, kSide, CV_8UC1, v.data()); }

void BM_Contrast_OpenCV_convertTo(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        Wrap(p.gray).convertTo(out, CV_8U, 1.3, 0.0);
    });
}
BENCHMARK(BM_Contrast_OpenCV_convertTo)->Unit(benchmark::kMillisecond);

void BM_Gamma_OpenCV_LUT(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat lut(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        lut.at<uint8_t>(i) = static_cast<uint8_t>(std::pow(i / 255.0, 1.0 / 2.2) * 255.0);
    bench::Loop<Planes>(state, [&](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::LUT(Wrap(p.gray), lut, out);
    });
}
BENCHMARK(BM_Gamma_OpenCV_LUT)->Unit(benchmark::kMillisecond);

void BM_Equalize_OpenCV_equalizeHist(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::equalizeHist(Wrap(p.gray), out);
    });
}
BENCHMARK(BM_Equalize_OpenCV_equalizeHist)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
