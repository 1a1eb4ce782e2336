#pragma once
// Non-negative matrix factorisation V ~ W * H for the Euclidean distance.
//
// V is F x B (frames x bins) and non-negative; W is F x K and H is K x B.
// The start is drawn as FactorStart.h says; H's first rows may be fixed,
// and updateH() leaves them as they are. updateW() and updateH() each apply one
// multiplicative update with 1e-9 added to the denominator; the caller runs
// them W first, then H, and owns the iteration loop and stopping rule.
//
// Every number is reproducible to the last bit: the products are associated
// exactly as written in the .cpp, and each element is (N * old) / (eps + D)
// with the product rounded before the division.
//
// V is only referred to, never copied or written: it must outlive the
// factoriser. W and H are updated in place; take a clone() to keep them.

#include "factorisation/FactorStart.h"
#include "core/Matrix.h"
#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/Random.h"

namespace tessavo {


class NmfFactoriser {
public:
    // Refers to v and draws the random W, then H, from random.
    // Throws std::invalid_argument for a negative component count; Matrix's
    // std::length_error or std::bad_alloc propagate when W or H is too large.
    NmfFactoriser(const Matrix& v, int components, RandomStream& random);
    // A temporary V would be gone before the first update.
    NmfFactoriser(Matrix&& v, int components, RandomStream& random) = delete;
    // Refers to v and starts from the given factors.
    NmfFactoriser(const Matrix& v, StartFactors&& start);
    NmfFactoriser(Matrix&& v, StartFactors&& start) = delete;

    // W <- (V * H^T) x W / (eps + (W * H) * H^T), element by element.
    void updateW();
    // H <- (W^T * V) x H / (eps + (W^T * W) * H), element by element, for
    // every row but the fixed ones.
    void updateH();

    const Matrix& v() const { return v_; }
    const Matrix& w() const { return w_; }
    const Matrix& h() const { return h_; }
    int components() const { return components_; }
    int fixedRows() const { return fixedRows_; }

private:
    const Matrix& v_;
    Matrix w_;
    Matrix h_;
    int components_;
    int fixedRows_;
};

// Puts back the first rows of kept into h, the rows an update must not change.
void restoreFixedRows(Matrix& h, const Matrix& kept, int rows);

// Euclidean distance between v and w * h: the square root of the sum of the
// squared differences, summed in one running total, row after row.
// Throws std::invalid_argument unless w * h has v's shape.
double objective(const Matrix& v, const Matrix& w, const Matrix& h);

}  // namespace tessavo
