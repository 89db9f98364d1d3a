#include "reference/fft_ref.h"

#include <cmath>

namespace lumadrift::ref {

Twiddles RefTwiddles(int n)
{
    Twiddles tw;
    const double step = 6.283185308 / n;
    double angle = 0.0;
    for (int k = 0; k < n; ++k) {
        tw.sine.push_back(std::sin(angle));
        tw.cosine.push_back(std::cos(angle));
        angle = angle + step;
    }
    return tw;
}

void RefFft1D(std::vector<double>& re, std::vector<double>& im, const Twiddles& tw, int direction)
{
    const int n = static_cast<int>(re.size());
    int m = 0;
    while ((1 << m) < n)
        ++m;

    if (direction == -1) {
        for (int i = 0; i < n; ++i) {
            re[i] = re[i] / n;
            im[i] = -im[i] / n;
        }
    }

    std::vector<double> workRe(n), workIm(n);
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < m; ++b)
            if (i & (1 << b))
                r |= 1 << (m - 1 - b);
        workRe[i] = re[r];
        workIm[i] = im[r];
    }
    re = workRe;
    im = workIm;

    for (int s = 1; s <= m; ++s) {
        const int B = 1 << s;
        const int half = B / 2;
        for (int b = 0; b < n; b += B) {
            for (int j = 0; j < B; ++j) {
                const int q = j % half;
                const int e = j * n / B;
                const double aRe = re[b + q], aIm = im[b + q];
                const double zRe = re[b + q + half], zIm = im[b + q + half];
                workRe[b + j] = aRe + zRe * tw.cosine[e] + zIm * tw.sine[e];
                workIm[b + j] = aIm + zIm * tw.cosine[e] - zRe * tw.sine[e];
            }
        }
        re = workRe;
        im = workIm;
    }

    if (direction == -1)
        for (int i = 0; i < n; ++i)
            im[i] = -im[i];
}

namespace {

void Transpose(const std::vector<double>& from, std::vector<double>& to, int rowLength,
               int rowCount)
{
    to.assign(from.size(), 0.0);
    for (int y = 0; y < rowCount; ++y)
        for (int x = 0; x < rowLength; ++x)
            to[x * rowCount + y] = from[y * rowLength + x];
}

void AllRows(std::vector<double>& re, std::vector<double>& im, int rowLength, int rowCount,
             int direction)
{
    const Twiddles tw = RefTwiddles(rowLength);
    for (int y = 0; y < rowCount; ++y) {
        std::vector<double> r(re.begin() + y * rowLength, re.begin() + (y + 1) * rowLength);
        std::vector<double> i(im.begin() + y * rowLength, im.begin() + (y + 1) * rowLength);
        RefFft1D(r, i, tw, direction);
        std::copy(r.begin(), r.end(), re.begin() + y * rowLength);
        std::copy(i.begin(), i.end(), im.begin() + y * rowLength);
    }
}

}  // namespace

void RefFft2D(std::vector<double>& re, std::vector<double>& im, int nx, int ny, int direction)
{
    AllRows(re, im, nx, ny, direction);
    std::vector<double> tRe, tIm;
    Transpose(re, tRe, nx, ny);
    Transpose(im, tIm, nx, ny);
    AllRows(tRe, tIm, ny, nx, direction);
    Transpose(tRe, re, ny, nx);
    Transpose(tIm, im, ny, nx);
}

}  // namespace lumadrift::ref
