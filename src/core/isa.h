// Instruction-set levels of the vectorised paths, and the one switch that
// caps them. Every path of a unit writes the same bytes; a level only
// decides how many pixels one instruction covers. Units ask ActiveIsa()
// and take the widest path they have at or below it, so a test can run each
// path on any processor that has it by capping the level.
//
// Levels (x86-64): Sse2 is the baseline every such processor has; Avx2 adds
// AVX2 and FMA; Avx512 has the F, BW, DQ and VL subsets. A unit that needs
// more (byte permutes, for instance) checks that feature on top and says so
// in its header. On other processors only Scalar exists.
#pragma once

namespace lumadrift {

enum class IsaLevel : int { Scalar = 0, Sse2 = 1, Avx2 = 2, Avx512 = 3 };

// The widest level this processor runs.
IsaLevel MachineIsa();
// The level units use: the machine's, or the cap when that is lower.
IsaLevel ActiveIsa();
// level <= MachineIsa().
bool IsaAvailable(IsaLevel level);
const char* IsaName(IsaLevel level);

// Caps the level every unit uses and returns the previous cap (the machine's
// level means no cap). For tests and benchmarks; not while a filter runs.
IsaLevel CapIsa(IsaLevel cap);

// CapIsa for a scope.
class ScopedIsaCap {
public:
    explicit ScopedIsaCap(IsaLevel cap) : previous_(CapIsa(cap)) {}
    ~ScopedIsaCap() { CapIsa(previous_); }
    ScopedIsaCap(const ScopedIsaCap&) = delete;
    ScopedIsaCap& operator=(const ScopedIsaCap&) = delete;

private:
    IsaLevel previous_;
};

}  // namespace lumadrift
