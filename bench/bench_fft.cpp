// Forward plus inverse two-dimensional transform of one grid, next to FFTW
// (planned with FFTW_MEASURE and FFTW_ESTIMATE) and cv::dft when they are
// installed, all on the same picture in the same run. Every comparison runs
// on one thread; the Lumadrift figures are also given for two workers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filters/fft.h"

#ifdef LUMADRIFT_HAVE_FFTW
#include <fftw3.h>
#endif
#ifdef LUMADRIFT_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace {

using namespace lumadrift;

// A gray picture of side x side pixels, the same for every contender.
const std::vector<double>& Picture(int side)
{
    static std::vector<double> pictures[2];
    std::vector<double>& p = pictures[side > 1024 ? 1 : 0];
    if (p.size() != static_cast<size_t>(side) * side) {
        p.resize(static_cast<size_t>(side) * side);
        uint32_t state = 2463534242u;
        for (auto& v : p) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            v = static_cast<double>(state & 255u);
        }
    }
    return p;
}

// Through the bank, as the document runs it: slot 0 is both source and
// destination.
void BM_FftLumadrift(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    FftBank fft;
    if (fft.CreateFftBank(1, side, side) != 0) {
        state.SkipWithError("no memory for the bank");
        return;
    }
    const std::vector<double>& pic = Picture(side);
    std::copy(pic.begin(), pic.end(), fft.Real(0));
    for (auto _ : state) {
        if (Fft2DThreaded(fft, 1, threads) != 0 || Fft2DThreaded(fft, -1, threads) != 0)
            state.SkipWithError("transform refused");
        benchmark::DoNotOptimize(fft.Real(0));
    }
}
BENCHMARK(BM_FftLumadrift)
    ->ArgNames({"side", "threads"})
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Args({4096, 1})
    ->Args({4096, 2})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();

#ifdef LUMADRIFT_HAVE_FFTW
void RunFftw(benchmark::State& state, unsigned flags)
{
    const int side = static_cast<int>(state.range(0));
    const size_t cells = static_cast<size_t>(side) * side;
    fftw_complex* data = fftw_alloc_complex(cells);
    // Planning with FFTW_MEASURE overwrites the array, so the picture goes in
    // afterwards.
    fftw_plan forward = fftw_plan_dft_2d(side, side, data, data, FFTW_FORWARD, flags);
    fftw_plan inverse = fftw_plan_dft_2d(side, side, data, data, FFTW_BACKWARD, flags);
    const std::vector<double>& pic = Picture(side);
    for (size_t i = 0; i < cells; ++i) {
        data[i][0] = pic[i];
        data[i][1] = 0.0;
    }
    const double scale = 1.0 / static_cast<double>(cells);
    for (auto _ : state) {
        fftw_execute(forward);
        fftw_execute(inverse);
        // FFTW leaves the inverse unscaled; scale as the other contenders do.
        for (size_t i = 0; i < cells; ++i) {
            data[i][0] *= scale;
            data[i][1] *= scale;
        }
        benchmark::DoNotOptimize(data);
    }
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(data);
}
void BM_FftFftwMeasure(benchmark::State& state) { RunFftw(state, FFTW_MEASURE); }
void BM_FftFftwEstimate(benchmark::State& state) { RunFftw(state, FFTW_ESTIMATE); }
BENCHMARK(BM_FftFftwMeasure)
    ->ArgName("side")
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_FftFftwEstimate)
    ->ArgName("side")
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
#endif

#ifdef LUMADRIFT_HAVE_OPENCV
void BM_FftOpenCv(benchmark::State& state)
{
    const int side = static_cast<int>(state.range(0));
    const int oldThreads = cv::getNumThreads();
    cv::setNumThreads(1);
    const std::vector<double>& pic = Picture(side);
    cv::Mat data(side, side, CV_64FC2);
    for (int y = 0; y < side; ++y) {
        auto* row = data.ptr<cv::Vec2d>(y);
        for (int x = 0; x < side; ++x)
            row[x] = cv::Vec2d(pic[static_cast<size_t>(y) * side + x], 0.0);
    }
    cv::Mat spectrum;
    for (auto _ : state) {
        cv::dft(data, spectrum, cv::DFT_COMPLEX_OUTPUT);
        cv::dft(spectrum, data, cv::DFT_INVERSE | cv::DFT_SCALE | cv::DFT_COMPLEX_OUTPUT);
        benchmark::DoNotOptimize(data.data);
    }
    cv::setNumThreads(oldThreads);
}
BENCHMARK(BM_FftOpenCv)
    ->ArgName("side")
    ->Arg(1024)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
#endif

}  // namespace
