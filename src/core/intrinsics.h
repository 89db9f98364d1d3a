// The x86 vector intrinsics for the units that have vector paths. GCC 12
// takes the deliberately undefined pass-through operand inside some AVX-512
// intrinsics for an uninitialised read, so the header is read with that
// warning off.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
#endif
