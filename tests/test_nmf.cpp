// Tests of the generator, the NMF factoriser and the objective.
//
// Each test makes its own stream, from state 1 as a run does. The expected
// numbers come from the generator's definition and from hand-checked
// doubles in shortest round-trip notation.

#include "factorisation/NmfFactoriser.h"
#include "factorisation/Random.h"
#include "support/Numbers.h"
#include "support/TestFiles.h"

#include "support/Matrices.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <initializer_list>
#include <stdexcept>
#include <string>

using tessavo::Matrix;
using tessavo::NmfFactoriser;
using tessavo::objective;
using tessavo::RandomStream;
using tessavo::test::bits;
using tessavo::test::sameBits;

using tessavo::test::matrixOf;

namespace {

constexpr double c = tessavo::kNmfRandomScale;

}  // namespace

TEST(Random, FirstEightDrawsFromStateOne)
{
    RandomStream random;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int e : expected)
        EXPECT_EQ(random.draw(), e);
}

TEST(NmfFactoriser, ScaleIsTheDoubleNearestOneOver16383)
{
    EXPECT_EQ(bits(c), 0x3F10004001000400u);
}

TEST(NmfFactoriser, WorkedExampleToTheLastBit)
{
    RandomStream random;
    const Matrix v = matrixOf(2, 2, {1, 2, 3, 4});
    NmfFactoriser nmf(v, 1, random);
    ASSERT_EQ(nmf.w().rows(), 2);
    ASSERT_EQ(nmf.w().cols(), 1);
    ASSERT_EQ(nmf.h().rows(), 1);
    ASSERT_EQ(nmf.h().cols(), 2);
    EXPECT_TRUE(sameBits(nmf.w()[0][0], 41 * c));
    EXPECT_TRUE(sameBits(nmf.w()[1][0], 18467 * c));
    EXPECT_TRUE(sameBits(nmf.h()[0][0], 6334 * c));
    EXPECT_TRUE(sameBits(nmf.h()[0][1], 26500 * c));

    nmf.updateW();
    EXPECT_TRUE(sameBits(nmf.w()[0][0], 1.3094135847964006));
    EXPECT_TRUE(sameBits(nmf.w()[1][0], 2.758609574963683));
    nmf.updateH();
    EXPECT_TRUE(sameBits(nmf.h()[0][0], 1.0279641635817278));
    EXPECT_TRUE(sameBits(nmf.h()[0][1], 1.4642371228568563));
    EXPECT_TRUE(sameBits(objective(nmf.v(), nmf.w(), nmf.h()), 0.39382261711404914));

    nmf.updateW();
    nmf.updateH();
    EXPECT_TRUE(sameBits(objective(nmf.v(), nmf.w(), nmf.h()), 0.36596677254681553));

    // V is referred to, never copied or written.
    EXPECT_EQ(nmf.v().data(), v.data());
    EXPECT_EQ(v[1][1], 4.0);
}

TEST(NmfFactoriser, OneFrameTwoComponentsStart)
{
    RandomStream random;
    const Matrix v(1, 3, 1.0);
    NmfFactoriser nmf(v, 2, random);
    EXPECT_TRUE(sameBits(nmf.w()[0][0], 0.0025025941524751266));
    EXPECT_TRUE(sameBits(nmf.w()[0][1], 1.1272050296038576));
    EXPECT_TRUE(sameBits(nmf.h()[0][0], 0.38662027711652325));
    EXPECT_TRUE(sameBits(nmf.h()[0][1], 1.6175303668436793));
}

TEST(NmfFactoriser, RandomStartIsAProductNotAQuotient)
{
    // The 21st draw is 32391, for which 32391 * c and 32391 / 16383 differ
    // in the last bit; with one frame and K = 1 it lands in the last of 20
    // bins of H.
    RandomStream random;
    const Matrix v(1, 20, 1.0);
    NmfFactoriser nmf(v, 1, random);
    EXPECT_TRUE(sameBits(nmf.h()[0][19], 32391 * c));
    EXPECT_NE(bits(32391 * c), bits(32391 / 16383.0));
}

TEST(NmfFactoriser, ConsecutiveFactorisersContinueOneStream)
{
    RandomStream random;
    const Matrix v(1, 1, 1.0);
    NmfFactoriser first(v, 1, random);
    NmfFactoriser second(v, 1, random);
    EXPECT_TRUE(sameBits(first.w()[0][0], 41 * c));
    EXPECT_TRUE(sameBits(first.h()[0][0], 18467 * c));
    EXPECT_TRUE(sameBits(second.w()[0][0], 6334 * c));
    EXPECT_TRUE(sameBits(second.h()[0][0], 26500 * c));
    EXPECT_EQ(random.draw(), 19169);
    // A stream of its own starts again from state 1.
    RandomStream other;
    EXPECT_EQ(other.draw(), 41);
}

TEST(NmfFactoriser, ObjectiveIsTheRootOfOneSumOfSquares)
{
    EXPECT_EQ(objective(matrixOf(1, 2, {3, 4}), Matrix(1, 1, 0.0), Matrix(1, 2, 0.0)), 5.0);

    const Matrix w = matrixOf(3, 2, {0.5, 1.25, 2, 0, 0.1, 3});
    const Matrix h = matrixOf(2, 2, {1, 0.3, 0.7, 2});
    EXPECT_EQ(objective(matmul(w, h), w, h), 0.0);

    EXPECT_THROW(objective(Matrix(2, 2, 1.0), Matrix(2, 1, 1.0), Matrix(1, 3, 1.0)),
                 std::invalid_argument);
}

TEST(NmfFactoriser, ZeroFramesAndBinsStayZero)
{
    // Row 1 (a frame) and column 2 (a bin) of V are silent.
    const Matrix v = matrixOf(3, 4, {1, 2, 0, 4, 0, 0, 0, 0, 5, 1, 0, 2});
    RandomStream random;
    NmfFactoriser nmf(v, 2, random);
    for (int iteration = 0; iteration < 5; ++iteration) {
        nmf.updateW();
        for (int k = 0; k < 2; ++k)
            EXPECT_TRUE(sameBits(nmf.w()[1][k], 0.0)) << "iteration " << iteration;
        nmf.updateH();
        for (int k = 0; k < 2; ++k)
            EXPECT_TRUE(sameBits(nmf.h()[k][2], 0.0)) << "iteration " << iteration;
    }
    for (int i = 0; i < nmf.w().size(); ++i)
        EXPECT_TRUE(std::isfinite(nmf.w().data()[i]));
    for (int i = 0; i < nmf.h().size(); ++i)
        EXPECT_TRUE(std::isfinite(nmf.h().data()[i]));
}

TEST(NmfFactoriser, ZeroComponentsLeaveEmptyFactors)
{
    const Matrix v = matrixOf(2, 2, {3, 4, 0, 12});
    RandomStream random;
    NmfFactoriser nmf(v, 0, random);
    nmf.updateW();
    nmf.updateH();
    EXPECT_EQ(nmf.components(), 0);
    EXPECT_EQ(nmf.w().rows(), 2);
    EXPECT_EQ(nmf.w().cols(), 0);
    EXPECT_EQ(nmf.h().rows(), 0);
    EXPECT_EQ(nmf.h().cols(), 2);
    EXPECT_EQ(objective(nmf.v(), nmf.w(), nmf.h()), 13.0);  // sqrt(9 + 16 + 144)
}

TEST(NmfFactoriser, RejectsImpossibleComponentCounts)
{
    RandomStream random;
    const Matrix v(2, 2, 1.0);
    EXPECT_THROW(NmfFactoriser(v, -1, random), std::invalid_argument);
    // 2 x INT_MAX elements cannot be counted in a 32-bit size.
    EXPECT_THROW(NmfFactoriser(v, INT_MAX, random), std::length_error);
}

// A second, deliberately variable implementation of one update pair from
// the worked example's start, to show that the golden objective tells the
// required arithmetic apart from plausible alternatives.
namespace {

enum class Variant { AsRequired, WDenominatorReassociated, HDenominatorReassociated, DivideFirst };

Matrix updated(const Matrix& old, const Matrix& numerator, const Matrix& denominator,
               Variant variant)
{
    Matrix result(old.rows(), old.cols());
    for (int i = 0; i < old.size(); ++i) {
        const double d = 1e-9 + denominator.data()[i];
        result.data()[i] = variant == Variant::DivideFirst
                               ? numerator.data()[i] * (old.data()[i] / d)
                               : (numerator.data()[i] * old.data()[i]) / d;
    }
    return result;
}

double firstObjective(Variant variant)
{
    const Matrix v = matrixOf(2, 2, {1, 2, 3, 4});
    Matrix w = matrixOf(2, 1, {41 * c, 18467 * c});
    Matrix h = matrixOf(1, 2, {6334 * c, 26500 * c});

    const Matrix ht = transpose(h);
    const Matrix dw = variant == Variant::WDenominatorReassociated ? matmul(w, matmul(h, ht))
                                                                   : matmul(matmul(w, h), ht);
    w = updated(w, matmul(v, ht), dw, variant);

    const Matrix wt = transpose(w);
    const Matrix dh = variant == Variant::HDenominatorReassociated ? matmul(wt, matmul(w, h))
                                                                   : matmul(matmul(wt, w), h);
    h = updated(h, matmul(wt, v), dh, variant);
    return objective(v, w, h);
}

}  // namespace

TEST(NmfFactoriser, GoldenObjectiveDetectsOtherArithmetic)
{
    const double golden = 0.39382261711404914;
    EXPECT_TRUE(sameBits(firstObjective(Variant::AsRequired), golden));
    EXPECT_FALSE(sameBits(firstObjective(Variant::WDenominatorReassociated), golden));
    EXPECT_FALSE(sameBits(firstObjective(Variant::HDenominatorReassociated), golden));
    EXPECT_FALSE(sameBits(firstObjective(Variant::DivideFirst), golden));
}
