// The program's own logarithm against the C library's: within one unit in
// the last place everywhere, equal for the great majority of inputs, and
// the usual answers for the inputs outside the positive normal numbers.

#include "factorisation/Logarithm.h"

#include "support/Numbers.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

using namespace tessavo;
using namespace tessavo::test;

namespace {

struct Agreement {
    long same = 0, count = 0;
    std::int64_t largest = 0;  // ulps
    void add(double x)
    {
        const std::int64_t d =
            static_cast<std::int64_t>(bits(naturalLog(x))) - static_cast<std::int64_t>(bits(std::log(x)));
        largest = std::max<std::int64_t>(largest, std::llabs(d));
        same += d == 0;
        ++count;
    }
};

}  // namespace

TEST(Logarithm, WithinOneUlpOfTheLibraryAndMostlyEqual)
{
    TestNumbers numbers(7);
    Agreement anywhere, nearOne, quotients;
    for (int n = 0; n < 2000000; ++n) {
        // Every positive normal exponent, uniformly.
        const std::uint64_t word = (static_cast<std::uint64_t>(numbers.next()) << 32) | numbers.next();
        const std::uint64_t exponent = 1 + (word >> 52) % 2046;
        double x;
        const std::uint64_t b = (exponent << 52) | (word & 0x000fffffffffffffu);
        std::memcpy(&x, &b, sizeof x);
        anywhere.add(x);
        nearOne.add(0.5 + 1.5 * numbers.unit());
        quotients.add(std::pow(10.0, 12.0 * numbers.unit() - 6.0));  // what V / (ε + W·H) spans
    }
    for (const Agreement* a : {&anywhere, &nearOne, &quotients}) {
        EXPECT_LE(a->largest, 1);
        EXPECT_GT(a->same, a->count * 9 / 10);
    }
    EXPECT_GT(anywhere.same, anywhere.count * 99 / 100);
}

TEST(Logarithm, ExactWhereTheAnswerIsAndTheEdgesOfTheRange)
{
    EXPECT_EQ(bits(naturalLog(1.0)), bits(0.0));
    EXPECT_EQ(naturalLog(2.0), std::log(2.0));
    EXPECT_EQ(naturalLog(0.5), -std::log(2.0));
    EXPECT_EQ(naturalLog(0.0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(naturalLog(-0.0), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(naturalLog(-1.0)));
    EXPECT_TRUE(std::isnan(naturalLog(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(naturalLog(std::numeric_limits<double>::infinity()), std::numeric_limits<double>::infinity());
    for (double x : {std::numeric_limits<double>::min(), std::numeric_limits<double>::max(), 1.0 + 0x1p-52,
                     1.0 - 0x1p-53, 1.4142135623730951, 1.4142135623730949}) {
        const std::int64_t d =
            static_cast<std::int64_t>(bits(naturalLog(x))) - static_cast<std::int64_t>(bits(std::log(x)));
        EXPECT_LE(std::llabs(d), 1) << x;
    }
    // Subnormals: scaled into the normal range first, two more roundings.
    for (double x : {std::numeric_limits<double>::denorm_min(), 1e-310, 2.2e-308})
        EXPECT_NEAR(naturalLog(x), std::log(x), 4e-16 * std::fabs(std::log(x))) << x;
}
