// Tests of the recombination of spectrograms: components, residual, and the
// stereo fold and split.

#include "separation/Recombination.h"
#include "support/TestFiles.h"

#include "support/Matrices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <stdexcept>

using tessavo::Matrix;
using tessavo::test::bits;

using tessavo::test::matrixOf;

namespace {

const double kPi = std::acos(-1.0);

}  // namespace

TEST(Recombination, ComponentsPlusResidualGiveBackV)
{
    const Matrix v = matrixOf(2, 3, {1.5, 0.25, 4, 0, 2, 7.125});
    const Matrix w = matrixOf(2, 2, {0.3, 1.7, 2.2, 0.05});
    const Matrix h = matrixOf(2, 3, {0.9, 0.1, 1.3, 0.6, 0.2, 2.1});

    Matrix sum = tessavo::residualMagnitude(v, w, h);
    ASSERT_EQ(sum.rows(), 2);
    ASSERT_EQ(sum.cols(), 3);
    for (int k = 0; k < 2; ++k)
        sum += tessavo::componentMagnitude(w, h, k);
    for (int i = 0; i < v.size(); ++i)
        EXPECT_NEAR(sum.data()[i], v.data()[i], 1e-14) << "cell " << i;

    // Cell [1][0]: W·H = 2.2 * 0.9 + 0.05 * 0.6 = 2.01 where V is 0.
    EXPECT_LT(tessavo::residualMagnitude(v, w, h)[1][0], 0.0);
}

TEST(Recombination, SingleComponentIsExactlyTheProduct)
{
    const Matrix w = matrixOf(3, 1, {0.1, 2.5, 1e-3});
    const Matrix h = matrixOf(1, 2, {0.7, 3.3});
    const Matrix product = matmul(w, h);
    const Matrix component = tessavo::componentMagnitude(w, h, 0);
    ASSERT_EQ(component.rows(), 3);
    ASSERT_EQ(component.cols(), 2);
    for (int i = 0; i < product.size(); ++i)
        EXPECT_EQ(bits(component.data()[i]), bits(product.data()[i]));
}

TEST(Recombination, ResidualIsSignedAndNeverClamped)
{
    const Matrix residual =
        tessavo::residualMagnitude(matrixOf(1, 2, {1, 9}), matrixOf(1, 1, {2}), matrixOf(1, 2, {3, 4}));
    EXPECT_EQ(residual[0][0], -5.0);
    EXPECT_EQ(residual[0][1], 1.0);
    // W and H that do not fit V give the empty matrix, as any mismatched
    // difference does.
    EXPECT_EQ(tessavo::residualMagnitude(Matrix(2, 2, 1.0), Matrix(2, 1, 1.0),
                                         Matrix(1, 3, 1.0)).size(), 0);
}

TEST(Recombination, StereoSplitGivesBackBothChannels)
{
    const Matrix left = matrixOf(2, 3, {0.5, 3, 0, 1e-6, 42, 7});
    const Matrix right = matrixOf(2, 3, {2, 4, 9, 1e-6, 0.001, 7});
    const Matrix magnitude = tessavo::stereoMagnitude(left, right);
    const Matrix angle = tessavo::stereoAngle(left, right);
    const Matrix backLeft = tessavo::splitLeft(magnitude, angle);
    const Matrix backRight = tessavo::splitRight(magnitude, angle);
    for (int i = 0; i < left.size(); ++i) {
        EXPECT_NEAR(backLeft.data()[i], left.data()[i], 1e-15 * magnitude.data()[i] * 4);
        EXPECT_NEAR(backRight.data()[i], right.data()[i], 1e-15 * magnitude.data()[i] * 4);
    }
    EXPECT_EQ(magnitude[0][1], 5.0);
    // Left silent: all right.
    EXPECT_DOUBLE_EQ(angle[0][2], kPi / 2);
    // Equal channels: a·√2 and an angle of π/4, each half X/√2.
    EXPECT_EQ(magnitude[1][2], std::sqrt(98.0));
    EXPECT_DOUBLE_EQ(angle[1][2], kPi / 4);
    EXPECT_DOUBLE_EQ(tessavo::splitLeft(matrixOf(1, 1, {2}), matrixOf(1, 1, {angle[1][2]}))[0][0],
                     std::sqrt(2.0));
}

TEST(Recombination, StereoMagnitudeRoundsEachSquare)
{
    // 9613081 / 65536 and 16144325 / 65536: the rounded squares, summed and
    // rooted, give ...585, where a fused or hypot-style evaluation gives
    // ...591.
    const Matrix magnitude = tessavo::stereoMagnitude(matrixOf(1, 1, {9613081 / 65536.0}),
                                                      matrixOf(1, 1, {16144325 / 65536.0}));
    EXPECT_EQ(bits(magnitude[0][0]), bits(286.70714710322585));
}

TEST(Recombination, SilentCellGoesWhollyLeft)
{
    const Matrix silent(1, 1, 0.0);
    const Matrix magnitude = tessavo::stereoMagnitude(silent, silent);
    const Matrix angle = tessavo::stereoAngle(silent, silent);
    EXPECT_EQ(bits(magnitude[0][0]), bits(0.0));
    EXPECT_EQ(bits(angle[0][0]), bits(0.0));

    // A later component or residual value at that cell, of either sign.
    const Matrix x = matrixOf(1, 2, {0.75, -0.25});
    const Matrix theta(1, 2, 0.0);
    const Matrix left = tessavo::splitLeft(x, theta);
    const Matrix right = tessavo::splitRight(x, theta);
    EXPECT_EQ(left[0][0], 0.75);
    EXPECT_EQ(left[0][1], -0.25);
    EXPECT_EQ(right[0][0], 0.0);
    EXPECT_EQ(right[0][1], 0.0);
}

TEST(Recombination, RejectsMismatchedOperands)
{
    const Matrix a(2, 3, 1.0);
    const Matrix b(3, 2, 1.0);
    EXPECT_THROW(tessavo::stereoMagnitude(a, b), std::invalid_argument);
    EXPECT_THROW(tessavo::stereoAngle(a, b), std::invalid_argument);
    EXPECT_THROW(tessavo::splitLeft(a, b), std::invalid_argument);
    EXPECT_THROW(tessavo::splitRight(a, b), std::invalid_argument);
    EXPECT_THROW(tessavo::componentMagnitude(Matrix(2, 2, 1.0), Matrix(2, 3, 1.0), 2),
                 std::invalid_argument);
    EXPECT_THROW(tessavo::componentMagnitude(Matrix(2, 2, 1.0), Matrix(2, 3, 1.0), -1),
                 std::invalid_argument);
}
