#pragma once
// Dense rows x cols matrix of doubles, stored row-major and contiguous.
//
// A Matrix is a handle to one reference-counted block of elements. Moving
// and returning by value cost O(1). Handles are never copied implicitly:
// share() makes another handle to the same elements, so a write through one
// is seen through the other, and only a handle the caller may write through
// can be shared, so that no const matrix ever gains a writable alias.
// clone() copies the elements. Operations that return a matrix build it in
// fresh storage.
//
// Shape rules: a product or difference whose operands do not fit returns the
// empty 0 x 0 matrix; the in-place operations leave their target unchanged.
// Nothing is reported in either case.
//
// Arithmetic: one IEEE double operation at a time, no fused multiply-add;
// every element of a product sums its terms from 0.0 in increasing k. The
// results are therefore reproducible to the last bit.
//
// Not thread-safe for sharing across threads while handles are created or
// released; element reads from several threads are fine.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace tessavo {

class Matrix {
public:
    // The empty 0 x 0 matrix.
    Matrix() = default;
    // rows x cols with unspecified element values: the caller writes them all.
    // Throws std::length_error for negative sizes or more than 2^31 - 1
    // elements, std::bad_alloc when memory runs out.
    Matrix(int rows, int cols);
    // rows x cols with every element equal to value.
    Matrix(int rows, int cols, double value);

    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    // Moving leaves the source empty (0 x 0), never pointing at elements it
    // no longer shares.
    Matrix(Matrix&& other) noexcept { *this = std::move(other); }
    Matrix& operator=(Matrix&& other) noexcept
    {
        if (this != &other) {
            storage_ = std::move(other.storage_);
            data_ = other.data_;
            rows_ = other.rows_;
            cols_ = other.cols_;
            other.storage_.reset();
            other.data_ = nullptr;
            other.rows_ = 0;
            other.cols_ = 0;
        }
        return *this;
    }

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    // rows * cols.
    int size() const { return rows_ * cols_; }

    // Row access: m[i][j] is element (i, j). No index is validated.
    double* operator[](int i) { return data_ + static_cast<std::ptrdiff_t>(i) * cols_; }
    const double* operator[](int i) const { return data_ + static_cast<std::ptrdiff_t>(i) * cols_; }

    // The contiguous elements, null for an empty matrix.
    double* data() { return data_; }
    const double* data() const { return data_; }

    // Another handle to these elements.
    Matrix share();
    // A matrix of its own with the same shape and elements.
    Matrix clone() const;
    // How many handles share these elements (0 for a matrix without elements).
    long shareCount() const { return storage_.use_count(); }

    // Element-wise in place; unchanged unless both dimensions agree.
    Matrix& operator+=(const Matrix& b);  // a = b + a
    Matrix& operator*=(const Matrix& b);  // a = b * a
    Matrix& operator/=(const Matrix& b);  // a = a / b (a zero divisor stores inf or NaN)

private:
    std::shared_ptr<double[]> storage_;
    double* data_ = nullptr;
    int rows_ = 0;
    int cols_ = 0;
};

// Matrix product a * b; empty when a.cols() != b.rows().
Matrix matmul(const Matrix& a, const Matrix& b);
// Element-wise a - b; empty unless both dimensions agree.
Matrix operator-(const Matrix& a, const Matrix& b);
// a.cols() x a.rows() copy with rows and columns exchanged.
Matrix transpose(const Matrix& a);

}  // namespace tessavo
