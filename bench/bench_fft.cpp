// Forward plus inverse two-dimensional transform of one grid at 1024 and
// 4096, one and two workers (the peer rows are in bench_compare.cpp).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filters/fft.h"


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


}  // namespace
