// Affine transformation of a 4096 x 4096 plane on each instruction-set path
// (the peer row is in bench_compare.cpp).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/isa.h"
#include "filters/affine.h"


namespace {

using namespace lumadrift;

constexpr int kSide = 4096;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;
const FilterRange kRange{0, 0, kSide, kSide};
const AffineParams kParams{30.0, 2048.0, 2048.0, 1.2, 0.9, 10.0, -5.0};

struct Planes {
    std::vector<uint8_t> gray, out;
    Planes() : gray(kPixels), out(kPixels)
    {
        std::mt19937 rng(41);
        for (size_t i = 0; i < kPixels; ++i)
            gray[i] = static_cast<uint8_t>(rng());
    }
};

Planes& Data()
{
    static Planes p;
    return p;
}

void BM_Affine(benchmark::State& state)
{
    Planes& p = Data();
    for (auto _ : state) {
        AffineTransformKernel(p.gray.data(), p.out.data(), kSide, kRange, kParams);
        benchmark::DoNotOptimize(p.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}
BENCHMARK(BM_Affine)->Unit(benchmark::kMillisecond);

// The narrower paths, for machines without the widest instructions.
void BM_AffineLimited(benchmark::State& state)
{
    ScopedIsaCap cap(static_cast<IsaLevel>(state.range(0)));
    Planes& p = Data();
    for (auto _ : state) {
        AffineTransformKernel(p.gray.data(), p.out.data(), kSide, kRange, kParams);
        benchmark::DoNotOptimize(p.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
    state.SetLabel(IsaName(static_cast<IsaLevel>(state.range(0))));
}
BENCHMARK(BM_AffineLimited)
    ->Arg(static_cast<int>(IsaLevel::Scalar))
    ->Arg(static_cast<int>(IsaLevel::Avx2))
    ->Unit(benchmark::kMillisecond);

}  // namespace
