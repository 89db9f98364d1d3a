// The instruction-set levels a test runs a unit at, and the note for the
// ones this processor cannot run.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/isa.h"

namespace lumadrift::test {

inline constexpr IsaLevel kIsaLevels[] = {IsaLevel::Scalar, IsaLevel::Sse2, IsaLevel::Avx2, IsaLevel::Avx512};

inline std::string IsaLevelName(const ::testing::TestParamInfo<IsaLevel>& info) { return IsaName(info.param); }

// For a test that loops over the levels: ends it as skipped, naming the
// levels this processor lacks, once the ones it has have passed.
#define LUMADRIFT_SKIP_MISSING_ISA_LEVELS()                                              \
    do {                                                                                 \
        std::string missing;                                                             \
        for (::lumadrift::IsaLevel level : ::lumadrift::test::kIsaLevels)                \
            if (!::lumadrift::IsaAvailable(level))                                       \
                missing += std::string(missing.empty() ? "" : ", ") + ::lumadrift::IsaName(level); \
        if (!missing.empty())                                                            \
            GTEST_SKIP() << "this processor does not run: " << missing;                  \
    } while (0)

}  // namespace lumadrift::test
