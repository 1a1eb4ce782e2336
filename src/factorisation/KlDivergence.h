#pragma once
// Non-negative matrix factorisation V ~ W * H for the generalised
// Kullback-Leibler divergence
//
//     D(V | W·H) = sum over cells of V·log(V / W·H) − V + W·H,
//
// by the multiplicative updates
//
//     W <- W x ((V / W·H) · Hᵀ) / (1 · Hᵀ)
//     H <- H x (Wᵀ · (V / W·H)) / (Wᵀ · 1)
//
// with W·H formed again from the new W for the H update. ε = 1e-9 guards
// every division, always added on the divisor's side: V / (ε + W·H) in the
// quotient and inside the logarithm, and (N x old) / (ε + column or row sum)
// in each update, the product rounded before the division. A cell with
// V = 0 contributes W·H to the divergence. The first fixedRows rows of H are
// never updated.
//
// Every sum runs from 0.0 in increasing index (the divergence: each row's
// terms in increasing column, then the rows' sums in increasing row, so the
// rows can be summed side by side), and the logarithm is the program's own
// (Logarithm.h), so the plain engine here and the fast one (KlLoss.h) give
// the same bits on every processor.

#include "factorisation/FactorStart.h"
#include "factorisation/Logarithm.h"
#include "core/Matrix.h"
#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/PlainSchedule.h"

namespace tessavo {

// One cell's term of the divergence, V·log(V / (ε + W·H)) − V + W·H
// evaluated left to right; W·H alone where V is 0.
inline double klTerm(double v, double wh)
{
    if (v == 0.0)
        return wh;
    return v * naturalLog(v / (kNmfEpsilon + wh)) - v + wh;
}

// D(V | W·H). Throws std::invalid_argument unless W·H has V's shape.
double klDivergence(const Matrix& v, const Matrix& w, const Matrix& h);

// The loss as the plain schedule runs it: each update as whole-matrix
// products, as written above.
class PlainKlLoss : public PlainLoss {
public:
    double objective(const Matrix& v, const Matrix& w, const Matrix& h) const override;
    UpdateTerms weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override;
    UpdateTerms spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override;
};

// The plain engine: the plain schedule with this loss.
class PlainKl : public PlainSchedule {
public:
    // Refers to v, which must outlive the engine, and starts from start.
    PlainKl(const Matrix& v, StartFactors&& start);
    PlainKl(Matrix&& v, StartFactors&& start) = delete;
};

}  // namespace tessavo
