#pragma once
// The plain engine for the Euclidean loss: NmfFactoriser's whole-matrix
// updates and the objective as written, behind the Factoriser interface.

#include "factorisation/Factoriser.h"
#include "factorisation/NmfFactoriser.h"

namespace tessavo {

class PlainEuclidean : public Factoriser {
public:
    // Refers to v, which must outlive the engine; draws the start from random.
    PlainEuclidean(const Matrix& v, int components, RandomStream& random);
    PlainEuclidean(Matrix&& v, int components, RandomStream& random) = delete;
    // Refers to v and starts from the given factors.
    PlainEuclidean(const Matrix& v, StartFactors&& start);
    PlainEuclidean(Matrix&& v, StartFactors&& start) = delete;

    double step() override;
    Matrix measuredW() const override { return measuredW_.clone(); }
    Matrix measuredH() const override { return measuredH_.clone(); }

private:
    NmfFactoriser nmf_;
    Matrix measuredW_, measuredH_;
};

}  // namespace tessavo
