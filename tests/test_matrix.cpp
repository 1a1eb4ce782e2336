#include "core/Matrix.h"

#include <type_traits>

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using tessavo::Matrix;
using tessavo::test::bits;

namespace {

Matrix fromRows(std::initializer_list<std::initializer_list<double>> rows)
{
    const int r = static_cast<int>(rows.size());
    const int c = r ? static_cast<int>(rows.begin()->size()) : 0;
    Matrix m(r, c);
    int i = 0;
    for (const auto& row : rows) {
        int j = 0;
        for (double v : row)
            m[i][j++] = v;
        ++i;
    }
    return m;
}

void expectEmpty(const Matrix& m)
{
    EXPECT_EQ(m.rows(), 0);
    EXPECT_EQ(m.cols(), 0);
    EXPECT_EQ(m.data(), nullptr);
}

}  // namespace

TEST(Matrix, ConstructionFillsAndRejectsImpossibleSizes)
{
    Matrix m(2, 3, 1.5);
    ASSERT_EQ(m.rows(), 2);
    ASSERT_EQ(m.cols(), 3);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(m[i][j], 1.5);
    EXPECT_EQ(&m[1][0], m.data() + 3);  // row-major, contiguous
    expectEmpty(Matrix());
    EXPECT_EQ(Matrix(4, 0).data(), nullptr);
    EXPECT_THROW(Matrix(-1, 2), std::length_error);
    EXPECT_THROW(Matrix(65536, 65536), std::length_error);  // 2^32 elements overflow a 32-bit count
}

TEST(Matrix, ProductShapesAndValues)
{
    const Matrix a = fromRows({{1, 2, 3}, {4, 5, 6}});
    const Matrix b = fromRows({{7, 8}, {9, 10}, {11, 12}});
    const Matrix p = matmul(a, b);
    ASSERT_EQ(p.rows(), 2);
    ASSERT_EQ(p.cols(), 2);
    EXPECT_EQ(p[0][0], 58);
    EXPECT_EQ(p[0][1], 64);
    EXPECT_EQ(p[1][0], 139);
    EXPECT_EQ(p[1][1], 154);

    expectEmpty(matmul(a, a));  // 2x3 times 2x3 does not fit

    const Matrix z = matmul(Matrix(3, 0), Matrix(0, 4));
    ASSERT_EQ(z.rows(), 3);
    ASSERT_EQ(z.cols(), 4);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(bits(z[i][j]), bits(0.0));
}

TEST(Matrix, ProductSumsInIncreasingK)
{
    // 1e16 + 1 - 1e16 is 0 when summed left to right, 1 in other orders.
    const Matrix a = fromRows({{1e16, 1, -1e16}});
    const Matrix b = fromRows({{1}, {1}, {1}});
    EXPECT_EQ(matmul(a, b)[0][0], 0.0);
    const Matrix c = fromRows({{1, 1e16, -1e16}});
    EXPECT_EQ(matmul(c, b)[0][0], 0.0);
    const Matrix d = fromRows({{1e16, -1e16, 1}});
    EXPECT_EQ(matmul(d, b)[0][0], 1.0);
}

TEST(Matrix, DifferenceAndTranspose)
{
    const Matrix a = fromRows({{5, 7}, {1, 2}});
    const Matrix b = fromRows({{1, 2}, {3, 4}});
    const Matrix d = a - b;
    EXPECT_EQ(d[0][0], 4);
    EXPECT_EQ(d[0][1], 5);
    EXPECT_EQ(d[1][0], -2);
    EXPECT_EQ(d[1][1], -2);
    expectEmpty(a - Matrix(2, 3, 0.0));
    expectEmpty(a - Matrix(3, 2, 0.0));

    const Matrix row = fromRows({{1, 2, 3}});
    const Matrix col = transpose(row);
    ASSERT_EQ(col.rows(), 3);
    ASSERT_EQ(col.cols(), 1);
    EXPECT_EQ(col[2][0], 3);
    expectEmpty(transpose(Matrix()));
    const Matrix t = transpose(fromRows({{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(t[0][1], 4);
    EXPECT_EQ(t[2][0], 3);
}

TEST(Matrix, InPlaceOperationsAndMismatches)
{
    Matrix a = fromRows({{1, 2}, {3, 4}});
    a += fromRows({{10, 20}, {30, 40}});
    EXPECT_EQ(a[1][1], 44);
    a *= fromRows({{2, 2}, {2, 0.5}});
    EXPECT_EQ(a[0][0], 22);
    EXPECT_EQ(a[1][1], 22);
    a /= fromRows({{2, 11}, {3, 2}});
    EXPECT_EQ(a[0][0], 11);
    EXPECT_EQ(a[0][1], 4);
    EXPECT_EQ(a[1][0], 22);
    EXPECT_EQ(a[1][1], 11);

    const Matrix before = fromRows({{1, 2}, {3, 4}});
    Matrix m = fromRows({{1, 2}, {3, 4}});
    m += Matrix(2, 3, 9.0);
    m *= Matrix(3, 2, 9.0);
    m /= Matrix(2, 1, 9.0);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            EXPECT_EQ(m[i][j], before[i][j]);
}

TEST(Matrix, ZeroDivisorStoresIeeeResultOnlyThere)
{
    Matrix a = fromRows({{1, -1, 0, 6}});
    a /= fromRows({{0, 0, 0, 3}});
    EXPECT_EQ(a[0][0], INFINITY);
    EXPECT_EQ(a[0][1], -INFINITY);
    EXPECT_TRUE(std::isnan(a[0][2]));
    EXPECT_EQ(a[0][3], 2);
}

TEST(Matrix, SharedHandlesShareElementsUntilTheLastHandleGoes)
{
    // No implicit copies: sharing is asked for, so a const matrix never
    // gains a writable alias.
    static_assert(!std::is_copy_constructible_v<Matrix> && !std::is_copy_assignable_v<Matrix>);
    Matrix a(2, 2, 0.0);
    EXPECT_EQ(a.shareCount(), 1);
    {
        Matrix b = a.share();
        EXPECT_EQ(a.shareCount(), 2);
        b[1][0] = 7.0;
        EXPECT_EQ(a[1][0], 7.0);
        Matrix c;
        c = b.share();
        EXPECT_EQ(a.shareCount(), 3);
        c[0][1] = 3.0;
        EXPECT_EQ(a[0][1], 3.0);
    }
    EXPECT_EQ(a.shareCount(), 1);  // destroying the other handles left the elements intact
    EXPECT_EQ(a[1][0], 7.0);

    a = a.share();
    EXPECT_EQ(a.shareCount(), 1);
    EXPECT_EQ(a[0][1], 3.0);

    // A clone has elements of its own.
    const Matrix& constant = a;
    Matrix copy = constant.clone();
    copy[0][1] = -1.0;
    EXPECT_EQ(a[0][1], 3.0);
    EXPECT_EQ(copy.shareCount(), 1);

    // A moved-from handle is empty; the elements live on in the target.
    Matrix moved = std::move(a);
    EXPECT_EQ(a.rows(), 0);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(moved.shareCount(), 1);
    EXPECT_EQ(moved[1][0], 7.0);
    a = std::move(moved);

    // Results never share with their operands.
    Matrix t = transpose(a);
    t[0][0] = 99.0;
    EXPECT_EQ(a[0][0], 0.0);
}
