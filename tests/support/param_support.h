// Generic helpers over a parameter struct's field list: fill every field with
// a value of its own, and compare two structs field by field.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/param_fields.h"
#include "filters/derivative.h"

namespace lumadrift::test {

// An owned struct of the kind a field list describes.
class OwnedParams {
public:
    explicit OwnedParams(const ParamSet& set) : set_(set), p_(set.create()) {}
    ~OwnedParams() { set_.destroy(p_); }
    OwnedParams(const OwnedParams&) = delete;
    OwnedParams& operator=(const OwnedParams&) = delete;
    void* get() const { return p_; }

private:
    const ParamSet& set_;
    void* p_;
};

// Values every format keeps exactly (reals end in .5, texts are absolute
// paths), different for each field and seed, away from the defaults.
inline void FillDistinct(const ParamSet& set, void* p, int seed)
{
    int i = 0;
    for (const ParamField& f : set) {
        const int v = seed * 100 + ++i;
        void* m = f.ref(p);
        switch (f.type) {
        case FieldType::kInt: *static_cast<int*>(m) = v; break;
        case FieldType::kColor: *static_cast<uint32_t*>(m) = static_cast<uint32_t>(v) * 0x010101u; break;
        case FieldType::kReal: *static_cast<double*>(m) = -v - 0.5; break;
        case FieldType::kText:
        case FieldType::kPath: *static_cast<std::string*>(m) = "/p/ﾌｧｲﾙ" + std::to_string(v) + ".bin"; break;
        case FieldType::kKernel: {
            auto& c = *static_cast<ConvolutionParams*>(m);
            c.values.assign(static_cast<size_t>(c.mode == 5 ? 25 : 9), 0.0);
            for (size_t k = 0; k < c.values.size(); ++k)
                c.values[k] = v + 0.5 * static_cast<double>(k);
            break;
        }
        }
    }
}

inline void ExpectSameFields(const ParamSet& set, const void* a, const void* b, bool lineOnly = false)
{
    auto* pa = const_cast<void*>(a);
    auto* pb = const_cast<void*>(b);
    for (const ParamField& f : set) {
        if (lineOnly && !f.label)
            continue;
        SCOPED_TRACE(f.label ? f.label : f.iniKey);
        switch (f.type) {
        case FieldType::kInt: EXPECT_EQ(*static_cast<int*>(f.ref(pa)), *static_cast<int*>(f.ref(pb))); break;
        case FieldType::kColor:
            EXPECT_EQ(*static_cast<uint32_t*>(f.ref(pa)), *static_cast<uint32_t*>(f.ref(pb)));
            break;
        case FieldType::kReal: EXPECT_EQ(*static_cast<double*>(f.ref(pa)), *static_cast<double*>(f.ref(pb))); break;
        case FieldType::kText:
        case FieldType::kPath:
            EXPECT_EQ(*static_cast<std::string*>(f.ref(pa)), *static_cast<std::string*>(f.ref(pb)));
            break;
        case FieldType::kKernel: {
            const auto& ca = *static_cast<ConvolutionParams*>(f.ref(pa));
            const auto& cb = *static_cast<ConvolutionParams*>(f.ref(pb));
            EXPECT_EQ(ca.values, cb.values);
            EXPECT_EQ(ca.kernelFile, cb.kernelFile);
            break;
        }
        }
    }
}

}  // namespace lumadrift::test
