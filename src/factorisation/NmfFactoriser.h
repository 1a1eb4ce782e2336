#pragma once
// Non-negative matrix factorisation V ~ W * H for the Euclidean distance.
//
// V is F x B (frames x bins) and non-negative; W is F x K and H is K x B.
// The plain schedule (PlainSchedule.h) with the Euclidean loss
// (PlainEuclidean.h). The start is drawn as FactorStart.h says; H's first
// rows may be fixed, and updateH() leaves them as they are. updateW() and
// updateH() each apply one multiplicative update with 1e-9 added to the
// denominator; step() runs them W first, then H.
//
// Every number is reproducible to the last bit: the products are associated
// exactly as written in PlainEuclidean.cpp, and each element is
// (N * old) / (eps + D) with the product rounded before the division.
//
// V is only referred to, never copied or written: it must outlive the
// factoriser. W and H are updated in place; take a clone() to keep them.

#include "factorisation/FactorStart.h"
#include "core/Matrix.h"
#include "factorisation/PlainSchedule.h"
#include "factorisation/Random.h"

namespace tessavo {


class NmfFactoriser : public PlainSchedule {
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
};

// Euclidean distance between v and w * h: the square root of the sum of the
// squared differences, summed in one running total, row after row.
// Throws std::invalid_argument unless w * h has v's shape.
double objective(const Matrix& v, const Matrix& w, const Matrix& h);

}  // namespace tessavo
