// The comparison table: each row times one of our operations and the peer's
// closest call on the same 4096 x 4096 data, each at one thread and at its
// default threading ("all"). Both sides write into outputs allocated before
// the timing and get one untimed warm-up call, so first-touch page faults
// and allocation are outside the loop for both. scripts/bench turns the
// figures into a Markdown table with the ratio ours / the peer's best.
//
// Benchmark names: cmp/<row>/<side>/<threads>, side "ours" or the peer's
// name, threads "1" or "all".
#include "bench_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/acquisition.h"
#include "core/bmp.h"
#include "core/file_io.h"
#include "core/parallel.h"
#include "filters/affine.h"
#include "filters/binary.h"
#include "filters/density.h"
#include "filters/derivative.h"
#include "filters/fft.h"
#include "filters/labeling.h"
#include "filters/smoothing.h"

#ifdef LUMADRIFT_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#if defined(LUMADRIFT_HAVE_OPENCV_XIMGPROC) && __has_include(<opencv2/ximgproc.hpp>)
#include <opencv2/ximgproc.hpp>
#define LUMADRIFT_BENCH_XIMGPROC 1
#endif
#endif
#ifdef LUMADRIFT_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

using namespace lumadrift;
using bench::kPixels;
using bench::kRange;
using bench::kSide;

// ---- shared data ----------------------------------------------------------

struct Data {
    std::vector<uint8_t> gray = bench::RandomPlane(31);
    std::vector<uint8_t> noise, blobs;
    std::vector<uint8_t> r, g, b, bgr;
    std::vector<uint8_t> out = std::vector<uint8_t>(kPixels);
    std::vector<uint8_t> out3 = std::vector<uint8_t>(kPixels * 3);
    std::vector<uint8_t> red = std::vector<uint8_t>(kPixels), green = red, blue = red;
    std::vector<uint8_t> bmpFile;
    std::string bmpPath;

    Data() : noise(kPixels), blobs(kPixels), r(kPixels), g(kPixels), b(kPixels), bgr(3 * kPixels)
    {
        std::mt19937 rng(11);
        for (size_t i = 0; i < kPixels; ++i) {
            noise[i] = (rng() & 1) ? 255 : 0;
            const uint32_t v = rng();
            r[i] = static_cast<uint8_t>(v);
            g[i] = static_cast<uint8_t>(v >> 8);
            b[i] = static_cast<uint8_t>(v >> 16);
            bgr[3 * i] = b[i];
            bgr[3 * i + 1] = g[i];
            bgr[3 * i + 2] = r[i];
        }
        // 1000 filled ellipses of 10..60 pixels radius, some overlapping.
        for (int blob = 0; blob < 1000; ++blob) {
            const int cx = rng() % kSide, cy = rng() % kSide;
            const int rx = 10 + rng() % 51, ry = 10 + rng() % 51;
            for (int y = std::max(cy - ry, 0); y <= std::min(cy + ry, kSide - 1); ++y)
                for (int x = std::max(cx - rx, 0); x <= std::min(cx + rx, kSide - 1); ++x) {
                    const double u = double(x - cx) / rx, v = double(y - cy) / ry;
                    if (u * u + v * v <= 1.0)
                        blobs[static_cast<size_t>(y) * kSide + x] = 255;
                }
        }
        bmpFile = BuildBmp24(bgr.data(), kSide, kSide, static_cast<size_t>(kSide) * 3);
        char name[] = "/tmp/lumadrift-bench-XXXXXX.bmp";
        const int fd = mkstemps(name, 4);
        if (fd >= 0) {
            close(fd);
            bmpPath = name;
            WriteFileWhole(bmpPath, bmpFile);
        }
    }
    ~Data()
    {
        if (!bmpPath.empty())
            std::remove(bmpPath.c_str());
    }
};

Data& D()
{
    static Data d;
    return d;
}

// ---- registration ---------------------------------------------------------

// setThreads(1) for one thread, setThreads(0) for the side's default.
using SetThreads = std::function<void(int)>;

void SetOurThreads(int n) { SetParallelThreads(n); }

void Register(const std::string& row, const std::string& side, SetThreads setThreads,
              std::function<void()> run)
{
    for (int threads : {1, 0}) {
        const std::string name = "cmp/" + row + "/" + side + "/" + (threads == 1 ? "1" : "all");
        benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
            setThreads(threads);
            run();  // warm-up: first touch, look-up tables, plans
            for (auto _ : state) {
                run();
                benchmark::ClobberMemory();
            }
            state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kPixels));
            setThreads(0);
        })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.5);
    }
}

void Ours(const std::string& row, std::function<void()> run) { Register(row, "ours", SetOurThreads, std::move(run)); }

#ifdef LUMADRIFT_HAVE_OPENCV
void SetCvThreads(int n) { cv::setNumThreads(n == 1 ? 1 : -1); }
void Cv(const std::string& row, std::function<void()> run) { Register(row, "opencv", SetCvThreads, std::move(run)); }
cv::Mat M(std::vector<uint8_t>& v, int type = CV_8UC1) { return cv::Mat(kSide, kSide, type, v.data()); }
#endif

// Real coefficients, so the double path runs.
const double kReal5[25] = {0.1, 0.2, 0.3, 0.2, 0.1, 0.2, 0.4, 0.6, 0.4, 0.2, 0.3, 0.6, 1.7,
                           0.6, 0.3, 0.2, 0.4, 0.6, 0.4, 0.2, 0.1, 0.2, 0.3, 0.2, 0.1};
const double kReal3[9] = {0.5, 1.25, 0.5, 1.25, -2.5, 1.25, 0.5, 1.25, 0.3};
const AffineParams kAffine{30.0, 2048.0, 2048.0, 1.2, 0.9, 10.0, -5.0};

void Acquire(int channel)
{
    Data& d = D();
    AcquireChannelPixels(d.r.data(), d.g.data(), d.b.data(), kPixels, channel, false, 30.0, d.out.data());
}

int RegisterRows()
{
    // Acquisition works on the colour planes the decoder fills; the peer
    // converts the interleaved rows a decoder gives it.
    Ours("acquire-hue", [] { Acquire(kChannelHue); });
    Ours("acquire-brightness", [] { Acquire(kChannelBrightness); });
    Ours("acquire-saturation", [] { Acquire(kChannelSaturation); });
    Ours("smooth-1-2-1", [] { SmoothKernel(D().gray.data(), D().out.data(), kSide, kRange); });
    Ours("label-noise", [] {
        Data& d = D();
        const LabelOutcome o = LabelKernel(d.noise.data(), d.out.data(), kSide, kRange);
        benchmark::DoNotOptimize(LabelingResultRows(d.out.data(), kSide, kRange, o.count));
    });
    Ours("label-blobs", [] {
        Data& d = D();
        const LabelOutcome o = LabelKernel(d.blobs.data(), d.out.data(), kSide, kRange);
        benchmark::DoNotOptimize(LabelingResultRows(d.out.data(), kSide, kRange, o.count));
    });
    Ours("affine", [] { AffineTransformKernel(D().gray.data(), D().out.data(), kSide, kRange, kAffine); });
    Ours("equalize", [] { EqualizeKernel(D().gray.data(), D().out.data(), kSide, kRange); });
    Ours("convolve-3x3", [] { ConvolveKernel(D().gray.data(), D().out.data(), kSide, kRange, 3, 3, kReal3); });
    Ours("convolve-5x5", [] { ConvolveKernel(D().gray.data(), D().out.data(), kSide, kRange, 5, 5, kReal5); });
    for (int k : {3, 5, 7, 11, 15})
        Ours("median-" + std::to_string(k), [k] {
            RankFilterKernel(D().gray.data(), D().out.data(), kSide, kRange, k, k, MedianRank(k, k));
        });
    for (int k : {3, 15})
        Ours("average-" + std::to_string(k), [k] { MovingAverageKernel(D().gray.data(), D().out.data(), kSide, kRange, k, k); });
    Ours("binarize", [] { BinarizeKernel(D().gray.data(), D().out.data(), kSide, kRange, 60, 190, 0); });
    Ours("dilate", [] { DilateKernel(D().noise.data(), D().out.data(), kSide, kRange); });
    Ours("erode", [] { ErodeKernel(D().noise.data(), D().out.data(), kSide, kRange); });
    Ours("thin-blobs", [] { ThinKernel(D().blobs.data(), D().out.data(), kSide, kRange); });
    Ours("sobel", [] { SobelKernel(D().gray.data(), D().out.data(), kSide, kRange); });
    Ours("gamma", [] { GammaKernel(D().gray.data(), D().out.data(), kSide, kRange, 2.2); });
    Ours("contrast", [] { ContrastKernel(D().gray.data(), D().out.data(), kSide, kRange, 1.3); });
    Ours("bmp-open-24", [] {
        Data& d = D();
        LoadedBmp bmp;
        if (ReadBmpFile(d.bmpPath, bmp) == BmpError::kNone)
            DecodeDibToPlanes(d.red.data(), d.green.data(), d.blue.data(), bmp.pixels(), bmp.pixelBytes(),
                              bmp.info, bmp.colorTable(), 0, 0, kSide - 1, kSide - 1);
    });
    Ours("bmp-encode-gray", [] { benchmark::DoNotOptimize(BuildGrayBmp(D().gray.data(), kSide, kSide)); });

#ifdef LUMADRIFT_HAVE_OPENCV
    Cv("acquire-hue", [] {
        cv::Mat out = M(D().out3, CV_8UC3);
        cv::cvtColor(M(D().bgr, CV_8UC3), out, cv::COLOR_BGR2HSV);
    });
    Cv("acquire-brightness", [] {
        cv::Mat out = M(D().out);
        cv::cvtColor(M(D().bgr, CV_8UC3), out, cv::COLOR_BGR2GRAY);
    });
    Cv("acquire-saturation", [] {
        cv::Mat out = M(D().out3, CV_8UC3);
        cv::cvtColor(M(D().bgr, CV_8UC3), out, cv::COLOR_BGR2HSV);
    });
    Cv("smooth-1-2-1", [] {
        cv::Mat out = M(D().out);
        cv::GaussianBlur(M(D().gray), out, cv::Size(3, 3), 0, 0, cv::BORDER_REFLECT);
    });
    // Outputs kept across calls: after the warm-up they are reused.
    static cv::Mat labels, stats, centroids;
    Cv("label-noise", [] { cv::connectedComponentsWithStats(M(D().noise), labels, stats, centroids, 8, CV_32S); });
    Cv("label-blobs", [] { cv::connectedComponentsWithStats(M(D().blobs), labels, stats, centroids, 8, CV_32S); });
    Cv("affine", [] {
        const double t = kAffine.angle * 3.141592654 / 180.0, c = std::cos(t), s = std::sin(t);
        const double ox = kAffine.centerX + kAffine.shiftX, oy = kAffine.centerY + kAffine.shiftY;
        const cv::Mat m = (cv::Mat_<double>(2, 3) << c / kAffine.zoomX, -s / kAffine.zoomX,
                           (-c * ox + s * oy + kAffine.centerX) / kAffine.zoomX, s / kAffine.zoomY,
                           c / kAffine.zoomY, (-s * ox - c * oy + kAffine.centerY) / kAffine.zoomY);
        cv::Mat out = M(D().out);
        cv::warpAffine(M(D().gray), out, m, out.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                       cv::BORDER_CONSTANT, 0);
    });
    Cv("equalize", [] {
        cv::Mat out = M(D().out);
        cv::equalizeHist(M(D().gray), out);
    });
    // Our convolution divides by the coefficient sum; the peer gets the
    // kernel already divided.
    static const cv::Mat k3 = [] {
        const cv::Mat k(3, 3, CV_64F, const_cast<double*>(kReal3));
        return cv::Mat(k / cv::sum(k)[0]);
    }();
    static const cv::Mat k5 = [] {
        const cv::Mat k(5, 5, CV_64F, const_cast<double*>(kReal5));
        return cv::Mat(k / cv::sum(k)[0]);
    }();
    Cv("convolve-3x3", [] {
        cv::Mat out = M(D().out);
        cv::filter2D(M(D().gray), out, CV_8U, k3, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
    });
    Cv("convolve-5x5", [] {
        cv::Mat out = M(D().out);
        cv::filter2D(M(D().gray), out, CV_8U, k5, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
    });
    for (int k : {3, 5, 7, 11, 15})
        Cv("median-" + std::to_string(k), [k] {
            cv::Mat out = M(D().out);
            cv::medianBlur(M(D().gray), out, k);
        });
    for (int k : {3, 15})
        Cv("average-" + std::to_string(k), [k] {
            cv::Mat out = M(D().out);
            cv::blur(M(D().gray), out, cv::Size(k, k), cv::Point(-1, -1), cv::BORDER_REFLECT);
        });
    Cv("binarize", [] {
        cv::Mat out = M(D().out);
        cv::inRange(M(D().gray), cv::Scalar(61), cv::Scalar(189), out);
    });
    Cv("dilate", [] {
        cv::Mat out = M(D().out);
        cv::dilate(M(D().noise), out, cv::Mat());
    });
    Cv("erode", [] {
        cv::Mat out = M(D().out);
        cv::erode(M(D().noise), out, cv::Mat());
    });
#ifdef LUMADRIFT_BENCH_XIMGPROC
    Cv("thin-blobs", [] {
        cv::Mat out = M(D().out);
        cv::ximgproc::thinning(M(D().blobs), out, cv::ximgproc::THINNING_ZHANGSUEN);
    });
#endif
    static cv::Mat dx(kSide, kSide, CV_32F), dy(kSide, kSide, CV_32F), mag(kSide, kSide, CV_32F);
    Cv("sobel", [] {
        cv::Mat out = M(D().out);
        cv::Sobel(M(D().gray), dx, CV_32F, 1, 0, 3, 1, 0, cv::BORDER_REFLECT);
        cv::Sobel(M(D().gray), dy, CV_32F, 0, 1, 3, 1, 0, cv::BORDER_REFLECT);
        cv::magnitude(dx, dy, mag);
        mag.convertTo(out, CV_8U);
    });
    static cv::Mat lut = [] {
        cv::Mat t(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i)
            t.at<uint8_t>(i) = static_cast<uint8_t>(std::pow(i / 255.0, 1.0 / 2.2) * 255.0);
        return t;
    }();
    Cv("gamma", [] {
        cv::Mat out = M(D().out);
        cv::LUT(M(D().gray), lut, out);
    });
    Cv("contrast", [] {
        cv::Mat out = M(D().out);
        M(D().gray).convertTo(out, CV_8U, 1.3, 0.0);
    });
    Cv("bmp-open-24", [] { benchmark::DoNotOptimize(cv::imread(D().bmpPath, cv::IMREAD_COLOR)); });
    static std::vector<uchar> encoded;
    Cv("bmp-encode-gray", [] { cv::imencode(".bmp", M(D().gray), encoded); });
#endif
    return 0;
}

const int kRegistered = RegisterRows();

// ---- FFT: 4096 x 4096 forward plus inverse ---------------------------------

// Our transform at one worker and at every core (up to its five workers).
void BM_FftOurs(benchmark::State& state, bool all)
{
    const int threads = all ? std::min(5, std::max(1, ParallelThreads())) : 1;
    FftBank fft;
    if (fft.CreateFftBank(1, kSide, kSide) != 0) {
        state.SkipWithError("no memory for the bank");
        return;
    }
    const std::vector<uint8_t>& pic = D().gray;
    for (size_t i = 0; i < kPixels; ++i)
        fft.Real(0)[i] = pic[i];
    Fft2DThreaded(fft, 1, threads);
    Fft2DThreaded(fft, -1, threads);
    for (auto _ : state) {
        Fft2DThreaded(fft, 1, threads);
        Fft2DThreaded(fft, -1, threads);
        benchmark::DoNotOptimize(fft.Real(0));
    }
}
BENCHMARK_CAPTURE(BM_FftOurs, 1, false)->Name("cmp/fft/ours/1")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_FftOurs, all, true)->Name("cmp/fft/ours/all")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

#ifdef LUMADRIFT_HAVE_FFTW
// FFTW's in-place complex transform (the same work as ours), and its
// real-to-complex pair, the least a transform of real pictures has to do.
// The unscaled inverse is scaled as ours is. Plans are made with
// FFTW_MEASURE before the timing.
void RunFftw(benchmark::State& state, bool all, bool realInput)
{
    static const bool initialised = fftw_init_threads() != 0;
    const int threads = all && initialised ? std::max(1, ParallelThreads()) : 1;
    fftw_plan_with_nthreads(threads);
    const size_t half = static_cast<size_t>(kSide) * (kSide / 2 + 1);
    fftw_complex* spectrum = fftw_alloc_complex(realInput ? half : kPixels);
    double* real = realInput ? fftw_alloc_real(kPixels) : nullptr;
    fftw_plan fwd, inv;
    if (realInput) {
        fwd = fftw_plan_dft_r2c_2d(kSide, kSide, real, spectrum, FFTW_MEASURE);
        inv = fftw_plan_dft_c2r_2d(kSide, kSide, spectrum, real, FFTW_MEASURE);
    } else {
        fwd = fftw_plan_dft_2d(kSide, kSide, spectrum, spectrum, FFTW_FORWARD, FFTW_MEASURE);
        inv = fftw_plan_dft_2d(kSide, kSide, spectrum, spectrum, FFTW_BACKWARD, FFTW_MEASURE);
    }
    const std::vector<uint8_t>& pic = D().gray;
    for (size_t i = 0; i < kPixels; ++i) {
        if (realInput) {
            real[i] = pic[i];
        } else {
            spectrum[i][0] = pic[i];
            spectrum[i][1] = 0.0;
        }
    }
    const double scale = 1.0 / static_cast<double>(kPixels);
    auto once = [&] {
        fftw_execute(fwd);
        fftw_execute(inv);
        if (realInput) {
            for (size_t i = 0; i < kPixels; ++i)
                real[i] *= scale;
        } else {
            for (size_t i = 0; i < kPixels; ++i) {
                spectrum[i][0] *= scale;
                spectrum[i][1] *= scale;
            }
        }
    };
    once();
    for (auto _ : state) {
        once();
        benchmark::DoNotOptimize(spectrum);
    }
    fftw_destroy_plan(fwd);
    fftw_destroy_plan(inv);
    fftw_free(spectrum);
    if (real)
        fftw_free(real);
    fftw_plan_with_nthreads(1);
}
void BM_Fftw(benchmark::State& state, bool all) { RunFftw(state, all, false); }
void BM_FftwReal(benchmark::State& state, bool all) { RunFftw(state, all, true); }
BENCHMARK_CAPTURE(BM_Fftw, 1, false)->Name("cmp/fft/fftw/1")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_Fftw, all, true)->Name("cmp/fft/fftw/all")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_FftwReal, 1, false)->Name("cmp/fft-real-reference/fftw-r2c/1")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_CAPTURE(BM_FftwReal, all, true)->Name("cmp/fft-real-reference/fftw-r2c/all")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
#endif

}  // namespace
