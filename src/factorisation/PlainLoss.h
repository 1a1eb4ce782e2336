#pragma once
// A loss as the plain schedule (PlainSchedule) runs it: each update's
// numerator and denominator as whole-matrix products, and the objective.
// The plain schedule is the reference: the fast one must give its bits.

#include "core/Matrix.h"

namespace tessavo {

// An update's terms: the new X = (num × X) / (ε + den), element by element.
struct UpdateTerms {
    Matrix num;
    Matrix den;
};

class PlainLoss {
public:
    virtual ~PlainLoss() = default;

    virtual double objective(const Matrix& v, const Matrix& w, const Matrix& h) const = 0;
    // The objective with a penalty's part added.
    virtual double withPenalty(double objective, double penalty) const { return objective + penalty; }
    // F × K, for W's update from W and H.
    virtual UpdateTerms weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const = 0;
    // K × B, for H's update from the new W and H.
    virtual UpdateTerms spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const = 0;
};

}  // namespace tessavo
