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

}  // namespace tessavo
