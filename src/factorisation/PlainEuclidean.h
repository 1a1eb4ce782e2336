#pragma once
// The Euclidean loss as the plain schedule runs it:
//     W <- (V · Hᵀ) × W / (ε + (W · H) · Hᵀ)
//     H <- (Wᵀ · V) × H / (ε + (Wᵀ · W) · H)
// and the objective, the square root of the summed squared differences.

#include "factorisation/Penalty.h"
#include "factorisation/PlainLoss.h"

namespace tessavo {

class PlainEuclidean : public PlainLoss {
public:
    double objective(const Matrix& v, const Matrix& w, const Matrix& h) const override;
    double withPenalty(double objective, double penalty) const override
    {
        return penalisedDistance(objective, penalty);
    }
    UpdateTerms weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override;
    UpdateTerms spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const override;
};

}  // namespace tessavo
