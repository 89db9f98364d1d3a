// Binarization, dilation, erosion and thinning on 4096 x 4096 planes, next to
// the closest OpenCV call on the same data, single-threaded.
#include "bench_support.h"

#include <cstdint>
#include <random>
#include <vector>

#include "filters/binary.h"

#ifdef LUMADRIFT_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#if defined(LUMADRIFT_HAVE_OPENCV_XIMGPROC) && __has_include(<opencv2/ximgproc.hpp>)
#include <opencv2/ximgproc.hpp>
#define LUMADRIFT_BENCH_XIMGPROC 1
#endif
#endif

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

#ifdef LUMADRIFT_HAVE_OPENCV
cv::Mat Wrap(std::vector<uint8_t>& v) { return cv::Mat(kSide, kSide, CV_8UC1, v.data()); }

void BM_Binarize_OpenCV_inRange(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::inRange(Wrap(p.gray), cv::Scalar(61), cv::Scalar(189), out);
    });
}
BENCHMARK(BM_Binarize_OpenCV_inRange)->Unit(benchmark::kMillisecond);

void BM_Dilate_OpenCV_dilate3x3(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::dilate(Wrap(p.binary), out, cv::Mat());
    });
}
BENCHMARK(BM_Dilate_OpenCV_dilate3x3)->Unit(benchmark::kMillisecond);

void BM_Erode_OpenCV_erode3x3(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::erode(Wrap(p.binary), out, cv::Mat());
    });
}
BENCHMARK(BM_Erode_OpenCV_erode3x3)->Unit(benchmark::kMillisecond);

#ifdef LUMADRIFT_BENCH_XIMGPROC
void BM_ThinBlobs_OpenCV_ximgproc_thinning(benchmark::State& state)
{
    cv::setNumThreads(1);
    bench::Loop<Planes>(state, [](Planes& p) {
        cv::Mat out = Wrap(p.out);
        cv::ximgproc::thinning(Wrap(p.blobs), out, cv::ximgproc::THINNING_ZHANGSUEN);
    });
}
BENCHMARK(BM_ThinBlobs_OpenCV_ximgproc_thinning)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif
#endif

}  // namespace
