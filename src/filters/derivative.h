// Linear neighbourhood filters: gradient magnitude (Roberts, Sobel, Prewitt),
// convolution with a double kernel (Laplacian, smoothing, sharpening and the
// user's kernel), and the reader of kernel files (*.knl).
//
// Pixel contract, for every pixel (x, y) of the range, in plane coordinates:
// - Neighbours are read at (FoldIntoRange(x + dx, x0, w),
//   FoldIntoRange(y + dy, y0, h)), so nothing outside the range is read, also
//   when the kernel is larger than the range.
// - Kernels are row-major, size x size or cols x rows, the first row applying
//   to the image row above the centre: the element for offset (dx, dy) is at
//   (cols / 2 + dx) + cols * (rows / 2 + dy). Sizes must be odd and positive.
// - Gradient magnitude: a and b are the 32-bit sums with kernels A and B,
//   g = sqrt(a * a + b * b) with the squares summed as a 32-bit integer,
//   truncated toward zero and clamped to 0..255.
// - Convolution: t = the double sum of S * K over dy (outer) and dx (inner)
//   from the top-left element on, in that order; t = t / sum when the double
//   sum of all coefficients (in array order) is positive; t below 0 (or not
//   a number) gives 0, above 255 gives 255, else t truncated toward zero.
// - Source and destination must be different planes. Only the range of the
//   destination is written.
// The kernels return 0, or -1 with nothing written when a size is not odd and
// positive or a pointer is missing. The bank-level entries do nothing (and
// return 0) on an empty bank.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/plane_bank.h"
#include "filters/border.h"

namespace lumadrift {

// The fixed 3 x 3 pairs.
extern const int8_t kRobertsA[9], kRobertsB[9];
extern const int8_t kSobelA[9], kSobelB[9];
extern const int8_t kPrewittA[9], kPrewittB[9];
// The fixed 3 x 3 convolution kernels; their sums are 0, 16 and 1.
extern const double kLaplacianKernel[9], kSmoothKernel[9], kSharpenKernel[9];

int GradientMagnitudeKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range,
                            int size, const int8_t* a, const int8_t* b);
void RobertsKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);
void SobelKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);
void PrewittKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);

int ConvolveKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range, int cols,
                   int rows, const double* coefficients);
void LaplacianKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);
void SmoothKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);
void SharpenKernel(const uint8_t* src, uint8_t* dst, int stride, FilterRange range);

// Bank-level entries: the bank's source plane into its destination plane
// over the bank's range.
int GradientMagnitude(PlaneBank& bank, int size, const int8_t* a, const int8_t* b);
void Roberts(PlaneBank& bank);
void Sobel(PlaneBank& bank);
void Prewitt(PlaneBank& bank);
int Convolve(PlaneBank& bank, int cols, int rows, const double* coefficients);
void Laplacian(PlaneBank& bank);
void Smooth(PlaneBank& bank);
void Sharpen(PlaneBank& bank);

// ---- kernel files ----
//
// A kernel file is bytes: values separated by tabs, blanks or commas (each
// one a separator of its own), lines ended by CR LF, a lone CR or a lone LF.

// The user convolution as the operator gives it: mode 3 or 5 with typed
// coefficients (row-major), or mode 0 with a kernel file; m x n is the
// kernel's shape (columns, rows) after the kernel was read.
struct ConvolutionParams {
    int mode = 3;
    int m = 3;
    int n = 3;
    std::vector<double> values = std::vector<double>(9, 0.0);  // 9 (mode 3), 25 (mode 5), empty (mode 0)
    std::string kernelFile;                                     // UTF-8
};

struct ConvolutionKernel {
    int cols = 0;
    int rows = 0;
    std::vector<double> values;  // cols * rows, row-major
};

// columns = 1 + the separators of the first line that are not directly
// followed by a line end; rows = the line ends of the whole text.
void CountKernelShape(const std::string& text, int& cols, int& rows);

// Reads cols * rows values in row order. A token (the characters between
// separators and line ends) is converted as a plain decimal number, "C"
// locale, leading-number rule: no number gives 0.0, an empty token 0.0;
// "inf", "nan" and hexadecimal forms are not numbers. A separator directly
// followed by a line end takes the line end with it. -1 (values then
// unspecified) when fewer values are found, when anything is left after the
// last expected value, when a token is longer than 255 characters, or when
// cols or rows is not positive.
int ParseKernelValues(const std::string& text, int cols, int rows, std::vector<double>& values);

// Grows each even dimension by one; new element (i, j) is the mean of the
// old elements (r, c) with r in {i - 1, i} when the rows grew (else r = i)
// and c in {j - 1, j} when the columns grew (else c = j), those inside the
// old kernel, summed in row order. An odd kernel is left as it is.
void WidenKernelToOdd(std::vector<double>& values, int& cols, int& rows);

// 0 with the kernel (made odd) in `kernel`, or -1 with `kernel` untouched
// when the file cannot be read, holds no line end at all (so an empty file
// is invalid) or its values do not fit its shape.
int ReadKernelFile(const std::string& path, ConvolutionKernel& kernel);

// The kernel of the user convolution. Mode 3 or 5: the first mode * mode
// typed values (-1 when fewer were given). Mode 0: the kernel file at path
// (-1 when there is no file or it is invalid). Any other mode: -1. `kernel`
// is untouched on -1.
int UserConvolutionKernel(int mode, const std::vector<double>& typed, const std::string& path,
                          ConvolutionKernel& kernel);

}  // namespace lumadrift
