// Channel acquisition over a 4096 x 4096 range, next to a plain copy of one
// plane of the same size.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/acquisition.h"

namespace {

constexpr size_t kSide = 4096;
constexpr size_t kPixels = kSide * kSide;

struct Planes {
    std::vector<uint8_t> r, g, b, out;
    Planes() : r(kPixels), g(kPixels), b(kPixels), out(kPixels)
    {
        std::mt19937 rng(7);
        for (size_t i = 0; i < kPixels; ++i) {
            const uint32_t v = rng();
            r[i] = static_cast<uint8_t>(v);
            g[i] = static_cast<uint8_t>(v >> 8);
            b[i] = static_cast<uint8_t>(v >> 16);
        }
    }
};

Planes& Data()
{
    static Planes p;
    return p;
}

void BM_Acquire_CopyOfOnePlane(benchmark::State& state)
{
    Planes& p = Data();
    for (auto _ : state) {
        std::memcpy(p.out.data(), p.r.data(), kPixels);
        benchmark::DoNotOptimize(p.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}
BENCHMARK(BM_Acquire_CopyOfOnePlane)->Unit(benchmark::kMillisecond);

void BM_Acquire(benchmark::State& state)
{
    Planes& p = Data();
    const int channel = static_cast<int>(state.range(0));
    const bool invert = state.range(1) != 0;
    for (auto _ : state) {
        lumadrift::AcquireChannelPixels(p.r.data(), p.g.data(), p.b.data(), kPixels, channel,
                                        invert, 30.0, p.out.data());
        benchmark::DoNotOptimize(p.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
    static const char* const kNames[] = {"red", "green", "blue", "brightness", "hue", "saturation"};
    state.SetLabel(std::string(kNames[channel]) + (invert ? " inverted" : ""));
}
BENCHMARK(BM_Acquire)
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({2, 1})
    ->Args({3, 0})
    ->Args({4, 0})
    ->Args({5, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace
