#pragma once
// What the factorisation loop needs of a factoriser, whatever its loss and
// however it computes: the objective of the current factors, then one
// update pair; and the factors that objective was measured on.
//
// Two schedules run every loss: the plain one (PlainSchedule: one
// whole-matrix step after another, the reference) and the fast one
// (FastSchedule); both must give the same bits, and the tests compare them.
// A loss is a policy for each (PlainLoss, FastLoss), or one policy of its
// cells' terms for both (CellLoss.h); a penalty (Penalty) joins either.

#include "core/Matrix.h"

namespace tessavo {

class Factoriser {
public:
    virtual ~Factoriser() = default;

    // Returns the objective of the current factors, then replaces them by
    // one update pair (W first, then H).
    virtual double step() = 0;

    // Copies of the factors that the objective returned by the last step()
    // belongs to (before any step: the start).
    virtual Matrix measuredW() const = 0;
    virtual Matrix measuredH() const = 0;
};

}  // namespace tessavo
