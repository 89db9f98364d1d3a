#include "filters/interimage.h"

#include <cstring>

#include "core/parallel.h"

namespace lumadrift {

namespace {

template <typename Op>
void Combine(uint8_t* dst, const uint8_t* src, size_t n, Op op)
{
    size_t i = 0;
    // Eight pixels per word; memcpy keeps the accesses free of aliasing and
    // alignment trouble and compiles to plain loads.
    for (; i + 8 <= n; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, dst + i, 8);
        std::memcpy(&b, src + i, 8);
        a = op(a, b);
        std::memcpy(dst + i, &a, 8);
    }
    for (; i < n; ++i)
        dst[i] = static_cast<uint8_t>(op(dst[i], src[i]));
}

}  // namespace

void CombineBytes(uint8_t* dst, const uint8_t* src, size_t n, BitOp op)
{
    switch (op) {
    case BitOp::kAnd: Combine(dst, src, n, [](uint64_t a, uint64_t b) { return a & b; }); break;
    case BitOp::kOr: Combine(dst, src, n, [](uint64_t a, uint64_t b) { return a | b; }); break;
    case BitOp::kXor: Combine(dst, src, n, [](uint64_t a, uint64_t b) { return a ^ b; }); break;
    }
}

void CombineRange(PlaneBank& bank, BitOp op)
{
    const uint8_t* src = bank.SourcePlane();
    uint8_t* dst = bank.DestinationPlane();
    if (!src || !dst)
        return;
    const int w = bank.QueryPlaneBank(kBankWidth);
    const int x0 = bank.QueryPlaneBank(kBankRangeLeft);
    const int y0 = bank.QueryPlaneBank(kBankRangeTop);
    const int rw = bank.QueryPlaneBank(kBankRangeWidth);
    const int rh = bank.QueryPlaneBank(kBankRangeHeight);
    // Byte by byte, so any split of the rows gives the same result.
    ParallelFor(y0, y0 + rh, RowsForBytes(static_cast<size_t>(w)), [&](int first, int last) {
        if (x0 == 0 && rw == w) {
            const size_t off = static_cast<size_t>(first) * w;
            CombineBytes(dst + off, src + off, static_cast<size_t>(rw) * (last - first), op);
            return;
        }
        for (int y = first; y < last; ++y) {
            const size_t off = static_cast<size_t>(y) * w + x0;
            CombineBytes(dst + off, src + off, static_cast<size_t>(rw), op);
        }
    });
}


}  // namespace lumadrift
