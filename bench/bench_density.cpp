// Contrast, gamma correction and equalization on a 4096 x 4096 random plane,
// on each look-up path (the peer rows are in bench_compare.cpp).
#include "bench_support.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/isa.h"
#include "filters/density.h"


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
    if (!TableLookupPathAvailable(path)) {
        state.SkipWithError("look-up path not available on this processor");
        return;
    }
    ScopedIsaCap cap(path == TableLookupPath::kAvx2 ? IsaLevel::Avx2 : IsaLevel::Scalar);
    bench::Loop<Planes>(state, run);
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


}  // namespace
