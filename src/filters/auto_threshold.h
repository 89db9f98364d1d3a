// Automatic thresholds over a 256-bin gray histogram, for suggesting the
// binarization MIN.
//
// Each method gives a threshold t in gray values with the convention that the
// foreground is every pixel v > t, computed exactly as scikit-image's
// threshold_otsu, threshold_triangle, threshold_isodata, threshold_li and
// threshold_mean compute it on an 8-bit image with this histogram (same
// trimming of empty end bins, same tie breaks, same arithmetic order; the Li
// iteration may differ from it in the last bits of its logarithms).
//
// Where scikit-image has no answer we define one:
//   - an empty histogram (no pixels) gives NaN for every method;
//   - a histogram with one level v gives v for every method (the Triangle
//     method raises an error there);
//   - when no level meets the IsoData equation within one gray level, the
//     highest level that lies at or below the midpoint of its two class
//     means is taken, else the lowest level (not seen with integer data;
//     scikit-image raises an error).
#pragma once

#include <array>
#include <cstdint>

namespace lumadrift {

using GrayHistogram = std::array<uint64_t, 256>;

enum class AutoThresholdMethod { kOtsu, kTriangle, kIsoData, kLi, kMean };

double OtsuThreshold(const GrayHistogram& h);
double TriangleThreshold(const GrayHistogram& h);
double IsoDataThreshold(const GrayHistogram& h);
double LiThreshold(const GrayHistogram& h);
double MeanThreshold(const GrayHistogram& h);
double AutoThreshold(AutoThresholdMethod m, const GrayHistogram& h);

// The binarization MIN that reproduces "foreground is v > t".
//
// Binarization keeps v when MIN < v < MAX. For integer v, v > t holds exactly
// when v > floor(t), so MIN = floor(t) makes the lower edge of the band the
// method's foreground edge: Otsu's 100 gives MIN 100 (101 and up are kept),
// a mean of 100.7 also gives MIN 100. The result is clamped to 0..255; t never
// lies outside the histogram's levels anyway. The upper edge stays the
// operator's MAX, so with MAX 255 the level 255 itself is still outside the
// band, as the band rule has it. -1 for NaN (an empty histogram): the caller
// leaves MIN as it is.
int ThresholdToMin(double t);

// Histogram of a width x height rectangle of a plane, stride bytes per row.
GrayHistogram HistogramOf(const uint8_t* plane, int stride, int x0, int y0, int width, int height);

}  // namespace lumadrift
