#pragma once
// Non-negative matrix factorisation V ~ W * H for the Euclidean distance.
//
// V is F x B (frames x bins) and non-negative; W is F x K and H is K x B.
// The constructor fills W, then H, row by row with draw * c from the run's
// random stream (Random.h). updateW() and updateH() each apply one
// multiplicative update with 1e-9 added to the denominator; the caller runs
// them W first, then H, and owns the iteration loop and stopping rule.
//
// Every number is reproducible to the last bit: the products are associated
// exactly as written in the .cpp, and each element is (N * old) / (eps + D)
// with the product rounded before the division.
//
// V is only referred to, never copied or written: it must outlive the
// factoriser. W and H are updated in place; take a clone() to keep them.

#include "factorisation/Matrix.h"
#include "factorisation/Random.h"

namespace tessavo {

// Scale of the random start: the double nearest 1/16383 (bit pattern
// 0x3F10004001000400). Applied as a product; draw / 16383 differs in the
// last bit for some draws.
constexpr double kNmfRandomScale = 6.103888176768602e-05;
// Added to every update denominator, so a zero row or column of V gives
// zeros rather than 0 / 0.
constexpr double kNmfEpsilon = 1e-9;

class NmfFactoriser {
public:
    // Refers to v and draws the random W, then H, from random.
    // Throws std::invalid_argument for a negative component count; Matrix's
    // std::length_error or std::bad_alloc propagate when W or H is too large.
    NmfFactoriser(const Matrix& v, int components, RandomStream& random);
    // A temporary V would be gone before the first update.
    NmfFactoriser(Matrix&& v, int components, RandomStream& random) = delete;

    // W <- (V * H^T) x W / (eps + (W * H) * H^T), element by element.
    void updateW();
    // H <- (W^T * V) x H / (eps + (W^T * W) * H), element by element.
    void updateH();

    const Matrix& v() const { return v_; }
    const Matrix& w() const { return w_; }
    const Matrix& h() const { return h_; }
    int components() const { return components_; }

private:
    const Matrix& v_;
    Matrix w_;
    Matrix h_;
    int components_;
};

// Euclidean distance between v and w * h: the square root of the sum of the
// squared differences, summed in one running total, row after row.
// Throws std::invalid_argument unless w * h has v's shape.
double objective(const Matrix& v, const Matrix& w, const Matrix& h);

}  // namespace tessavo
