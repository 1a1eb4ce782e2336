#pragma once
// Tests that run once for every vector variant the build holds: a variant
// this processor cannot run is skipped, with the reason, so the log shows
// each one that ran.
//
//     class FftVariant : public tessavo::test::EachVariant {};
//     TESSAVO_FOR_EACH_VARIANT(FftVariant);
//     TEST_P(FftVariant, ...) { RealFft fft(64, GetParam()); ... }

#include "core/VectorVariants.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tessavo {

inline void PrintTo(VectorVariant v, std::ostream* os)
{
    *os << variantName(v);
}

namespace test {

class EachVariant : public ::testing::TestWithParam<VectorVariant> {
protected:
    void SetUp() override
    {
        if (!runsHere(GetParam()))
            GTEST_SKIP() << variantName(GetParam()) << " does not run on this processor";
    }
};

inline std::string variantLabel(const ::testing::TestParamInfo<VectorVariant>& info)
{
    return variantName(info.param);
}

}  // namespace test
}  // namespace tessavo

#define TESSAVO_FOR_EACH_VARIANT(suite) \
    INSTANTIATE_TEST_SUITE_P(Variants, suite, ::testing::ValuesIn(::tessavo::builtVariants()), ::tessavo::test::variantLabel)
