// Binarization, dilation, erosion and thinning on 4096 x 4096 planes (the
// peer rows are in bench_compare.cpp).
#include "bench_support.h"

#include <cstdint>
#include <random>
#include <vector>

#include "filters/binary.h"


namespace {

using namespace lumadrift;

using bench::kPixels;
using bench::kRange;
using bench::kSide;

struct Planes {
    std::vector<uint8_t> gray, binary, blobs, out;
    Planes() : gray(kPixels), binary(kPixels), blobs(kPixels), out(kPixels)
    {
        std::mt19937 rng(11);
        for (size_t i = 0; i < kPixels; ++i) {
            gray[i] = static_cast<uint8_t>(rng());
            binary[i] = (rng() & 1) ? 255 : 0;
        }
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


void BM_Binarize(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { BinarizeKernel(p.gray.data(), p.out.data(), kSide, kRange, 60, 190, 0); });
}
BENCHMARK(BM_Binarize)->Unit(benchmark::kMillisecond);

void BM_Dilate(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { DilateKernel(p.binary.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_Dilate)->Unit(benchmark::kMillisecond);

void BM_Erode(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { ErodeKernel(p.binary.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_Erode)->Unit(benchmark::kMillisecond);

void BM_ThinBlobs(benchmark::State& state)
{
    bench::Loop<Planes>(state, [](Planes& p) { ThinKernel(p.blobs.data(), p.out.data(), kSide, kRange); });
}
BENCHMARK(BM_ThinBlobs)->Unit(benchmark::kMillisecond);


}  // namespace
