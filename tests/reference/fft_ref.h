// The transform written the plain way: a table of angles grown by addition,
// a bit-reversed copy, then every stage computed from the previous one into
// work arrays and copied back; two dimensions by rows, a transpose, rows and
// a transpose back. Slow and obvious, kept only to check the fast path bit
// for bit.
#pragma once

#include <vector>

namespace lumadrift::ref {

struct Twiddles {
    std::vector<double> sine, cosine;
};
Twiddles RefTwiddles(int n);

// One line of n = 2^m values in place; direction 1 forward, -1 inverse.
void RefFft1D(std::vector<double>& re, std::vector<double>& im, const Twiddles& tw,
              int direction);

// An nx x ny grid, row-major, in place.
void RefFft2D(std::vector<double>& re, std::vector<double>& im, int nx, int ny, int direction);

}  // namespace lumadrift::ref
