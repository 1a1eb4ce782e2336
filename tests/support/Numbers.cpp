#include "support/Numbers.h"

#include <cstring>
#include <iomanip>

namespace tessavo::test {

namespace {

template <typename T>
bool sameBitsOf(T a, T b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <typename T>
::testing::AssertionResult sameElements(const T* a, const T* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!sameBitsOf(a[i], b[i]))
            return ::testing::AssertionFailure() << std::setprecision(17) << "element " << i << ": " << a[i]
                                                 << " vs " << b[i];
    return ::testing::AssertionSuccess();
}

}  // namespace

Matrix filledMatrix(int rows, int cols, std::uint32_t seed, double scale, double offset)
{
    TestNumbers g(seed);
    Matrix m(rows, cols);
    for (int i = 0; i < m.size(); ++i)
        m.data()[i] = offset + scale * g.unit();
    return m;
}

Matrix magnitudes(int rows, int cols, std::uint32_t seed)
{
    TestNumbers g(seed);
    Matrix v(rows, cols);
    for (int i = 0; i < v.size(); ++i) {
        const double unit = g.unit();
        v.data()[i] = unit * unit * unit * 3.0;
    }
    if (rows > 2)
        for (int j = 0; j < cols; ++j)
            v[1][j] = 0.0;
    if (cols > 2)
        for (int i = 0; i < rows; ++i)
            v[i][cols - 2] = 0.0;
    return v;
}

::testing::AssertionResult sameBits(const Matrix& a, const Matrix& b)
{
    if (a.rows() != b.rows() || a.cols() != b.cols())
        return ::testing::AssertionFailure() << "shapes " << a.rows() << "x" << a.cols() << " and " << b.rows() << "x"
                                             << b.cols();
    return sameElements(a.data(), b.data(), static_cast<std::size_t>(a.size()));
}

::testing::AssertionResult sameBits(const SampleBuffer& a, const SampleBuffer& b)
{
    if (a.length() != b.length())
        return ::testing::AssertionFailure() << "lengths " << a.length() << " and " << b.length();
    return sameElements(a.data(), b.data(), static_cast<std::size_t>(a.length()));
}

::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
    return sameElements(a.data(), b.data(), a.size());
}

::testing::AssertionResult sameBits(double a, double b)
{
    return sameElements(&a, &b, 1);
}

}  // namespace tessavo::test
