// Sobel magnitude and 3 x 3 / 5 x 5 convolution on 4096 x 4096 planes, next
// to the closest OpenCV calls on the same data, single-threaded.
#include "bench_support.h"

#include <cstdint>
#include <random>
#include <vector>

#include "filters/derivative.h"

#ifdef LUMADRIFT_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace lumadrift;

using bench::kPixels;
using bench::kRange;
using bench::kSide;

// Real coefficients, so the double path runs (integer kernels take a
// 16-bit path of their own, measured by BM_DerivSmooth).
const double kReal3[9] = {0.5, 1.25, 0.5, 1.25, -2.5, 1.25, 0.5, 1.25, 0.3};
const double kReal5[25] = {0.1, 0.2, 0.3, 0.2, 0.1, 0.2, 0.4, 0.6, 0.4, 0.2, 0.3, 0.6,
                           1.7, 0.6, 0.3, 0.2, 0.4, 0.6, 0.4, 0.2, 0.1, 0.2, 0.3, 0.2, 0.1};

struct Planes {
    std::vector<uint8_t> gray = bench::RandomPlane(21);
    std::vector<uint8_t> out = std::vector<uint8_t>(kPixels);
};


void BM_DerivSobel(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { SobelKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_DerivSobel)->Unit(benchmark::kMillisecond);

void BM_DerivRoberts(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { RobertsKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_DerivRoberts)->Unit(benchmark::kMillisecond);

void BM_DerivConvolve3x3(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { ConvolveKernel(p.gray.data(), p.out.data(), kSide, kRange, 3, 3, kReal3); });
}
BENCHMARK(BM_DerivConvolve3x3)->Unit(benchmark::kMillisecond);

void BM_DerivConvolve5x5(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { ConvolveKernel(p.gray.data(), p.out.data(), kSide, kRange, 5, 5, kReal5); });
}
BENCHMARK(BM_DerivConvolve5x5)->Unit(benchmark::kMillisecond);

void BM_DerivSmooth(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { SmoothKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_DerivSmooth)->Unit(benchmark::kMillisecond);

void BM_DerivLaplacian(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { LaplacianKernel(p.gray.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_DerivLaplacian)->Unit(benchmark::kMillisecond);

#ifdef LUMADRIFT_HAVE_OPENCV
// dx and dy, their magnitude in float, and the conversion back to bytes.
void BM_DerivCvSobelMagnitude(benchmark::State& state)
{
    cv::setNumThreads(1);
    Planes& p = bench::Shared<Planes>();
    const cv::Mat src(kSide, kSide, CV_8U, p.gray.data());
    cv::Mat out(kSide, kSide, CV_8U, p.out.data());
    cv::Mat dx, dy, mag;
    for (auto _ : state) {
        cv::Sobel(src, dx, CV_32F, 1, 0, 3, 1, 0, cv::BORDER_REFLECT);
        cv::Sobel(src, dy, CV_32F, 0, 1, 3, 1, 0, cv::BORDER_REFLECT);
        cv::magnitude(dx, dy, mag);
        mag.convertTo(out, CV_8U);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}
BENCHMARK(BM_DerivCvSobelMagnitude)->Unit(benchmark::kMillisecond);

// filter2D in double precision; the input is converted to doubles once,
// outside the timing, which favours OpenCV.
void CvFilter64(benchmark::State& state, int size, const double* k)
{
    cv::setNumThreads(1);
    Planes& p = bench::Shared<Planes>();
    cv::Mat src64;
    cv::Mat(kSide, kSide, CV_8U, p.gray.data()).convertTo(src64, CV_64F);
    const cv::Mat kernel(size, size, CV_64F, const_cast<double*>(k));
    cv::Mat out;
    for (auto _ : state) {
        cv::filter2D(src64, out, CV_64F, kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}

void BM_DerivCvFilter2D3x3F64(benchmark::State& state) { CvFilter64(state, 3, kReal3); }
BENCHMARK(BM_DerivCvFilter2D3x3F64)->Unit(benchmark::kMillisecond);

void BM_DerivCvFilter2D5x5F64(benchmark::State& state) { CvFilter64(state, 5, kReal5); }
BENCHMARK(BM_DerivCvFilter2D5x5F64)->Unit(benchmark::kMillisecond);

// The 8-bit smoothing kernel with OpenCV's own fixed-point path.
void BM_DerivCvFilter2DSmooth8U(benchmark::State& state)
{
    cv::setNumThreads(1);
    Planes& p = bench::Shared<Planes>();
    const cv::Mat src(kSide, kSide, CV_8U, p.gray.data());
    cv::Mat out(kSide, kSide, CV_8U, p.out.data());
    cv::Mat kernel(3, 3, CV_32F);
    for (int i = 0; i < 9; ++i)
        kernel.at<float>(i / 3, i % 3) = static_cast<float>(kSmoothKernel[i] / 16.0);
    for (auto _ : state) {
        cv::filter2D(src, out, CV_8U, kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
        benchmark::DoNotOptimize(out.data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}
BENCHMARK(BM_DerivCvFilter2DSmooth8U)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
