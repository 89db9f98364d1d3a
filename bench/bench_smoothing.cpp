// Moving average, median and rank filters on a 4096 x 4096 random plane, at
// the pool's default thread count (the peer rows are in bench_compare.cpp).
#include "bench_support.h"

#include <cstdint>
#include <random>
#include <vector>

#include "filters/smoothing.h"


namespace {

using namespace lumadrift;

using bench::kPixels;
using bench::kRange;
using bench::kSide;

struct Planes {
    std::vector<uint8_t> gray = bench::RandomPlane(13);
    std::vector<uint8_t> out = std::vector<uint8_t>(kPixels);
};


void BM_MovingAverage(benchmark::State& state)
{
    const int k = static_cast<int>(state.range(0));
    bench::Loop<Planes>(state, [k](Planes& p) { MovingAverageKernel(p.gray.data(), p.out.data(), kSide, kRange, k, k); });
}
BENCHMARK(BM_MovingAverage)->Arg(3)->Arg(15)->Unit(benchmark::kMillisecond);

void BM_Median(benchmark::State& state)
{
    const int k = static_cast<int>(state.range(0));
    bench::Loop<Planes>(state, [k](Planes& p) {
        RankFilterKernel(p.gray.data(), p.out.data(), kSide, kRange, k, k, MedianRank(k, k));
    });
}
BENCHMARK(BM_Median)->Arg(3)->Arg(5)->Arg(7)->Arg(11)->Arg(15)->Unit(benchmark::kMillisecond);

// Rank positions of a 5 x 5 window: lowest, a quarter, highest minus one.
void BM_Rank5x5(benchmark::State& state)
{
    const int rank = static_cast<int>(state.range(0));
    bench::Loop<Planes>(state, [rank](Planes& p) { RankFilterKernel(p.gray.data(), p.out.data(), kSide, kRange, 5, 5, rank); });
}
BENCHMARK(BM_Rank5x5)->Arg(0)->Arg(6)->Arg(12)->Arg(18)->Arg(23)->Arg(24)->Unit(benchmark::kMillisecond);


}  // namespace
