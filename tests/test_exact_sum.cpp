// The running sum without a chain: runs of terms added as integer units of
// the sum's binade give the bits of adding every term in order, whatever the
// terms (ties, subnormals, a sum from 0, huge and tiny terms, binade changes
// inside a run), and only a few runs of ordinary data need the plain way.

#include "factorisation/ExactSum.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

double plainSum(const std::vector<double>& x)
{
    double s = 0.0;
    for (double v : x)
        s = s + v;
    return s;
}

// The walk: runs of length run, each formed in reverse order (any order
// must do) for the sum's binade, added as units or else plainly.
double walkedSum(const std::vector<double>& x, std::size_t run, int& plainRuns)
{
    double s = 0.0;
    plainRuns = 0;
    for (std::size_t a = 0; a < x.size(); a += run) {
        const std::size_t b = std::min(x.size(), a + run);
        SumUnits units;
        const int binade = sumBinade(s);
        for (std::size_t i = b; i-- > a;)
            units.add(x[i], binade);
        if (addUnits(s, units))
            continue;
        ++plainRuns;
        for (std::size_t i = a; i < b; ++i)
            s = s + x[i];
    }
    return s;
}

struct Kind {
    const char* name;
    double (*draw)(std::mt19937_64& random);
};

double uniform(std::mt19937_64& r)
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(r);
}

}  // namespace

// Tables of 300 rows of 512 terms, six kinds, each summed row by row and in
// runs of 37 terms (binade changes inside a row), against the plain sum.
TEST(ExactSum, RunsGiveThePlainBitsForEveryKindOfTerm)
{
    const Kind kinds[] = {
        {"uniform", uniform},
        {"squared differences", [](std::mt19937_64& r) { const double d = uniform(r) - uniform(r); return d * d; }},
        {"small integers", [](std::mt19937_64& r) { return std::floor(uniform(r) * 8.0); }},
        {"zeros and subnormals",
         [](std::mt19937_64& r) { return uniform(r) < 0.5 ? 0.0 : uniform(r) * 1e-310; }},
        {"seventeen orders of magnitude", [](std::mt19937_64& r) { return std::pow(10.0, -8.0 + 17.0 * uniform(r)); }},
        {"halves of the last place", [](std::mt19937_64& r) { return std::ldexp(std::floor(uniform(r) * 64.0), -60); }},
    };
    std::mt19937_64 random(7);
    for (const Kind& kind : kinds) {
        std::vector<double> x(300 * 512);
        for (double& v : x)
            v = kind.draw(random);
        for (const std::size_t run : {std::size_t{512}, std::size_t{37}}) {
            int plainRuns = 0;
            EXPECT_EQ(bits(walkedSum(x, run, plainRuns)), bits(plainSum(x))) << kind.name << ", runs of " << run;
            if (std::string(kind.name) == "uniform" || std::string(kind.name) == "squared differences") {
                EXPECT_LT(plainRuns, static_cast<int>(x.size() / run / 10)) << kind.name << ": too many plain runs";
            }
        }
    }
}

// The cases one by one: a run's units against adding its terms in order.
TEST(ExactSum, TiesLeavingTheBinadeAndSpecialValuesAreAddedPlainly)
{
    const double s = 1.0;                      // binade 1023, unit 2^-52
    const double unit = std::ldexp(1.0, -52);
    const int binade = sumBinade(s);
    const auto units = [&](std::vector<double> terms) {
        SumUnits u;
        for (double t : terms)
            u.add(t, binade);
        return u;
    };
    // Whole units and rounding to the nearest: exact.
    double t = s;
    EXPECT_TRUE(addUnits(t, units({3 * unit, 0.4 * unit, 0.6 * unit, 0.0})));
    EXPECT_EQ(bits(t), bits(((s + 3 * unit) + 0.4 * unit) + 0.6 * unit));
    // A tie, which the running significand's last bit settles: plain.
    EXPECT_TRUE(units({0.5 * unit}).plain);
    EXPECT_TRUE(units({2 * unit, 1.5 * unit}).plain);
    // Leaving the binade, by one huge term or by many: plain.
    EXPECT_TRUE(units({1.0}).plain);
    t = std::nextafter(2.0, 0.0);
    EXPECT_FALSE(addUnits(t, units({unit})));
    EXPECT_EQ(t, std::nextafter(2.0, 0.0));
    // Infinite and not-a-number terms: plain; a sum from 0 or subnormal: plain.
    EXPECT_TRUE(units({std::numeric_limits<double>::infinity()}).plain);
    EXPECT_TRUE(units({std::nan("")}).plain);
    double zero = 0.0;
    EXPECT_FALSE(addUnits(zero, SumUnits{}));
    EXPECT_EQ(sumBinade(1e-310), 0);
    // Far below a unit: nothing, without a tie.
    const SumUnits tiny = units({std::ldexp(unit, -60), 4.9e-324});
    EXPECT_FALSE(tiny.plain);
    EXPECT_EQ(tiny.units, 0u);
    // Runs combine: the units of two runs are those of one.
    SumUnits a = units({unit, 2 * unit}), b = units({5 * unit});
    a.add(b);
    EXPECT_EQ(a.units, 8u);
}
