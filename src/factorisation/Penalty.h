#pragma once
// A cost added to the loss, on either factor: what each update adds to
// its numerator and denominator, and what it adds to the objective. Both
// schedules call it element by element on the same values, so a penalty
// keeps the plain and the fast schedule's bits equal.
//
// beginPass() sees the pass's W and H before either update, on one thread;
// the other functions may run on any thread at once and must not change
// the penalty.

#include "core/Matrix.h"

#include <cmath>

namespace tessavo {

class Penalty {
public:
    virtual ~Penalty() = default;

    virtual void beginPass(const Matrix& w, const Matrix& h) = 0;
    // Adds to the numerator and denominator of W[i][k]'s update, from the
    // pass's W.
    virtual void weightTerms(const Matrix& w, int i, int k, double& num, double& den) const = 0;
    // Adds to the numerator and denominator of H[k][j]'s update, from the
    // pass's H.
    virtual void spectraTerms(const Matrix& h, int k, int j, double& num, double& den) const = 0;
    // The penalty's part of the objective of the pass's W and H.
    virtual double objective(const Matrix& w, const Matrix& h) const = 0;
};

// The Euclidean loss's objective is the distance √Σ(V − W·H)², while its
// updates descend ½Σ(V − W·H)²: with a penalty P the printed objective is
// √(Σ(V − W·H)² + 2P), which falls as the descended cost does, scales with
// the input's level as the distance does, and is the distance when P = 0.
inline double penalisedDistance(double distance, double penalty)
{
    return std::sqrt(distance * distance + 2.0 * penalty);
}

}  // namespace tessavo
