#pragma once
// The Itakura-Saito divergence
//
//     D(V | Λ) = Σ v / λ − log(v / λ) − 1,   Λ = W·H,
//
// as a loss given cell by cell (CellLoss.h), with the multiplicative
// updates of the β-divergence for β = 0:
//
//     W <- W × ((V / Λ²) · Hᵀ) / (ε + (1 / Λ) · Hᵀ),   H likewise with Wᵀ.
//
// λ is taken as ε + W·H inside every cell, as the KL loss does, so that a
// zero product divides nothing by zero.
//
// Zero cells: a cell with v = 0 has an infinite divergence (−log 0), which
// would leave the objective and the stopping rule meaningless on the digital
// silence real recordings hold. Every cell therefore reads v as max(v, δ),
// in the updates and in the objective alike, with δ = 1e-6 × the mean of V
// (1e-6 where that is not positive, as for an all-zero V). δ follows V's
// level, so V × c still gives W·H × c (up to ε), as the divergence's scale
// invariance asks; at 120 dB below the mean it stays far above ε for any
// usual level, so silence is fitted at δ and adds next to nothing to the
// objective. The engines carry δ rather than a floored copy of V.

#include "core/Matrix.h"
#include "factorisation/FactorStart.h"
#include "factorisation/Factoriser.h"
#include "factorisation/IsKernels.h"
#include "factorisation/Logarithm.h"
#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/Penalty.h"

#include <algorithm>
#include <memory>

namespace tessavo {

// The fraction of V's mean that zero cells are read as.
constexpr double kIsFloorFraction = 1e-6;

struct IsCells {
    double floor = kIsFloorFraction;  // δ

    double num(double v, double wh) const
    {
        const double lambda = kNmfEpsilon + wh;
        return std::max(v, floor) / (lambda * lambda);
    }
    double den(double, double wh) const { return 1.0 / (kNmfEpsilon + wh); }
    // q − log q − 1 for q = max(v, δ) / (ε + W·H), left to right.
    double term(double v, double wh) const
    {
        const double q = std::max(v, floor) / (kNmfEpsilon + wh);
        return q - naturalLog(q) - 1.0;
    }
};

// δ for v: kIsFloorFraction × (V's cells summed row by row in increasing
// index, divided by their count), or kIsFloorFraction where that is not
// positive.
double isFloor(const Matrix& v);

// The plain and the fast engine (IsKernels' vector terms), each referring to
// v, which must outlive it; and the fast schedule on FastCells' scalar
// terms, which give the same bits, as a reference and for the bench.
std::unique_ptr<Factoriser> makePlainIs(const Matrix& v, StartFactors&& start,
                                        std::unique_ptr<Penalty> penalty = nullptr);
std::unique_ptr<Factoriser> makeFastIs(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                                       const IsKernels& kernels = bestIsKernels(),
                                       std::unique_ptr<Penalty> penalty = nullptr);
std::unique_ptr<Factoriser> makeCellsIs(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                        int threads, std::unique_ptr<Penalty> penalty = nullptr);

// Bytes the fast engine's loss holds for frames × bins and components.
double isMemoryBytes(double frames, double bins, double components);

}  // namespace tessavo
