#include "core/Matrix.h"

#include "core/LargeAllocation.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace tessavo {

namespace {

bool sameShape(const Matrix& a, const Matrix& b)
{
    return a.rows() == b.rows() && a.cols() == b.cols();
}

}  // namespace

Matrix::Matrix(int rows, int cols) : rows_(rows), cols_(cols)
{
    if (rows < 0 || cols < 0)
        throw std::length_error("matrix dimensions must not be negative");
    const std::int64_t count = static_cast<std::int64_t>(rows) * cols;
    if (count > std::numeric_limits<int>::max())
        throw std::length_error("matrix of " + std::to_string(rows) + " x " + std::to_string(cols) +
                                " elements is too large");
    if (count >= 1) {
        // Left uninitialised on purpose: every caller writes all elements.
        storage_.reset(static_cast<double*>(allocateLarge(static_cast<std::size_t>(count) * sizeof(double))),
                       [](double* p) { std::free(p); });
        data_ = storage_.get();
    }
}

Matrix Matrix::share()
{
    Matrix other;
    other.storage_ = storage_;
    other.data_ = data_;
    other.rows_ = rows_;
    other.cols_ = cols_;
    return other;
}

Matrix Matrix::clone() const
{
    Matrix copy(rows_, cols_);
    if (size() > 0)
        std::copy(data_, data_ + size(), copy.data_);
    return copy;
}

Matrix::Matrix(int rows, int cols, double value) : Matrix(rows, cols)
{
    const int n = size();
    for (int i = 0; i < n; ++i)
        data_[i] = value;
}

Matrix& Matrix::operator+=(const Matrix& b)
{
    if (!sameShape(*this, b))
        return *this;
    const int n = size();
    const double* bv = b.data();
    for (int i = 0; i < n; ++i)
        data_[i] = bv[i] + data_[i];
    return *this;
}

Matrix& Matrix::operator*=(const Matrix& b)
{
    if (!sameShape(*this, b))
        return *this;
    const int n = size();
    const double* bv = b.data();
    for (int i = 0; i < n; ++i)
        data_[i] = bv[i] * data_[i];
    return *this;
}

Matrix& Matrix::operator/=(const Matrix& b)
{
    if (!sameShape(*this, b))
        return *this;
    const int n = size();
    const double* bv = b.data();
    for (int i = 0; i < n; ++i)
        data_[i] = data_[i] / bv[i];
    return *this;
}

Matrix matmul(const Matrix& a, const Matrix& b)
{
    if (a.cols() != b.rows())
        return Matrix();
    const int rows = a.rows();
    const int cols = b.cols();
    const int inner = a.cols();
    Matrix r(rows, cols, 0.0);
    // Loop order i, k, j: each r[i][j] still starts at 0.0 and adds its
    // products in increasing k, so the bits equal those of the i, j, k
    // order, while the inner loop runs along contiguous rows.
    for (int i = 0; i < rows; ++i) {
        double* ri = r[i];
        const double* ai = a[i];
        for (int k = 0; k < inner; ++k) {
            const double aik = ai[k];
            const double* bk = b[k];
            for (int j = 0; j < cols; ++j)
                ri[j] = ri[j] + aik * bk[j];
        }
    }
    return r;
}

Matrix operator-(const Matrix& a, const Matrix& b)
{
    if (!sameShape(a, b))
        return Matrix();
    Matrix r(a.rows(), a.cols());
    const int n = a.size();
    const double* av = a.data();
    const double* bv = b.data();
    double* rv = r.data();
    for (int i = 0; i < n; ++i)
        rv[i] = av[i] - bv[i];
    return r;
}

Matrix transpose(const Matrix& a)
{
    Matrix t(a.cols(), a.rows(), 0.0);
    for (int i = 0; i < a.rows(); ++i) {
        const double* ai = a[i];
        for (int j = 0; j < a.cols(); ++j)
            t[j][i] = ai[j];
    }
    return t;
}

}  // namespace tessavo
