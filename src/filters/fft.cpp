#include "filters/fft.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/c_number.h"
#include "core/file_io.h"
#include "core/isa.h"
#include "core/parallel.h"
#include "core/work_progress.h"
#include "filters/border.h"

// Wide vectors cross function boundaries only inside this file, and every
// such function is inlined into its instruction-set variant.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace lumadrift {

namespace {

constexpr int kMaxThreads = 5;
constexpr int kMaxLog2 = 30;
constexpr size_t kAlign = 64;

double* AllocateDoubles(size_t count)
{
    // aligned_alloc wants a multiple of the alignment.
    size_t bytes = count * sizeof(double);
    bytes = (bytes + kAlign - 1) / kAlign * kAlign;
    return static_cast<double*>(std::aligned_alloc(kAlign, bytes));
}

// The column pass touches one cache line per grid row; with small pages every
// one of those is a different page and the address translations, not the
// arithmetic, set the pace. Large grid arrays therefore ask for huge pages.
double* AllocateGridArray(size_t count)
{
    constexpr size_t kHuge = size_t{2} << 20;
    const size_t bytes = count * sizeof(double);
    if (bytes < 2 * kHuge)
        return AllocateDoubles(count);
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = std::aligned_alloc(kHuge, rounded);
#ifdef MADV_HUGEPAGE
    if (p)
        ::madvise(p, rounded, MADV_HUGEPAGE);  // only advice: failure changes nothing
#endif
    return static_cast<double*>(p);
}

struct FreeDoubles {
    void operator()(double* p) const { std::free(p); }
};
using DoubleBuffer = std::unique_ptr<double[], FreeDoubles>;

int Log2Of(int n)
{
    int m = 0;
    while ((1 << m) < n)
        ++m;
    return m;
}

bool IsGridLength(int n) { return n >= 2 && n <= (1 << kMaxLog2) && (n & (n - 1)) == 0; }

std::vector<int32_t> MakeBitReversal(int n, int log2n)
{
    std::vector<int32_t> rev(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < log2n; ++b)
            r |= ((i >> b) & 1) << (log2n - 1 - b);
        rev[static_cast<size_t>(i)] = r;
    }
    return rev;
}

// ---- the butterflies -------------------------------------------------------
//
// V is either double (one line) or a vector whose lanes are independent
// lines: every lane sees the scalar operations of the contract in the same
// order, so the vector width never shows in a result. Each instruction set
// gets the width of its own registers (wider generic vectors would be split
// and spilled).

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));
typedef long long I2 __attribute__((vector_size(16)));
typedef long long I4 __attribute__((vector_size(32)));
typedef long long I8 __attribute__((vector_size(64)));

template <typename V>
constexpr int kLanesOf = static_cast<int>(sizeof(V) / sizeof(double));

// Lines are dealt to workers in blocks of sixteen adjacent lines. In the
// column pass a block is two whole cache lines of every grid row, fetched in
// one visit per row, and two workers never write the same line.
constexpr int kBlock = 16;

template <typename V>
__attribute__((always_inline)) inline void Butterfly(V* re, V* im, int lo, int hi, double c0,
                                                     double s0, double c1, double s1)
{
    const V ar = re[lo], ai = im[lo], zr = re[hi], zi = im[hi];
    re[lo] = ar + zr * c0 + zi * s0;
    im[lo] = ai + zi * c0 - zr * s0;
    re[hi] = ar + zr * c1 + zi * s1;
    im[hi] = ai + zi * c1 - zr * s1;
}

// The stages over a line already in bit-reversed order, in place. Two
// consecutive stages run together on four elements at a time, which halves
// the passes over the line; each butterfly still reads exactly the values the
// previous stage produced.
template <typename V>
__attribute__((always_inline)) inline void Stages(V* re, V* im, int n, int log2n,
                                                  const double* sine, const double* cosine)
{
    const int halfN = n >> 1;
    int s = 1;
    for (; s + 1 <= log2n; s += 2) {
        const int h = 1 << (s - 1);       // half block of stage s
        const int strideA = n >> s;       // N / B of stage s
        const int strideB = n >> (s + 1); // N / B of stage s + 1
        for (int b = 0; b < n; b += 4 * h) {
            for (int q = 0; q < h; ++q) {
                const int ea = q * strideA;
                const double ca0 = cosine[ea], sa0 = sine[ea];
                const double ca1 = cosine[ea + halfN], sa1 = sine[ea + halfN];
                const int eb = q * strideB;
                const int ec = (q + h) * strideB;
                const int i0 = b + q, i1 = i0 + h, i2 = i0 + 2 * h, i3 = i0 + 3 * h;
                V r0 = re[i0], m0 = im[i0], r1 = re[i1], m1 = im[i1];
                V r2 = re[i2], m2 = im[i2], r3 = re[i3], m3 = im[i3];
                // stage s: pairs (i0, i1) and (i2, i3), same twiddles
                V t0r = r0 + r1 * ca0 + m1 * sa0, t0i = m0 + m1 * ca0 - r1 * sa0;
                V t1r = r0 + r1 * ca1 + m1 * sa1, t1i = m0 + m1 * ca1 - r1 * sa1;
                V t2r = r2 + r3 * ca0 + m3 * sa0, t2i = m2 + m3 * ca0 - r3 * sa0;
                V t3r = r2 + r3 * ca1 + m3 * sa1, t3i = m2 + m3 * ca1 - r3 * sa1;
                // stage s + 1: pairs (i0, i2) at q and (i1, i3) at q + h
                const double cb0 = cosine[eb], sb0 = sine[eb];
                const double cb1 = cosine[eb + halfN], sb1 = sine[eb + halfN];
                const double cc0 = cosine[ec], sc0 = sine[ec];
                const double cc1 = cosine[ec + halfN], sc1 = sine[ec + halfN];
                re[i0] = t0r + t2r * cb0 + t2i * sb0;
                im[i0] = t0i + t2i * cb0 - t2r * sb0;
                re[i2] = t0r + t2r * cb1 + t2i * sb1;
                im[i2] = t0i + t2i * cb1 - t2r * sb1;
                re[i1] = t1r + t3r * cc0 + t3i * sc0;
                im[i1] = t1i + t3i * cc0 - t3r * sc0;
                re[i3] = t1r + t3r * cc1 + t3i * sc1;
                im[i3] = t1i + t3i * cc1 - t3r * sc1;
            }
        }
    }
    if (s == log2n) {  // an odd stage count leaves the last stage alone
        const int h = 1 << (s - 1);
        const int stride = n >> s;
        for (int q = 0; q < h; ++q) {
            const int e = q * stride;
            Butterfly(re, im, q, q + h, cosine[e], sine[e], cosine[e + halfN], sine[e + halfN]);
        }
    }
}

// One pass of a two-dimensional transform: `lines` lines of n elements,
// element k of line l at base[l * lineStride + k * elemStride].
struct PassJob {
    double* re = nullptr;
    double* im = nullptr;
    int n = 0;
    int log2n = 0;
    int lines = 0;
    ptrdiff_t elemStride = 0;
    ptrdiff_t lineStride = 0;
    const double* sine = nullptr;
    const double* cosine = nullptr;
    const int32_t* rev = nullptr;
    int direction = 1;
};

// Work units: first the full blocks of adjacent lines, then the lines left
// over (a pass of fewer than sixteen lines) one by one.
int UnitCount(int lines) { return lines / kBlock + lines % kBlock; }

// Constant two-vector shuffles: GCC takes an index vector, Clang a list of
// constant indices.
#if defined(__clang__)
#define LUMADRIFT_SHUFFLE(a, b, Index, ...) __builtin_shufflevector(a, b, __VA_ARGS__)
#else
#define LUMADRIFT_SHUFFLE(a, b, Index, ...) __builtin_shuffle(a, b, Index{__VA_ARGS__})
#endif

// In-register L x L transposes: rows in, columns out (each is its own
// inverse).
__attribute__((always_inline)) inline void TransposeLanes(V2 (&v)[2])
{
    const V2 a = LUMADRIFT_SHUFFLE(v[0], v[1], I2, 0, 2);
    const V2 b = LUMADRIFT_SHUFFLE(v[0], v[1], I2, 1, 3);
    v[0] = a;
    v[1] = b;
}

__attribute__((always_inline)) inline void TransposeLanes(V4 (&v)[4])
{
    const V4 a0 = LUMADRIFT_SHUFFLE(v[0], v[1], I4, 0, 4, 2, 6);
    const V4 a1 = LUMADRIFT_SHUFFLE(v[0], v[1], I4, 1, 5, 3, 7);
    const V4 a2 = LUMADRIFT_SHUFFLE(v[2], v[3], I4, 0, 4, 2, 6);
    const V4 a3 = LUMADRIFT_SHUFFLE(v[2], v[3], I4, 1, 5, 3, 7);
    v[0] = LUMADRIFT_SHUFFLE(a0, a2, I4, 0, 1, 4, 5);
    v[2] = LUMADRIFT_SHUFFLE(a0, a2, I4, 2, 3, 6, 7);
    v[1] = LUMADRIFT_SHUFFLE(a1, a3, I4, 0, 1, 4, 5);
    v[3] = LUMADRIFT_SHUFFLE(a1, a3, I4, 2, 3, 6, 7);
}

__attribute__((always_inline)) inline void TransposeLanes(V8 (&v)[8])
{
    V8 a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = LUMADRIFT_SHUFFLE(v[i], v[i + 1], I8, 0, 8, 2, 10, 4, 12, 6, 14);
        a[i + 1] = LUMADRIFT_SHUFFLE(v[i], v[i + 1], I8, 1, 9, 3, 11, 5, 13, 7, 15);
    }
    for (int i = 0; i < 8; i += 4) {
        b[i] = LUMADRIFT_SHUFFLE(a[i], a[i + 2], I8, 0, 1, 8, 9, 4, 5, 12, 13);
        b[i + 2] = LUMADRIFT_SHUFFLE(a[i], a[i + 2], I8, 2, 3, 10, 11, 6, 7, 14, 15);
        b[i + 1] = LUMADRIFT_SHUFFLE(a[i + 1], a[i + 3], I8, 0, 1, 8, 9, 4, 5, 12, 13);
        b[i + 3] = LUMADRIFT_SHUFFLE(a[i + 1], a[i + 3], I8, 2, 3, 10, 11, 6, 7, 14, 15);
    }
    for (int i = 0; i < 4; ++i) {
        v[i] = LUMADRIFT_SHUFFLE(b[i], b[i + 4], I8, 0, 1, 2, 3, 8, 9, 10, 11);
        v[i + 4] = LUMADRIFT_SHUFFLE(b[i], b[i + 4], I8, 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

template <typename V>
__attribute__((always_inline)) inline V LoadLanes(const double* p)
{
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename V>
__attribute__((always_inline)) inline void StoreLanes(double* p, V v)
{
    std::memcpy(p, &v, sizeof v);
}

// L rows into lane-interleaved scratch in bit-reversed order (the inverse's
// scaling on the way in), the stages, and back out (the inverse's final
// negation on the way out). The rows go through L x L register transposes;
// rows shorter than L are gathered element by element.
template <typename V>
__attribute__((always_inline)) inline void RunGroup(const PassJob& job, int firstLine, V* bre,
                                                    V* bim)
{
    constexpr int kLanes = kLanesOf<V>;
    const int n = job.n;
    double* re = job.re + firstLine * job.lineStride;
    double* im = job.im + firstLine * job.lineStride;
    const ptrdiff_t es = job.elemStride, ls = job.lineStride;
    const bool inverse = job.direction < 0;
    const double scale = 1.0 / n;  // exact: n is a power of two
    auto in = [&](V& r, V& m) {
        if (inverse) {
            r = r * scale;
            m = -m * scale;
        }
    };

    if (es == 1 && n >= kLanes) {
        for (int k0 = 0; k0 < n; k0 += kLanes) {
            V r[kLanes], m[kLanes];
            for (int l = 0; l < kLanes; ++l) {
                r[l] = LoadLanes<V>(re + l * ls + k0);
                m[l] = LoadLanes<V>(im + l * ls + k0);
            }
            TransposeLanes(r);
            TransposeLanes(m);
            for (int j = 0; j < kLanes; ++j) {
                in(r[j], m[j]);
                bre[job.rev[k0 + j]] = r[j];
                bim[job.rev[k0 + j]] = m[j];
            }
        }
    } else {
        for (int k = 0; k < n; ++k) {
            const ptrdiff_t at = job.rev[k] * es;
            V r, m;
            for (int l = 0; l < kLanes; ++l) {
                r[l] = re[at + l * ls];
                m[l] = im[at + l * ls];
            }
            in(r, m);
            bre[k] = r;
            bim[k] = m;
        }
    }

    Stages(bre, bim, n, job.log2n, job.sine, job.cosine);

    if (es == 1 && n >= kLanes) {
        for (int k0 = 0; k0 < n; k0 += kLanes) {
            V r[kLanes], m[kLanes];
            for (int j = 0; j < kLanes; ++j) {
                r[j] = bre[k0 + j];
                m[j] = inverse ? -bim[k0 + j] : bim[k0 + j];
            }
            TransposeLanes(r);
            TransposeLanes(m);
            for (int l = 0; l < kLanes; ++l) {
                StoreLanes(re + l * ls + k0, r[l]);
                StoreLanes(im + l * ls + k0, m[l]);
            }
        }
    } else {
        for (int k = 0; k < n; ++k) {
            const ptrdiff_t at = k * es;
            const V r = bre[k];
            const V m = inverse ? -bim[k] : bim[k];
            for (int l = 0; l < kLanes; ++l) {
                re[at + l * ls] = r[l];
                im[at + l * ls] = m[l];
            }
        }
    }
}

// A whole block of adjacent columns: each grid row is visited once on the
// way in and once on the way out for all kBlock columns, group g of L
// columns in its own part of the scratch.
template <typename V>
__attribute__((always_inline)) inline void RunColumnBlock(const PassJob& job, int firstLine,
                                                          V* bre, V* bim)
{
    constexpr int kLanes = kLanesOf<V>;
    constexpr int kGroups = kBlock / kLanes;
    const int n = job.n;
    double* re = job.re + firstLine;
    double* im = job.im + firstLine;
    const ptrdiff_t es = job.elemStride;
    const bool inverse = job.direction < 0;
    const double scale = 1.0 / n;
    constexpr int kAhead = 16;  // far enough to hide a miss
    for (int k = 0; k < n; ++k) {
        if (k + kAhead < n) {
            const ptrdiff_t ahead = job.rev[k + kAhead] * es;
            __builtin_prefetch(re + ahead);
            __builtin_prefetch(re + ahead + 8);
            __builtin_prefetch(im + ahead);
            __builtin_prefetch(im + ahead + 8);
        }
        const ptrdiff_t at = job.rev[k] * es;
        for (int g = 0; g < kGroups; ++g) {
            V r = LoadLanes<V>(re + at + g * kLanes), m = LoadLanes<V>(im + at + g * kLanes);
            if (inverse) {
                r = r * scale;
                m = -m * scale;
            }
            bre[g * n + k] = r;
            bim[g * n + k] = m;
        }
    }
    for (int g = 0; g < kGroups; ++g)
        Stages(bre + g * n, bim + g * n, n, job.log2n, job.sine, job.cosine);
    for (int k = 0; k < n; ++k) {
        if (k + kAhead < n) {
            const ptrdiff_t ahead = (k + kAhead) * es;
            __builtin_prefetch(re + ahead, 1);
            __builtin_prefetch(re + ahead + 8, 1);
            __builtin_prefetch(im + ahead, 1);
            __builtin_prefetch(im + ahead + 8, 1);
        }
        const ptrdiff_t at = k * es;
        for (int g = 0; g < kGroups; ++g) {
            StoreLanes(re + at + g * kLanes, bre[g * n + k]);
            StoreLanes(im + at + g * kLanes, inverse ? -bim[g * n + k] : bim[g * n + k]);
        }
    }
}

__attribute__((always_inline)) inline void RunLine(const PassJob& job, int line, double* bre,
                                                   double* bim)
{
    const int n = job.n;
    double* re = job.re + line * job.lineStride;
    double* im = job.im + line * job.lineStride;
    const ptrdiff_t es = job.elemStride;
    const bool inverse = job.direction < 0;
    const double scale = 1.0 / n;
    for (int k = 0; k < n; ++k) {
        const ptrdiff_t at = job.rev[k] * es;
        bre[k] = inverse ? re[at] * scale : re[at];
        bim[k] = inverse ? -im[at] * scale : im[at];
    }
    Stages(bre, bim, n, job.log2n, job.sine, job.cosine);
    for (int k = 0; k < n; ++k) {
        re[k * es] = bre[k];
        im[k * es] = inverse ? -bim[k] : bim[k];
    }
}

template <typename V>
__attribute__((always_inline)) inline void RunWorkerGeneric(const PassJob& job, int worker,
                                                            int workers, double* scratchRe,
                                                            double* scratchIm)
{
    constexpr int kLanes = kLanesOf<V>;
    const int blocks = job.lines / kBlock;
    const int units = UnitCount(job.lines);
    V* bre = reinterpret_cast<V*>(scratchRe);
    V* bim = reinterpret_cast<V*>(scratchIm);
    for (int u = worker; u < units; u += workers) {
        if (u < blocks && job.lineStride == 1) {
            RunColumnBlock(job, u * kBlock, bre, bim);
        } else if (u < blocks) {
            for (int g = 0; g < kBlock; g += kLanes)
                RunGroup(job, u * kBlock + g, bre, bim);
        } else {
            RunLine(job, blocks * kBlock + (u - blocks), scratchRe, scratchIm);
        }
    }
}

// The same code built for three instruction sets; they differ only in how
// many lines one instruction covers.
__attribute__((flatten)) void RunWorkerBase(const PassJob& job, int worker, int workers,
                                            double* scratchRe, double* scratchIm)
{
    RunWorkerGeneric<V2>(job, worker, workers, scratchRe, scratchIm);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"), flatten)) void RunWorkerAvx2(const PassJob& job, int worker,
                                                             int workers, double* scratchRe,
                                                             double* scratchIm)
{
    RunWorkerGeneric<V4>(job, worker, workers, scratchRe, scratchIm);
}

__attribute__((target("avx512f"), flatten)) void RunWorkerAvx512(const PassJob& job, int worker,
                                                                  int workers, double* scratchRe,
                                                                  double* scratchIm)
{
    RunWorkerGeneric<V8>(job, worker, workers, scratchRe, scratchIm);
}
#endif

using WorkerFn = void (*)(const PassJob&, int, int, double*, double*);

WorkerFn WorkerFor(int level)
{
#if defined(__x86_64__) || defined(__i386__)
    if (level == kFftAvx512)
        return RunWorkerAvx512;
    if (level == kFftAvx2)
        return RunWorkerAvx2;
#endif
    return RunWorkerBase;
}

int CurrentLevel()
{
#if defined(__x86_64__) || defined(__i386__)
    const IsaLevel level = ActiveIsa();
    if (level >= IsaLevel::Avx512)
        return kFftAvx512;
    if (level >= IsaLevel::Avx2)
        return kFftAvx2;
#endif
    return kFftPlain;
}

// Scratch of one worker for one array: a block of lines interleaved, or a
// single line when the pass has fewer lines than a block; rounded to whole
// vectors so every worker's share stays aligned.
size_t WorkerScratch(int n, int lines)
{
    const size_t cells = static_cast<size_t>(n) * (lines >= kBlock ? kBlock : 1);
    return (cells + kBlock - 1) / kBlock * kBlock;
}

int PassWorkers(int lines, int threads) { return std::min(threads, UnitCount(lines)); }

// Worker t uses pool[2t * share ..] for real and the next share for
// imaginary parts.
void RunPass(const PassJob& job, int threads, double* pool)
{
    const WorkerFn worker = WorkerFor(CurrentLevel());
    const int workers = PassWorkers(job.lines, threads);
    const size_t share = WorkerScratch(job.n, job.lines);
    if (workers <= 1) {
        worker(job, 0, 1, pool, pool + share);
        WorkTick();
        return;
    }
    std::vector<std::thread> running;
    running.reserve(static_cast<size_t>(workers));
    for (int t = 0; t < workers; ++t) {
        double* sre = pool + 2 * t * share;
        double* sim = sre + share;
        try {
            running.emplace_back(worker, std::cref(job), t, workers, sre, sim);
        } catch (const std::system_error&) {
            // No thread to be had: this share runs here instead, with the
            // same result.
            worker(job, t, workers, sre, sim);
        }
    }
    for (auto& th : running)
        th.join();
    WorkTick();
}

// ---- mask files --------------------------------------------------------------

bool IsSeparator(char c) { return c == ',' || c == '\t' || c == ' '; }
bool IsLineEndChar(char c) { return c == '\r' || c == '\n'; }

// Length of the line end starting at i (CR LF counts as one), 0 if none.
size_t LineEndLength(const char* text, size_t length, size_t i)
{
    if (i >= length)
        return 0;
    if (text[i] == '\r')
        return (i + 1 < length && text[i + 1] == '\n') ? 2 : 1;
    return text[i] == '\n' ? 1 : 0;
}

double ParseDecimal(const char* p, size_t length) { return ParseRealValue(p, length); }

void AppendMaskValue(std::string& out, double v)
{
    // Almost every mask holds small whole numbers; those skip printf. "-0"
    // and everything else take the printf route to keep its rounding.
    if (v == std::trunc(v) && std::fabs(v) < 1e9 && !(v == 0.0 && std::signbit(v))) {
        char buf[16];
        long long i = static_cast<long long>(v);
        char* e = buf + sizeof buf;
        char* p = e;
        const bool negative = i < 0;
        if (negative)
            i = -i;
        do {
            *--p = static_cast<char>('0' + i % 10);
            i /= 10;
        } while (i != 0);
        if (negative)
            *--p = '-';
        out.append(p, static_cast<size_t>(e - p));
        return;
    }
    char buf[400];
    const locale_t old = uselocale(CLocale());
    const int len = std::snprintf(buf, sizeof buf, "%.0f", v);
    uselocale(old);
    if (len > 0)
        out.append(buf, static_cast<size_t>(std::min<int>(len, sizeof buf - 1)));
}

}  // namespace

int FftInstructionLevel() { return CurrentLevel(); }

// ---- FftBank -------------------------------------------------------------------

int DefaultFftThreads() { return std::max(1, std::min(5, ParallelThreads())); }

int FftGridLength(int size)
{
    if (size < 1 || size > (1 << kMaxLog2))
        return -1;
    int n = 2;
    while (n < size)
        n <<= 1;
    return n;
}

void FftBank::Freer::operator()(double* p) const { std::free(p); }

FftBank::~FftBank() = default;

int FftBank::CreateFftBank(int slots, int width, int height)
{
    if (slots < 1 || slots > kMaxSlots)
        return -1;
    const int nx = FftGridLength(width);
    const int ny = FftGridLength(height);
    if (nx < 0 || ny < 0)
        return -1;
    const size_t cells = static_cast<size_t>(nx) * static_cast<size_t>(ny);
    // Three arrays per slot must stay addressable; beyond that there is no
    // point asking the allocator.
    if (cells > PTRDIFF_MAX / sizeof(double) / 3 / kMaxSlots)
        return -1;
    Slot fresh[kMaxSlots];
    for (int i = 0; i < slots; ++i) {
        for (Array* a : {&fresh[i].real, &fresh[i].imag, &fresh[i].mask}) {
            a->reset(AllocateGridArray(cells));
            if (!*a)
                return -1;  // fresh frees what it holds; the bank is untouched
            std::memset(a->get(), 0, cells * sizeof(double));
        }
    }
    ReleaseFftBank();
    for (int i = 0; i < slots; ++i)
        slot_[i] = std::move(fresh[i]);
    nx_ = nx;
    ny_ = ny;
    log2x_ = Log2Of(nx);
    log2y_ = Log2Of(ny);
    slots_ = slots;
    source_ = destination_ = 0;
    maximum_ = 0.0;
    return 0;
}

void FftBank::ReleaseFftBank()
{
    for (auto& s : slot_) {
        s.real.reset();
        s.imag.reset();
        s.mask.reset();
    }
    nx_ = ny_ = log2x_ = log2y_ = 0;
    slots_ = source_ = destination_ = 0;
    maximum_ = 0.0;
}

void FftBank::SelectFftSlots(int source, int destination)
{
    if (empty())
        return;
    source_ = source;
    destination_ = destination;
}

double* FftBank::Real(int slot) { return slot >= 0 && slot < slots_ ? slot_[slot].real.get() : nullptr; }
double* FftBank::Imag(int slot) { return slot >= 0 && slot < slots_ ? slot_[slot].imag.get() : nullptr; }
double* FftBank::Mask(int slot) { return slot >= 0 && slot < slots_ ? slot_[slot].mask.get() : nullptr; }
const double* FftBank::Real(int slot) const { return const_cast<FftBank*>(this)->Real(slot); }
const double* FftBank::Imag(int slot) const { return const_cast<FftBank*>(this)->Imag(slot); }
const double* FftBank::Mask(int slot) const { return const_cast<FftBank*>(this)->Mask(slot); }

// ---- kernels -------------------------------------------------------------------

void MakeTwiddles(int n, double* sine, double* cosine)
{
    const double step = 6.283185308 / n;
    double angle = 0.0;
    for (int k = 0; k < n; ++k) {
        sine[k] = std::sin(angle);
        cosine[k] = std::cos(angle);
        angle += step;
    }
}

void BitReverse(double* real, double* imag, int n, int log2n)
{
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < log2n; ++b)
            r |= ((i >> b) & 1) << (log2n - 1 - b);
        if (r > i) {
            std::swap(real[i], real[r]);
            std::swap(imag[i], imag[r]);
        }
    }
}

void Fft1D(double* real, double* imag, double* workReal, double* workImag, int n, int log2n,
           const double* sine, const double* cosine, int direction)
{
    if (n < 1 || (1 << log2n) != n)
        return;
    const bool inverse = direction < 0;
    const double scale = 1.0 / n;
    // The bit-reversed copy goes straight into the work arrays, where the
    // stages then run in place.
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < log2n; ++b)
            r |= ((i >> b) & 1) << (log2n - 1 - b);
        workReal[i] = inverse ? real[r] * scale : real[r];
        workImag[i] = inverse ? -imag[r] * scale : imag[r];
    }
    Stages(workReal, workImag, n, log2n, sine, cosine);
    for (int i = 0; i < n; ++i) {
        if (inverse)
            workImag[i] = -workImag[i];
        real[i] = workReal[i];
        imag[i] = workImag[i];
    }
}

void TransposeGrid(const double* fromReal, const double* fromImag, double* toReal, double* toImag,
                   int rowLength, int rowCount)
{
    // Tiles of 32 x 32 keep both the rows read and the rows written in cache.
    constexpr int kTile = 32;
    for (const auto& [from, to] : {std::pair{fromReal, toReal}, std::pair{fromImag, toImag}}) {
        for (int y0 = 0; y0 < rowCount; y0 += kTile) {
            const int y1 = std::min(rowCount, y0 + kTile);
            for (int x0 = 0; x0 < rowLength; x0 += kTile) {
                const int x1 = std::min(rowLength, x0 + kTile);
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x)
                        to[static_cast<ptrdiff_t>(x) * rowCount + y] =
                            from[static_cast<ptrdiff_t>(y) * rowLength + x];
            }
        }
    }
}

int FftGrid(double* real, double* imag, int nx, int ny, int direction, int threads)
{
    if (threads < 1 || threads > kMaxThreads || !IsGridLength(nx) || !IsGridLength(ny) ||
        (direction != 1 && direction != -1) || !real || !imag)
        return -1;
    const int log2x = Log2Of(nx), log2y = Log2Of(ny);

    // Everything is allocated before the first butterfly, so a shortage
    // refuses the transform instead of leaving it half done.
    std::vector<double> sinX, cosX, sinY, cosY;
    std::vector<int32_t> revX, revY;
    try {
        sinX.resize(static_cast<size_t>(nx));
        cosX.resize(static_cast<size_t>(nx));
        sinY.resize(static_cast<size_t>(ny));
        cosY.resize(static_cast<size_t>(ny));
        revX = MakeBitReversal(nx, log2x);
        revY = MakeBitReversal(ny, log2y);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // Each pass needs at most two doubles per grid cell (every worker one
    // block of lines of both parts), so the bank's 48 bytes per cell plus
    // this stay within 64.
    const size_t rowPool = 2 * WorkerScratch(nx, ny) * PassWorkers(ny, threads);
    const size_t colPool = 2 * WorkerScratch(ny, nx) * PassWorkers(nx, threads);
    DoubleBuffer scratch(AllocateDoubles(std::max(rowPool, colPool)));
    if (!scratch)
        return -1;
    MakeTwiddles(nx, sinX.data(), cosX.data());
    MakeTwiddles(ny, sinY.data(), cosY.data());

    PassJob rows;
    rows.re = real;
    rows.im = imag;
    rows.n = nx;
    rows.log2n = log2x;
    rows.lines = ny;
    rows.elemStride = 1;
    rows.lineStride = nx;
    rows.sine = sinX.data();
    rows.cosine = cosX.data();
    rows.rev = revX.data();
    rows.direction = direction;
    RunPass(rows, threads, scratch.get());

    // The columns are the rows of the transposed grid; gathering a block of
    // adjacent columns at a time gives the same lines without transposing.
    PassJob cols = rows;
    cols.n = ny;
    cols.log2n = log2y;
    cols.lines = nx;
    cols.elemStride = nx;
    cols.lineStride = 1;
    cols.sine = sinY.data();
    cols.cosine = cosY.data();
    cols.rev = revY.data();
    RunPass(cols, threads, scratch.get());
    return 0;
}

void SwapGridQuadrants(double* real, double* imag, int nx, int ny)
{
    const int hx = nx / 2, hy = ny / 2;
    for (double* a : {real, imag}) {
        for (int y = 0; y < hy; ++y) {
            double* top = a + static_cast<ptrdiff_t>(y) * nx;
            double* bottom = a + static_cast<ptrdiff_t>(y + hy) * nx;
            std::swap_ranges(top, top + hx, bottom + hx);
            std::swap_ranges(top + hx, top + 2 * hx, bottom);
        }
    }
}

// ---- bank-level entries -----------------------------------------------------------

namespace {

// trunc() into an integer; the settings keep the band inside 0..1, so the
// saturation only guards against nonsense values.
long long Truncate(double v)
{
    if (!(v > -1e18))
        return v != v ? 0 : -1000000000000000000LL;
    if (!(v < 1e18))
        return 1000000000000000000LL;
    return static_cast<long long>(v);
}

bool PlaneFitsGrid(const PlaneBank& planes, const FftBank& fft)
{
    return !planes.empty() && !fft.empty() && planes.width() > 0 && planes.height() > 0 &&
           planes.width() <= fft.gridWidth() && planes.height() <= fft.gridHeight();
}

}  // namespace

void LoadFftInput(const PlaneBank& planes, FftBank& fft)
{
    if (!PlaneFitsGrid(planes, fft))
        return;
    const uint8_t* src = planes.SourcePlane();
    double* re = fft.Real(fft.source());
    double* im = fft.Imag(fft.source());
    if (!src || !re || !im)
        return;
    const int w = planes.width(), h = planes.height();
    const int nx = fft.gridWidth(), ny = fft.gridHeight();
    std::vector<int> foldX(static_cast<size_t>(nx));
    for (int x = 0; x < nx; ++x)
        foldX[static_cast<size_t>(x)] = FoldIntoRange(x, 0, w);
    for (int y = 0; y < ny; ++y) {
        const uint8_t* row = src + static_cast<ptrdiff_t>(FoldIntoRange(y, 0, h)) * w;
        double* out = re + static_cast<ptrdiff_t>(y) * nx;
        for (int x = 0; x < nx; ++x)
            out[x] = row[foldX[static_cast<size_t>(x)]];
    }
    std::fill(im, im + static_cast<ptrdiff_t>(nx) * ny, 0.0);
}

int Fft2D(FftBank& fft, int direction) { return Fft2DThreaded(fft, direction, 1); }

int Fft2DThreaded(FftBank& fft, int direction, int threads)
{
    if (fft.empty() || threads < 1 || threads > kMaxThreads)
        return -1;
    int slot;
    if (direction == 1)
        slot = fft.source();
    else if (direction == -1)
        slot = fft.destination();
    else
        return -1;
    return FftGrid(fft.Real(slot), fft.Imag(slot), fft.gridWidth(), fft.gridHeight(), direction,
                   threads);
}

int RunFftForward(const PlaneBank& planes, FftBank& fft, int threads)
{
    if (threads < 1 || threads > kMaxThreads || !PlaneFitsGrid(planes, fft))
        return -1;
    fft.SelectFftSlots(0, 0);
    LoadFftInput(planes, fft);
    if (Fft2DThreaded(fft, 1, threads) != 0)
        return -1;
    SwapQuadrants(fft);
    return 0;
}

int RunFftInverse(PlaneBank& planes, FftBank& fft, int threads)
{
    if (threads < 1 || threads > kMaxThreads || !PlaneFitsGrid(planes, fft) ||
        !fft.Real(fft.destination()))
        return -1;
    SwapQuadrants(fft);
    if (Fft2DThreaded(fft, -1, threads) != 0) {
        SwapQuadrants(fft);  // undone, so a refusal leaves the slot as it was
        return -1;
    }
    StoreFftOutput(planes, fft);
    return 0;
}

void SwapQuadrants(FftBank& fft)
{
    if (fft.empty())
        return;
    double* re = fft.Real(fft.destination());
    double* im = fft.Imag(fft.destination());
    if (re && im)
        SwapGridQuadrants(re, im, fft.gridWidth(), fft.gridHeight());
}

void ApplyFftMask(FftBank& fft, double low, double high, int invert, int shape)
{
    if (fft.empty())
        return;
    const double* sre = fft.Real(fft.source());
    const double* sim = fft.Imag(fft.source());
    double* mask = fft.Mask(fft.source());
    double* dre = fft.Real(fft.destination());
    double* dim = fft.Imag(fft.destination());
    if (!sre || !sim || !mask || !dre || !dim)
        return;
    const int nx = fft.gridWidth(), ny = fft.gridHeight();
    const int cx = nx / 2, cy = ny / 2;

    if (shape == kFftMaskUser) {
        for (ptrdiff_t i = 0, n = static_cast<ptrdiff_t>(nx) * ny; i < n; ++i) {
            dre[i] = sre[i] * mask[i];
            dim[i] = sim[i] * mask[i];
        }
        return;
    }
    if (shape != kFftMaskSquare && shape != kFftMaskCircle)
        return;

    // The bounds are truncated once, exactly as the band is defined, and the
    // cell tests then run on integers.
    auto half = [](int c, double v) { return Truncate(c * v + 0.5); };
    auto square = [](int c, double v) {
        const double r = c * v + 0.5;
        return Truncate(r * r);
    };
    const long long outX = half(cx, high), outY = half(cy, high);
    const long long inX = half(cx, low), inY = half(cy, low);
    const long long outR2 = square(cy, high) + square(cx, high);
    const long long inR2 = square(cy, low) + square(cx, low);
    const bool circle = shape == kFftMaskCircle;

    for (int y = 0; y < ny; ++y) {
        const long long dy = std::abs(y - cy);
        const ptrdiff_t row = static_cast<ptrdiff_t>(y) * nx;
        for (int x = 0; x < nx; ++x) {
            const long long dx = std::abs(x - cx);
            bool outer, inner;
            if (circle) {
                const long long r2 = dy * dy + dx * dx;
                outer = r2 <= outR2;
                inner = r2 < inR2;
            } else {
                outer = dy <= outY && dx <= outX;
                inner = dy < inY && dx < inX;
            }
            // band-pass: the ring passes; band-stop: the ring is blocked
            bool pass = invert ? !outer : outer;
            if (inner)
                pass = invert != 0;
            const ptrdiff_t i = row + x;
            if (pass) {
                mask[i] = 1.0;
                dre[i] = sre[i];
                dim[i] = sim[i];
            } else {
                mask[i] = 0.0;
                dre[i] = 0.0;
                dim[i] = 0.0;
            }
        }
    }
}

void ApplyFftPassBand(FftBank& fft, double minValue, double maxValue, int shape)
{
    const double low = std::min(minValue, maxValue);
    const double high = std::max(minValue, maxValue);
    ApplyFftMask(fft, low, high, minValue > maxValue ? 1 : 0, shape);
}

void ShowSpectrum(PlaneBank& planes, FftBank& fft)
{
    if (!PlaneFitsGrid(planes, fft))
        return;
    uint8_t* dst = planes.DestinationPlane();
    double* re = fft.Real(fft.destination());
    const double* im = fft.Imag(fft.destination());
    if (!dst || !re || !im)
        return;
    const int nx = fft.gridWidth(), ny = fft.gridHeight();
    double maximum = fft.runningMaximum();
    for (ptrdiff_t i = 0, n = static_cast<ptrdiff_t>(nx) * ny; i < n; ++i) {
        double p = re[i] * re[i] + im[i] * im[i];
        if (p != 0.0)
            p = std::log(p);
        re[i] = p;
        if (p > maximum)
            maximum = p;
    }
    fft.setRunningMaximum(maximum);

    const int w = planes.width(), h = planes.height();
    const int ox = (nx - w) / 2, oy = (ny - h) / 2;
    const double factor = maximum != 0.0 ? 255.0 / maximum : 0.0;
    for (int y = 0; y < h; ++y) {
        const double* in = re + static_cast<ptrdiff_t>(y + oy) * nx + ox;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            double v = maximum != 0.0 ? in[x] * factor + 0.5 : 0.0;
            // A power below 1 has a negative logarithm; it shows as black.
            if (!(v >= 0.0))
                v = 0.0;
            if (v > 255.0)
                v = 255.0;
            out[x] = static_cast<uint8_t>(v);
        }
    }
}

void StoreFftOutput(PlaneBank& planes, const FftBank& fft)
{
    if (!PlaneFitsGrid(planes, fft))
        return;
    uint8_t* dst = planes.DestinationPlane();
    const double* re = fft.Real(fft.destination());
    if (!dst || !re)
        return;
    const int w = planes.width(), h = planes.height(), nx = fft.gridWidth();
    for (int y = 0; y < h; ++y) {
        const double* in = re + static_cast<ptrdiff_t>(y) * nx;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            double v = in[x];
            if (v > 255.0)
                v = 255.0;
            if (!(v >= 0.0))  // also a NaN from an outlandish user mask
                v = 0.0;
            out[x] = static_cast<uint8_t>(v + 0.5);
        }
    }
}

// ---- mask files ---------------------------------------------------------------------

int ParseMaskText(const char* text, size_t length, int nx, int ny, double* out)
{
    if (nx < 1 || ny < 1)
        return -1;
    // Shape: the first line's separators fix the columns, the line ends
    // the rows.
    long long columns = 1;
    size_t i = 0;
    for (; i < length && !IsLineEndChar(text[i]); ++i)
        if (IsSeparator(text[i]) && !(i + 1 < length && IsLineEndChar(text[i + 1])))
            ++columns;
    long long rows = 0;
    for (size_t k = 0; k < length;) {
        const size_t e = LineEndLength(text, length, k);
        if (e) {
            ++rows;
            k += e;
        } else {
            ++k;
        }
    }
    if (columns != nx || rows != ny)
        return -1;

    constexpr size_t kMaxToken = 255;
    const size_t expected = static_cast<size_t>(nx) * static_cast<size_t>(ny);
    size_t count = 0;
    size_t tokenStart = 0;
    i = 0;
    while (i < length && count < expected) {
        const char c = text[i];
        if (IsSeparator(c) || IsLineEndChar(c)) {
            if (i - tokenStart > kMaxToken)
                return -1;
            out[count++] = ParseDecimal(text + tokenStart, i - tokenStart);
            if (IsSeparator(c))
                ++i;
            // A separator right before a line end takes the line end along.
            i += LineEndLength(text, length, i);
            tokenStart = i;
        } else {
            ++i;
        }
    }
    if (count < expected && i > tokenStart) {  // a token running to the end
        if (i - tokenStart > kMaxToken)
            return -1;
        out[count++] = ParseDecimal(text + tokenStart, i - tokenStart);
    }
    return (count == expected && i == length) ? 0 : -1;
}

int ReadMaskFile(FftBank& fft, const std::string& path)
{
    double* mask = fft.Mask(0);
    if (fft.empty() || !mask)
        return -1;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes))
        return -1;
    const size_t cells = static_cast<size_t>(fft.gridWidth()) * fft.gridHeight();
    DoubleBuffer values(AllocateDoubles(cells));
    if (!values)
        return -1;
    if (ParseMaskText(reinterpret_cast<const char*>(bytes.data()), bytes.size(), fft.gridWidth(),
                      fft.gridHeight(), values.get()) != 0)
        return -1;
    std::memcpy(mask, values.get(), cells * sizeof(double));
    return 0;
}

int WriteMaskFile(const FftBank& fft, const std::string& path)
{
    const double* mask = fft.Mask(0);
    if (fft.empty() || !mask)
        return -1;
    const int nx = fft.gridWidth(), ny = fft.gridHeight();
    std::string text;
    try {
        text.reserve(static_cast<size_t>(nx) * ny * 2 + static_cast<size_t>(ny) * 2);
        for (int y = 0; y < ny; ++y) {
            const double* row = mask + static_cast<ptrdiff_t>(y) * nx;
            for (int x = 0; x < nx; ++x) {
                if (x)
                    text += ',';
                AppendMaskValue(text, row[x]);
            }
            text += "\r\n";
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // Only digits, signs and separators: the text is the same in CP932.
    return WriteFileWhole(path, text.data(), text.size());
}

}  // namespace lumadrift
