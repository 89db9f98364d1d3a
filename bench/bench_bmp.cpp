// BMP reading and gray writing next to a plain copy of the same bytes, in the
// same run, so the ratio means something on whatever machine runs it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/bmp.h"
#include "core/image_model.h"

namespace {

using namespace lumadrift;

constexpr int kSide = 4096;

std::vector<uint8_t> MakeBmp24(int width, int height)
{
    const size_t stride = DibStride(width, 24);
    std::vector<uint8_t> file(54 + stride * height);
    uint8_t* p = file.data();
    p[0] = 'B';
    p[1] = 'M';
    PutLe32(p + 2, static_cast<uint32_t>(file.size()));
    PutLe32(p + 10, 54);
    PutLe32(p + 14, 40);
    PutLe32(p + 18, static_cast<uint32_t>(width));
    PutLe32(p + 22, static_cast<uint32_t>(height));
    PutLe16(p + 26, 1);
    PutLe16(p + 28, 24);
    uint32_t state = 12345;
    for (size_t i = 54; i < file.size(); ++i) {
        state = state * 1103515245u + 12345u;
        file[i] = static_cast<uint8_t>(state >> 16);
    }
    return file;
}

const std::vector<uint8_t>& Bmp24()
{
    static const std::vector<uint8_t> file = MakeBmp24(kSide, kSide);
    return file;
}

// fresh = true: a new LoadedBmp every time, so its 48 MB buffer is faulted
// in anew (compare with BM_CopyBmp24BytesFresh). false: the document's buffer
// is reused, as when it opens a file of the same size again (compare with
// BM_CopyBmp24Bytes).
void BM_DecodeBmp24(benchmark::State& state)
{
    const bool fresh = state.range(0) != 0;
    const auto& file = Bmp24();
    const size_t plane = static_cast<size_t>(kSide) * kSide;
    std::vector<uint8_t> r(plane), g(plane), b(plane);
    LoadedBmp reused;
    for (auto _ : state) {
        LoadedBmp local;
        LoadedBmp& bmp = fresh ? local : reused;
        if (ParseBmp(file.data(), file.size(), bmp) != BmpError::kNone) {
            state.SkipWithError("parse failed");
            break;
        }
        DecodeDibToPlanes(r.data(), g.data(), b.data(), bmp.pixels(), bmp.pixelBytes(), bmp.info,
                          bmp.colorTable(), 0, 0, kSide - 1, kSide - 1);
        benchmark::DoNotOptimize(r.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_DecodeBmp24)->ArgName("fresh")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The decoder's yardstick: copying the file's bytes once.
void BM_CopyBmp24Bytes(benchmark::State& state)
{
    const auto& file = Bmp24();
    std::vector<uint8_t> dst(file.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), file.data(), file.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_CopyBmp24Bytes)->Unit(benchmark::kMillisecond);

// The same copy into a newly allocated buffer, page faults included.
void BM_CopyBmp24BytesFresh(benchmark::State& state)
{
    const auto& file = Bmp24();
    for (auto _ : state) {
        std::vector<uint8_t> dst(file.begin(), file.end());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_CopyBmp24BytesFresh)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> MakePlane()
{
    std::vector<uint8_t> plane(static_cast<size_t>(kSide) * kSide);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    return plane;
}

void BM_BuildGrayBmp(benchmark::State& state)
{
    const auto plane = MakePlane();
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<uint8_t> file = BuildGrayBmp(plane.data(), kSide, kSide);
        bytes = file.size();
        benchmark::DoNotOptimize(file.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BuildGrayBmp)->Unit(benchmark::kMillisecond);

// The writer's yardstick: copying as many bytes as the gray file holds.
void BM_CopyGrayBytes(benchmark::State& state)
{
    const size_t bytes = 1078 + static_cast<size_t>(GrayStride(kSide)) * kSide;
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CopyGrayBytes)->Unit(benchmark::kMillisecond);

}  // namespace
