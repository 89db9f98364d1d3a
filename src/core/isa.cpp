#include "core/isa.h"

#include <atomic>

namespace lumadrift {

namespace {

IsaLevel Detect()
{
#if defined(__GNUC__) && defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
        return IsaLevel::Avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return IsaLevel::Avx2;
    return IsaLevel::Sse2;
#else
    return IsaLevel::Scalar;
#endif
}

std::atomic<int> g_cap{static_cast<int>(IsaLevel::Avx512)};

}  // namespace

IsaLevel MachineIsa()
{
    static const IsaLevel level = Detect();
    return level;
}

IsaLevel ActiveIsa()
{
    const int cap = g_cap.load(std::memory_order_relaxed);
    const int machine = static_cast<int>(MachineIsa());
    return static_cast<IsaLevel>(cap < machine ? cap : machine);
}

bool IsaAvailable(IsaLevel level) { return static_cast<int>(level) <= static_cast<int>(MachineIsa()); }

const char* IsaName(IsaLevel level)
{
    switch (level) {
    case IsaLevel::Scalar: return "Scalar";
    case IsaLevel::Sse2: return "Sse2";
    case IsaLevel::Avx2: return "Avx2";
    case IsaLevel::Avx512: return "Avx512";
    }
    return "?";
}

IsaLevel CapIsa(IsaLevel cap)
{
    return static_cast<IsaLevel>(g_cap.exchange(static_cast<int>(cap), std::memory_order_relaxed));
}

}  // namespace lumadrift
