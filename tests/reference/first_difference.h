// Comparison of whole planes that names the first pixel that differs, so a
// failing bit-exact test says where to look.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace lumadrift::ref {

// "" when equal, else the first differing pixel in plane coordinates.
inline std::string FirstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
                                   int stride)
{
    if (got.size() != want.size())
        return "sizes differ";
    for (size_t i = 0; i < want.size(); ++i) {
        if (got[i] != want[i]) {
            std::ostringstream out;
            out << "first difference at (" << i % stride << ", " << i / stride << "): got "
                << int(got[i]) << ", want " << int(want[i]);
            return out.str();
        }
    }
    return "";
}

}  // namespace lumadrift::ref
