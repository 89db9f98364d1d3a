// Labeling with the statistics of the result list on 4096 x 4096 planes (the
// peer rows are in bench_compare.cpp).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "filters/labeling.h"


namespace {

using namespace lumadrift;

constexpr int kSide = 4096;
constexpr size_t kPixels = static_cast<size_t>(kSide) * kSide;
const FilterRange kRange{0, 0, kSide, kSide};

struct Planes {
    std::vector<uint8_t> blobs, noise, out;
    Planes() : blobs(kPixels), noise(kPixels), out(kPixels)
    {
        std::mt19937 rng(11);
        for (size_t i = 0; i < kPixels; ++i)
            noise[i] = (rng() & 1) ? 255 : 0;
        // 1000 filled ellipses of 10..60 pixels radius, some overlapping.
        for (int blob = 0; blob < 1000; ++blob) {
            const int cx = rng() % kSide, cy = rng() % kSide;
            const int rx = 10 + rng() % 51, ry = 10 + rng() % 51;
            for (int y = std::max(cy - ry, 0); y <= std::min(cy + ry, kSide - 1); ++y) {
                for (int x = std::max(cx - rx, 0); x <= std::min(cx + rx, kSide - 1); ++x) {
                    const double u = double(x - cx) / rx, v = double(y - cy) / ry;
                    if (u * u + v * v <= 1.0)
                        blobs[static_cast<size_t>(y) * kSide + x] = 255;
                }
            }
        }
    }
};

Planes& Data()
{
    static Planes p;
    return p;
}

// Label, then the rows of the result list (area, bounding box, centroid of
// every listed label, gathered in one pass).
void LabelWithRows(benchmark::State& state, const std::vector<uint8_t>& src)
{
    Planes& p = Data();
    for (auto _ : state) {
        const LabelOutcome o = LabelKernel(src.data(), p.out.data(), kSide, kRange);
        auto rows = LabelingResultRows(p.out.data(), kSide, kRange, o.count);
        benchmark::DoNotOptimize(rows.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPixels);
}

void BM_LabelBlobsWithStats(benchmark::State& state) { LabelWithRows(state, Data().blobs); }
BENCHMARK(BM_LabelBlobsWithStats)->Unit(benchmark::kMillisecond);

void BM_LabelNoiseWithStats(benchmark::State& state) { LabelWithRows(state, Data().noise); }
BENCHMARK(BM_LabelNoiseWithStats)->Unit(benchmark::kMillisecond);


}  // namespace
