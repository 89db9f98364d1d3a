#include "filters/auto_threshold.h"

#include <cmath>
#include <limits>
#include <vector>

namespace lumadrift {

namespace {

constexpr double kNoThreshold = std::numeric_limits<double>::quiet_NaN();

// The occupied levels lo..hi; false for an empty histogram. Every method
// works on this trimmed range, as the reference does for integer images.
bool Occupied(const GrayHistogram& h, int& lo, int& hi)
{
    lo = 0;
    while (lo < 256 && h[lo] == 0)
        ++lo;
    if (lo == 256)
        return false;
    hi = 255;
    while (h[hi] == 0)
        --hi;
    return true;
}

// Every method but the mean splits the occupied levels lo..hi; with
// nothing to split the answer is the same for all: no threshold for an
// empty histogram, the level itself when only one is occupied.
double OnSpan(const GrayHistogram& h, double (*method)(const GrayHistogram&, int lo, int hi))
{
    int lo = 0, hi = 0;
    if (!Occupied(h, lo, hi))
        return kNoThreshold;
    if (lo == hi)
        return lo;
    return method(h, lo, hi);
}

double OtsuOnSpan(const GrayHistogram& h, int lo, int hi)
{
    const int n = hi - lo + 1;
    // Running sums from the left (class 1: levels <= t) and from the right
    // (class 2), each accumulated in its own direction.
    std::vector<double> weight1(n), weight2(n), sum1(n), sum2(n);
    double w = 0, s = 0;
    for (int i = 0; i < n; ++i) {
        const double c = static_cast<double>(h[lo + i]);
        w += c;
        s += c * (lo + i);
        weight1[i] = w;
        sum1[i] = s;
    }
    w = s = 0;
    for (int i = n - 1; i >= 0; --i) {
        const double c = static_cast<double>(h[lo + i]);
        w += c;
        s += c * (lo + i);
        weight2[i] = w;
        sum2[i] = s;
    }
    int best = 0;
    double bestVariance = -1;
    for (int i = 0; i + 1 < n; ++i) {
        const double d = sum1[i] / weight1[i] - sum2[i + 1] / weight2[i + 1];
        const double variance = weight1[i] * weight2[i + 1] * (d * d);
        if (variance > bestVariance) {
            bestVariance = variance;
            best = i;
        }
    }
    return lo + best;
}

double TriangleOnSpan(const GrayHistogram& h, int lo, int hi)
{
    const int n = hi - lo + 1;
    std::vector<int64_t> bins(n);
    int peak = 0;
    for (int i = 0; i < n; ++i) {
        bins[i] = static_cast<int64_t>(h[lo + i]);
        if (bins[i] > bins[peak])
            peak = i;
    }
    // The line runs from the peak to the end of the longer tail; work as if
    // that tail were on the left.
    const bool flip = peak < n - 1 - peak;
    if (flip) {
        for (int i = 0; i < n / 2; ++i)
            std::swap(bins[i], bins[n - 1 - i]);
        peak = n - 1 - peak;
    }
    const int64_t peakHeight = bins[peak];
    const int64_t width = peak;
    const double norm = std::sqrt(static_cast<double>(peakHeight * peakHeight + width * width));
    const double ph = static_cast<double>(peakHeight) / norm;
    const double wd = static_cast<double>(width) / norm;
    int level = 0;
    double best = 0;
    for (int x = 0; x < width; ++x) {
        const double length = ph * x - wd * static_cast<double>(bins[x]);
        if (x == 0 || length > best) {
            best = length;
            level = x;
        }
    }
    if (flip)
        level = n - level - 1;
    return lo + level;
}

double IsoDataOnSpan(const GrayHistogram& h, int lo, int hi)
{
    const int n = hi - lo + 1;
    // Pixel counts are summed in single precision and intensities in double,
    // as the reference does.
    std::vector<float> countBelow(n);
    std::vector<double> intensityBelow(n);
    float cf = 0;
    double ci = 0;
    for (int i = 0; i < n; ++i) {
        const float c = static_cast<float>(h[lo + i]);
        cf += c;
        ci += static_cast<double>(c) * (lo + i);
        countBelow[i] = cf;
        intensityBelow[i] = ci;
    }
    int fallback = -1;
    for (int i = 0; i + 1 < n; ++i) {
        const float countAbove = countBelow[n - 1] - countBelow[i];
        const double lower = intensityBelow[i] / static_cast<double>(countBelow[i]);
        const double higher = (intensityBelow[n - 1] - intensityBelow[i]) / static_cast<double>(countAbove);
        const double distance = (lower + higher) / 2.0 - (lo + i);
        if (distance >= 0 && distance < 1)
            return lo + i;
        if (distance >= 0)
            fallback = i;
    }
    return lo + (fallback >= 0 ? fallback : 0);
}

double LiOnSpan(const GrayHistogram& h, int lo, int hi)
{
    // Levels shifted so the lowest is 0 (the logarithms need positive means);
    // sums are exact integers.
    const int n = hi - lo + 1;
    uint64_t total = 0, weighted = 0;
    for (int i = 0; i < n; ++i) {
        total += h[lo + i];
        weighted += h[lo + i] * static_cast<uint64_t>(i);
    }
    const double tolerance = 0.5;
    double next = static_cast<double>(weighted) / static_cast<double>(total);
    double current = -2 * tolerance;
    for (int iteration = 0; std::fabs(next - current) > tolerance && iteration < 1000; ++iteration) {
        current = next;
        uint64_t backCount = 0, backSum = 0, foreCount = 0, foreSum = 0;
        for (int i = 0; i < n; ++i) {
            if (i > current) {
                foreCount += h[lo + i];
                foreSum += h[lo + i] * static_cast<uint64_t>(i);
            } else {
                backCount += h[lo + i];
                backSum += h[lo + i] * static_cast<uint64_t>(i);
            }
        }
        const double meanBack = static_cast<double>(backSum) / static_cast<double>(backCount);
        const double meanFore = static_cast<double>(foreSum) / static_cast<double>(foreCount);
        next = (meanBack - meanFore) / (std::log(meanBack) - std::log(meanFore));
    }
    return next + lo;
}

}  // namespace

double OtsuThreshold(const GrayHistogram& h) { return OnSpan(h, OtsuOnSpan); }
double TriangleThreshold(const GrayHistogram& h) { return OnSpan(h, TriangleOnSpan); }
double IsoDataThreshold(const GrayHistogram& h) { return OnSpan(h, IsoDataOnSpan); }
double LiThreshold(const GrayHistogram& h) { return OnSpan(h, LiOnSpan); }

double MeanThreshold(const GrayHistogram& h)
{
    uint64_t total = 0, weighted = 0;
    for (int v = 0; v < 256; ++v) {
        total += h[v];
        weighted += h[v] * static_cast<uint64_t>(v);
    }
    if (total == 0)
        return kNoThreshold;
    return static_cast<double>(weighted) / static_cast<double>(total);
}

double AutoThreshold(AutoThresholdMethod m, const GrayHistogram& h)
{
    switch (m) {
    case AutoThresholdMethod::kOtsu: return OtsuThreshold(h);
    case AutoThresholdMethod::kTriangle: return TriangleThreshold(h);
    case AutoThresholdMethod::kIsoData: return IsoDataThreshold(h);
    case AutoThresholdMethod::kLi: return LiThreshold(h);
    case AutoThresholdMethod::kMean: return MeanThreshold(h);
    }
    return kNoThreshold;
}

int ThresholdToMin(double t)
{
    if (std::isnan(t))
        return -1;
    if (t <= 0)
        return 0;
    if (t >= 255)
        return 255;
    return static_cast<int>(std::floor(t));
}

GrayHistogram HistogramOf(const uint8_t* plane, int stride, int x0, int y0, int width, int height)
{
    GrayHistogram h{};
    if (!plane || width <= 0 || height <= 0)
        return h;
    for (int y = y0; y < y0 + height; ++y) {
        const uint8_t* row = plane + static_cast<size_t>(y) * static_cast<size_t>(stride) + x0;
        for (int x = 0; x < width; ++x)
            ++h[row[x]];
    }
    return h;
}

}  // namespace lumadrift
