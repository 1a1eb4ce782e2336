// Tests of the W and H text format.

#include "factorisation/MatrixText.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using tessavo::Matrix;

namespace {

std::string text(const Matrix& m)
{
    std::ostringstream out;
    out << m;
    return out.str();
}

std::string oneValue(double v) { return text(Matrix(1, 1, v)); }

}  // namespace

TEST(MatrixText, TwoByThreeExampleByteForByte)
{
    Matrix m(2, 3);
    const double values[] = {1, 0.5, 0.25, 2, 3, 0.0001};
    for (int i = 0; i < 6; ++i)
        m.data()[i] = values[i];
    EXPECT_EQ(text(m), "2 3\n1 0.5 0.25 \n2 3 0.0001 \n");
}

TEST(MatrixText, ValuesUseSixSignificantDigits)
{
    EXPECT_EQ(oneValue(0.0), "1 1\n0 \n");
    EXPECT_EQ(oneValue(0.1), "1 1\n0.1 \n");
    EXPECT_EQ(oneValue(0.123456789), "1 1\n0.123457 \n");
    EXPECT_EQ(oneValue(1234.5678), "1 1\n1234.57 \n");
    EXPECT_EQ(oneValue(1e-9), "1 1\n1e-09 \n");
    EXPECT_EQ(oneValue(1234567), "1 1\n1.23457e+06 \n");
    EXPECT_EQ(oneValue(-0.5), "1 1\n-0.5 \n");
}

TEST(MatrixText, EmptyShapes)
{
    EXPECT_EQ(text(Matrix(0, 3)), "0 3\n");
    EXPECT_EQ(text(Matrix(2, 0)), "2 0\n\n\n");
    EXPECT_EQ(text(Matrix()), "0 0\n");
}

TEST(MatrixText, ChainsAndRespectsStreamState)
{
    std::ostringstream out;
    out << Matrix(1, 1, 2.0) << "end";
    EXPECT_EQ(out.str(), "1 1\n2 \nend");

    std::ostringstream failed;
    failed.setstate(std::ios::badbit);
    failed << Matrix(1, 1, 2.0);
    EXPECT_EQ(failed.str(), "");
}
