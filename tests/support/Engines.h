#pragma once
// One way to say that two factorisation engines agree: step by step, the
// same objective and the same measured factors, to the last bit.

#include "factorisation/Factoriser.h"

#include "support/Numbers.h"

#include <gtest/gtest.h>

namespace tessavo::test {

inline ::testing::AssertionResult sameSteps(Factoriser& a, Factoriser& b, int passes)
{
    for (int pass = 0; pass < passes; ++pass) {
        for (const ::testing::AssertionResult& same :
             {sameBits(a.step(), b.step()), sameBits(a.measuredW(), b.measuredW()),
              sameBits(a.measuredH(), b.measuredH())})
            if (!same)
                return ::testing::AssertionFailure() << "pass " << pass << ": " << same.message();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tessavo::test
