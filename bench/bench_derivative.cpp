// Gradient magnitudes and 3 x 3 / 5 x 5 convolution on 4096 x 4096 planes
// (the peer rows are in bench_compare.cpp).
#include "bench_support.h"

#include <cstdint>
#include <random>
#include <vector>

#include "filters/derivative.h"


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


}  // namespace
