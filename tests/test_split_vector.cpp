// Eight lanes held as register-wide parts: every operator, pick, select and
// lane access against the same operation done one lane at a time, for parts
// of four lanes (AVX2) and of two (the baseline).

#include "core/SplitVector.h"

#include "support/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

using namespace tessavo;
using namespace tessavo::test;

namespace {

typedef double Double4 __attribute__((vector_size(32)));
typedef double Double2 __attribute__((vector_size(16)));
typedef unsigned long long Bits4 __attribute__((vector_size(32)));
typedef unsigned long long Bits2 __attribute__((vector_size(16)));

template <typename D, typename B, int N>
struct Width {
    using Vec = Split<D, double, N>;
    using Bits = Split<B, unsigned long long, N>;
};

template <typename W>
class SplitVector : public ::testing::Test {};

using Widths = ::testing::Types<Width<Double4, Bits4, 2>, Width<Double2, Bits2, 4>>;
TYPED_TEST_SUITE(SplitVector, Widths);

std::uint64_t bitsOf(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Ordinary values and the awkward ones: zeros of both signs, subnormals,
// infinities, NaN, the extremes.
template <typename V>
void fill(V& v, TestNumbers& numbers, int round)
{
    const double special[] = {0.0, -0.0, 4.9e-324, -2.2e-310, std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                              1.7976931348623157e308, 2.2250738585072014e-308, 1.0};
    for (int r = 0; r < 8; ++r) {
        const std::uint32_t choice = numbers.next();
        const double x = round % 2 == 0 ? (numbers.unit() - 0.5) * std::ldexp(1.0, static_cast<int>(choice % 80) - 40)
                                        : special[(choice >> 4) % 10];
        setLane(v, r, x);
    }
}

template <typename V, typename Op>
void expectLanes(const V& result, const V& a, const V& b, Op op, const char* what)
{
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(bitsOf(lane(result, r)), bitsOf(op(lane(a, r), lane(b, r)))) << what << " lane " << r;
}

}  // namespace

TYPED_TEST(SplitVector, ArithmeticGivesEachLanesScalarBits)
{
    using Vec = typename TypeParam::Vec;
    TestNumbers numbers(7);
    for (int round = 0; round < 40; ++round) {
        Vec a, b;
        fill(a, numbers, round);
        fill(b, numbers, round / 2);
        const double s = lane(b, round % 8);
        Vec scalarRight, scalarLeft;
        for (int r = 0; r < 8; ++r) {
            setLane(scalarRight, r, s);
            setLane(scalarLeft, r, s);
        }
        expectLanes(a + b, a, b, [](double x, double y) { return x + y; }, "+");
        expectLanes(a - b, a, b, [](double x, double y) { return x - y; }, "-");
        expectLanes(a * b, a, b, [](double x, double y) { return x * y; }, "*");
        expectLanes(a / b, a, b, [](double x, double y) { return x / y; }, "/");
        // A scalar on either side stands for eight copies of itself.
        expectLanes(a - s, a, scalarRight, [](double x, double y) { return x - y; }, "vector - scalar");
        expectLanes(s / a, scalarLeft, a, [](double x, double y) { return x / y; }, "scalar / vector");
        expectLanes(s * a + 1.0, scalarLeft, a, [](double x, double y) { return x * y + 1.0; }, "scalar * vector + 1");
    }
}

TYPED_TEST(SplitVector, BitOperationsAndComparisonsWorkLaneByLane)
{
    using Bits = typename TypeParam::Bits;
    using Vec = typename TypeParam::Vec;
    TestNumbers numbers(11);
    Bits a, b;
    for (int r = 0; r < 8; ++r) {
        setLane(a, r, (static_cast<unsigned long long>(numbers.next()) << 32) | numbers.next());
        setLane(b, r, r == 3 ? lane(a, r) : (static_cast<unsigned long long>(numbers.next()) << 32) | numbers.next());
    }
    const Bits mixed = ((a >> 7) & b) | (~a ^ (b << 3));
    const Bits fromScalar = (0x6b852u - a) >> 63;
    const auto equal = a == b;
    const auto atLeast = a >= 0x8000000000000000u;
    for (int r = 0; r < 8; ++r) {
        const unsigned long long x = lane(a, r), y = lane(b, r);
        EXPECT_EQ(lane(mixed, r), ((x >> 7) & y) | (~x ^ (y << 3))) << r;
        EXPECT_EQ(lane(fromScalar, r), (0x6b852ull - x) >> 63) << r;
        EXPECT_EQ(lane(equal, r), x == y ? -1 : 0) << r;
        EXPECT_EQ(lane(atLeast, r), x >= 0x8000000000000000u ? -1 : 0) << r;
    }

    // select takes its first vector where the mask is set, the second
    // elsewhere; anySet sees a single set lane wherever it is.
    Vec p, q;
    for (int r = 0; r < 8; ++r) {
        setLane(p, r, r + 0.5);
        setLane(q, r, -r - 0.25);
    }
    const Vec chosen = select(equal, p, q);
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(lane(chosen, r), r == 3 ? r + 0.5 : -r - 0.25) << r;
    EXPECT_FALSE(anySet(a ^ a));
    for (int r = 0; r < 8; ++r) {
        Bits one = a ^ a;
        setLane(one, r, 1ull << (r * 7));
        EXPECT_TRUE(anySet(one)) << r;
    }
}

namespace {

template <typename Vec, int a, int b, int c, int d, int e, int f, int g, int h>
void expectPick(const Vec& x, const Vec& y)
{
    const Vec picked = pick<a, b, c, d, e, f, g, h>(x, y);
    const int index[8] = {a, b, c, d, e, f, g, h};
    for (int r = 0; r < 8; ++r) {
        const double want = index[r] < 8 ? lane(x, index[r]) : lane(y, index[r] - 8);
        EXPECT_EQ(lane(picked, r), want) << "lane " << r << " of pick " << a << b << c << d << e << f << g << h;
    }
}

}  // namespace

TYPED_TEST(SplitVector, PicksTakeTheLanesNamed)
{
    using Vec = typename TypeParam::Vec;
    Vec x, y;
    for (int r = 0; r < 8; ++r) {
        setLane(x, r, r + 1.0);
        setLane(y, r, -(r + 1.0));
    }
    // The transpose's three rounds, the fold's swaps, and picks whose parts
    // draw on one part only or mix lanes within a part.
    expectPick<Vec, 0, 8, 2, 10, 4, 12, 6, 14>(x, y);
    expectPick<Vec, 1, 9, 3, 11, 5, 13, 7, 15>(x, y);
    expectPick<Vec, 0, 1, 4, 5, 8, 9, 12, 13>(x, y);
    expectPick<Vec, 2, 3, 6, 7, 10, 11, 14, 15>(x, y);
    expectPick<Vec, 4, 5, 6, 7, 0, 1, 2, 3>(x, y);
    expectPick<Vec, 2, 3, 0, 1, 6, 7, 4, 5>(x, y);
    expectPick<Vec, 8, 9, 10, 11, 12, 13, 14, 15>(x, y);
    expectPick<Vec, 1, 0, 3, 2, 9, 8, 11, 10>(x, y);
}

TYPED_TEST(SplitVector, LoadsAndStoresKeepEveryBitAtAnyAlignment)
{
    using Vec = typename TypeParam::Vec;
    TestNumbers numbers(5);
    double source[9], target[9] = {};
    for (double& x : source)
        x = numbers.unit() - 0.5;
    source[4] = -0.0;
    Vec v;
    loadInto(v, source + 1);  // eight bytes past the array's alignment
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(bitsOf(lane(v, r)), bitsOf(source[r + 1])) << r;
    storeFrom(target + 1, v);
    EXPECT_EQ(bitsOf(target[0]), bitsOf(0.0));
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(bitsOf(target[r + 1]), bitsOf(source[r + 1])) << r;
}
