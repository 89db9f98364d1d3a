// What the filter benchmarks share: the 4096 x 4096 plane they all run on,
// random test data, and the timing loop.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "filters/border.h"

namespace lumadrift::bench {

constexpr int kSide = 4096;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;
const FilterRange kRange{0, 0, kSide, kSide};

// Uniformly random bytes, the same for the same seed.
inline std::vector<uint8_t> RandomPlane(uint32_t seed, size_t pixels = kPixels)
{
    std::vector<uint8_t> plane(pixels);
    std::mt19937 rng(seed);
    for (uint8_t& p : plane)
        p = static_cast<uint8_t>(rng());
    return plane;
}

// Times run(data) per iteration; out is the buffer the filter writes, kept
// alive so the work is not optimised away.
template <typename Data, typename Run>
void TimeLoop(benchmark::State& state, Data& data, const uint8_t* out, Run run)
{
    for (auto _ : state) {
        run(data);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPixels));
}

// One instance of a benchmark file's test data, made on first use.
template <typename Data>
Data& Shared()
{
    static Data data;
    return data;
}

// TimeLoop over the shared data, whose out buffer the filter writes.
template <typename Data, typename Run>
void Loop(benchmark::State& state, Run run)
{
    Data& data = Shared<Data>();
    TimeLoop(state, data, data.out.data(), run);
}

}  // namespace lumadrift::bench
