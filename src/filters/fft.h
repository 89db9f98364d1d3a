// Frequency-domain band filtering of the bank's range.
//
// The range is continued to a power-of-two grid by mirror repetition,
// transformed by a radix-2 two-dimensional FFT, centred, masked, transformed
// back and written into the destination plane.
//
// Numerical contract (every path, every thread count, every instruction set):
// - twiddles: step = 6.283185308 / N in double; the angle starts at 0 and
//   grows by adding the step; entry k holds sin and cos of the k-th angle;
// - one row of N = 2^m: element i takes element bitrev_m(i); then for stages
//   s = 1..m, block B = 2^s, q = j mod B/2, e = j * N / B,
//     re' = (A.re + Z.re * cos[e]) + Z.im * sin[e]
//     im' = (A.im + Z.im * cos[e]) - Z.re * sin[e]
//   with A = element b + q and Z = element b + q + B/2 of the previous stage;
//   X[k] = sum x[n] exp(-2 pi i k n / N), unscaled;
// - the inverse first sets re = re / N and im = -im / N, runs the same
//   butterflies and negates im again;
// - two dimensions: every grid row, then every grid column (the rows of the
//   transposed grid).
// Each element sees exactly these operations in this order, so results are
// bit-identical to the plain stage loop whatever the vector width or the
// number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/plane_bank.h"

namespace lumadrift {

enum FftMaskShape : int {
    kFftMaskSquare = 0,
    kFftMaskCircle = 1,
    kFftMaskUser = 2,
};

// The band-pass as the operator gives it: a square or circle mask between
// two relative radii, or a mask file.
struct FftParams {
    double low = 0.0;
    double high = 1.0;
    int shape = kFftMaskSquare;
    std::string maskFile;  // UTF-8; shape 2 only
};

// Instruction sets of the transform; every one gives the same bits, they
// only differ in how many lines one instruction covers. The set follows
// core/isa.h's active level: Avx512 and Avx2 take theirs, the levels below
// the plain one.
enum FftInstructionSet : int {
    kFftPlain = 0,   // two lines per instruction (any processor)
    kFftAvx2 = 1,    // four
    kFftAvx512 = 2,  // eight
};
// The set the next transform uses.
int FftInstructionLevel();

// Workers of a transform when the settings name none: one per thread of
// the pool (core/parallel.h), at most five.
int DefaultFftThreads();

// Smallest power of two >= size and >= 2; -1 when size is below 1 or the
// power would exceed 2^30.
int FftGridLength(int size);

// The transform's state: up to five slots of three Nx x Ny double arrays
// (real, imaginary, mask), row-major with row stride Nx. Grid cell (x, y)
// corresponds to plane pixel (x, y).
class FftBank {
public:
    static constexpr int kMaxSlots = 5;

    FftBank() = default;
    ~FftBank();
    FftBank(const FftBank&) = delete;
    FftBank& operator=(const FftBank&) = delete;

    // Grid = FftGridLength of width and height. 0 on success; -1 when slots
    // is outside 1..5, a size is unusable or an array cannot be allocated. A
    // refusal leaves the bank exactly as it was. On success the slot
    // selection is 0, 0 and the running maximum 0; array contents are 0.
    int CreateFftBank(int slots, int width, int height);
    // Frees every array; grid, selection and running maximum become 0.
    void ReleaseFftBank();
    // Any index is accepted; ignored while the bank is empty. Functions that
    // meet an index naming no slot do nothing.
    void SelectFftSlots(int source, int destination);

    bool empty() const { return slots_ == 0; }
    int gridWidth() const { return nx_; }
    int gridHeight() const { return ny_; }
    int log2Width() const { return log2x_; }
    int log2Height() const { return log2y_; }
    int slots() const { return slots_; }
    int source() const { return source_; }
    int destination() const { return destination_; }
    // Largest log power ShowSpectrum has met since the bank was created.
    double runningMaximum() const { return maximum_; }
    void setRunningMaximum(double m) { maximum_ = m; }

    // nullptr for a slot outside 0..slots-1.
    double* Real(int slot);
    double* Imag(int slot);
    double* Mask(int slot);
    const double* Real(int slot) const;
    const double* Imag(int slot) const;
    const double* Mask(int slot) const;

private:
    struct Freer {
        void operator()(double* p) const;
    };
    using Array = std::unique_ptr<double[], Freer>;
    struct Slot {
        Array real, imag, mask;
    };

    int nx_ = 0;
    int ny_ = 0;
    int log2x_ = 0;
    int log2y_ = 0;
    int slots_ = 0;
    int source_ = 0;
    int destination_ = 0;
    double maximum_ = 0.0;
    Slot slot_[kMaxSlots];
};

// ---- kernels over plain arrays -------------------------------------------

// sine[k], cosine[k] for k = 0..n-1 as in the contract above.
void MakeTwiddles(int n, double* sine, double* cosine);
// In place: element i swaps with element bitrev_log2n(i).
void BitReverse(double* real, double* imag, int n, int log2n);
// One row of n = 2^log2n values in place; direction 1 forward, -1 inverse.
// The result is also left in the work arrays (n doubles each). sine and
// cosine are MakeTwiddles(n) tables.
void Fft1D(double* real, double* imag, double* workReal, double* workImag, int n, int log2n,
           const double* sine, const double* cosine, int direction);
// to[x * rowCount + y] = from[y * rowLength + x] for both parts.
void TransposeGrid(const double* fromReal, const double* fromImag, double* toReal,
                   double* toImag, int rowLength, int rowCount);
// Two-dimensional transform of an nx x ny grid in place (rows first, then
// columns), spread over `threads` std::threads that are joined before it
// returns (one thread: the caller's own). Lines are dealt out in blocks of
// sixteen adjacent lines, block b to worker b mod threads; the split never
// changes a result. Scratch: at most 16 bytes per grid cell once the grid is
// 16 x 16 or larger, plus the twiddle and bit-reversal tables. Returns 0; -1
// (nothing changed) when threads is outside 1..5, nx or ny is not a power of
// two >= 2, direction is not 1 or -1, or scratch memory cannot be had.
int FftGrid(double* real, double* imag, int nx, int ny, int direction, int threads);

// Exchanges quadrant (x, y) with ((x + nx/2) mod nx, (y + ny/2) mod ny), so
// the zero frequency moves between cell (0, 0) and cell (nx/2, ny/2).
void SwapGridQuadrants(double* real, double* imag, int nx, int ny);

// ---- bank-level entries --------------------------------------------------
// All of them do nothing on an empty PlaneBank or FftBank, or when the plane
// is larger than the grid.

// Source slot (real, imaginary) from the source plane: cell (x, y) takes
// pixel (FoldIntoRange(x, 0, W), FoldIntoRange(y, 0, H)), imaginary 0. The
// mask array is left alone.
void LoadFftInput(const PlaneBank& planes, FftBank& fft);

// Transform of the source slot (direction 1) or the destination slot
// (direction -1) in place. 0, or -1 on an empty bank or an unknown
// direction.
int Fft2D(FftBank& fft, int direction);
// The same over `threads` workers; identical results for every count.
// -1 (nothing done) when threads is outside 1..5.
int Fft2DThreaded(FftBank& fft, int direction, int threads);

// The two halves of the operation around the mask, for a bank created for
// the plane (CreateFftBank(2, W, H)). Forward: slots 0, 0; LoadFftInput;
// transform; SwapQuadrants; the selection stays 0, 0. Inverse: SwapQuadrants
// and the inverse transform of the destination slot, then StoreFftOutput.
// Both return 0, or -1 with nothing done when threads is outside 1..5, a
// bank is empty or the plane does not fit the grid.
int RunFftForward(const PlaneBank& planes, FftBank& fft, int threads);
int RunFftInverse(PlaneBank& planes, FftBank& fft, int threads);

// Quadrant exchange of the destination slot's real and imaginary arrays.
void SwapQuadrants(FftBank& fft);

// Source slot to destination slot, the mask in the source slot's mask array.
// Square and circle (low <= high): without invert the ring between low and
// high passes (band-pass), with invert it is blocked (band-stop); passing
// cells take mask 1.0 and the source values, blocked cells mask 0.0 and 0.
// User mask (shape 2): destination = source * mask, cell by cell, the mask
// left as it is. Unknown shapes do nothing.
void ApplyFftMask(FftBank& fft, double low, double high, int invert, int shape);
// The dialog's pair of values: low / high are the smaller / larger of them,
// band-stop when minValue > maxValue.
void ApplyFftPassBand(FftBank& fft, double minValue, double maxValue, int shape);

// Log power preview. Every destination-slot cell's real part becomes
// p = re^2 + im^2, or ln(p) when p != 0, and raises the running maximum; the
// destination plane shows the central W x H window as
// trunc(p * (255 / maximum) + 0.5). A cell whose log power is negative
// (power in (0, 1)) shows as 0, and so does everything while the maximum
// is 0.
void ShowSpectrum(PlaneBank& planes, FftBank& fft);

// Destination plane from the destination slot's real part: clamped to
// 0..255 (NaN gives 0), then trunc(v + 0.5).
void StoreFftOutput(PlaneBank& planes, const FftBank& fft);

// Mask files (*.msk): Ny lines of Nx values, values separated by single
// commas, tabs or blanks, every line ended by a line end. Reading accepts CR
// LF, lone CR or lone LF; the columns are 1 + the separators of the first
// line not directly followed by a line end, the lines the count of line
// ends, and both must match the grid; values are decimal numbers with
// leading-number conversion (an empty token is 0, a token over 255
// characters makes the file invalid), and exactly Nx * Ny of them with
// nothing left over. 0 and slot 0's mask replaced, or -1 with the mask
// untouched. path is in the file system's encoding.
int ReadMaskFile(FftBank& fft, const std::string& path);
// Same check over text already in memory, into out (nx * ny values).
int ParseMaskText(const char* text, size_t length, int nx, int ny, double* out);
// Slot 0's mask, each value "%.0f", "," between values, CR LF after every
// line; the file is replaced whole or left alone. 0, or -1 on an empty bank
// or a failed write.
int WriteMaskFile(const FftBank& fft, const std::string& path);

}  // namespace lumadrift
