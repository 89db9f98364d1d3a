// Bitwise combination of two planes: destination = destination OP source,
// for every pixel of the bank's range. Nothing happens on an empty bank.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/plane_bank.h"

namespace lumadrift {

enum class BitOp { kAnd = 1, kOr = 2, kXor = 3 };

// dst[i] = dst[i] OP src[i] for i in [0, n).
void CombineBytes(uint8_t* dst, const uint8_t* src, size_t n, BitOp op);

// The two pool entries of an inter-image operation.
struct InterImageParams {
    int target = 0;
    int reference = 0;
};

void CombineRange(PlaneBank& bank, BitOp op);

}  // namespace lumadrift
