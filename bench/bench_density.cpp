// Contrast, gamma correction and equalization on a 4096 x 4096 random plane,
// next to the closest OpenCV call on the same data, single-threaded.
#include <benchmark/benchmark.h>

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

constexpr int kSide = 4096;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;
const FilterRange kRange{0, 0, kSide, kSide};

struct Planes {
    std::vector<uint8_t> gray, out;
    Planes() : gray(kPixels), out(kPixels)
    {
        std::mt19937 rng(12);
        for (uint8_t& p : gray)
            p = static_cast<uint8_t>(rng());
    }
};

Planes& Data()
{
    static Planes p;
    return p;
}

template <typename Run>
void Loop(benchmark::State& state, Run run)
{
    Planes& p = Data();
    for (auto _ : state) {
        run(p);
        benchmark::DoNotOptimize(p.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}

void BM_Contrast(benchmark::State& state)
{
    Loop(state, [](Planes& p) { ContrastKernel(p.gray.data(), p.out.data(), kSide, kRange, 1.3); });
}
BENCHMARK(BM_Contrast)->Unit(benchmark::kMillisecond);

void BM_Gamma(benchmark::State& state)
{
    Loop(state, [](Planes& p) { GammaKernel(p.gray.data(), p.out.data(), kSide, kRange, 2.2); });
}
BENCHMARK(BM_Gamma)->Unit(benchmark::kMillisecond);

void BM_Equalize(benchmark::State& state)
{
    Loop(state, [](Planes& p) { EqualizeKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_Equalize)->Unit(benchmark::kMillisecond);

#ifdef LUMADRIFT_HAVE_OPENCV
cv::Mat Wrap(std::vector<uint8_t>& v) { return cv::Mat(kSide, kSide, CV_8UC1, v.data()); }

void BM_Contrast_OpenCV_convertTo(benchmark::State& state)
{
    cv::setNumThreads(1);
    Loop(state, [](Planes& p) {
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
    Loop(state, [&](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::LUT(Wrap(p.gray), lut, out);
    });
}
BENCHMARK(BM_Gamma_OpenCV_LUT)->Unit(benchmark::kMillisecond);

void BM_Equalize_OpenCV_equalizeHist(benchmark::State& state)
{
    cv::setNumThreads(1);
    Loop(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::equalizeHist(Wrap(p.gray), out);
    });
}
BENCHMARK(BM_Equalize_OpenCV_equalizeHist)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
