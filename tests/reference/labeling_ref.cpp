#include "reference/labeling_ref.h"

#include <cstddef>
#include <vector>

namespace lumadrift::ref {

LabelResult Label(const uint8_t* src, uint8_t* dst, int stride, FilterRange r)
{
    LabelResult result;
    if (r.w <= 0 || r.h <= 0)
        return result;
    auto S = [&](int x, int y) { return src[static_cast<size_t>(r.y0 + y) * stride + r.x0 + x]; };
    auto D = [&](int x, int y) -> uint8_t& { return dst[static_cast<size_t>(r.y0 + y) * stride + r.x0 + x]; };

    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x)
            D(x, y) = 0;

    std::vector<int32_t> map(static_cast<size_t>(r.w) * r.h);
    auto M = [&](int x, int y) -> int32_t& { return map[static_cast<size_t>(y) * r.w + x]; };
    for (int y = 0; y < r.h; ++y)
        for (int x = 0; x < r.w; ++x)
            M(x, y) = S(x, y) == 255 ? -1 : 0;  // 1..254 count as background

    std::vector<int32_t> eq(1, 0);
    int32_t next = 1;
    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) {
            if (M(x, y) != -1)
                continue;
            const int32_t ul = (y > 0 && x > 0) ? M(x - 1, y - 1) : 0;
            const int32_t up = y > 0 ? M(x, y - 1) : 0;
            const int32_t ur = (y > 0 && x < r.w - 1) ? M(x + 1, y - 1) : 0;
            const int32_t left = x > 0 ? M(x - 1, y) : 0;
            const int32_t nb[4] = {ul, up, ur, left};
            uint32_t m = 0;
            for (int32_t v : nb)
                if (v != 0 && (m == 0 || static_cast<uint32_t>(v) < m))
                    m = static_cast<uint32_t>(v);
            if (m != 0) {
                M(x, y) = eq[m];
                for (int32_t v : nb) {
                    if (m < static_cast<uint32_t>(v) && v != -1) {
                        const int32_t ev = eq[v];
                        const int32_t em = eq[m];
                        for (int32_t k = 1; k < next; ++k)
                            if (eq[k] == ev)
                                eq[k] = em;
                    }
                }
            } else {
                eq.push_back(next);
                M(x, y) = next;
                ++next;
            }
        }
    }

    std::vector<int32_t> fin(1, 0);
    int32_t nextFinal = 1;
    for (int32_t s = 1; s < next; ++s) {
        const int32_t rep = eq[s];
        int32_t found = 0;
        for (int32_t j = 1; j < nextFinal; ++j) {
            if (fin[j] == rep) {
                found = j;
                break;
            }
        }
        if (found) {
            eq[s] = found;
        } else {
            fin.push_back(rep);
            eq[s] = nextFinal;
            ++nextFinal;
        }
    }

    for (int y = 0; y < r.h; ++y) {
        for (int x = 0; x < r.w; ++x) {
            const int32_t n = M(x, y) == 0 ? 0 : eq[M(x, y)];
            if (n <= 255)
                D(x, y) = static_cast<uint8_t>(n);
        }
    }
    result.count = nextFinal;
    result.overflow = nextFinal > 255 ? 1 : 0;
    result.provisional = next - 1;
    return result;
}

}  // namespace lumadrift::ref
