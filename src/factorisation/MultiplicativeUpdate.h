#pragma once
// The whole-matrix steps every plain multiplicative update shares.

#include "core/Matrix.h"

namespace tessavo {

// Added to every update denominator, so a zero row or column of V gives
// zeros rather than 0 / 0.
constexpr double kNmfEpsilon = 1e-9;

// d = eps + d for every element (Matrix's += computes b + a).
inline void addEpsilon(Matrix& d)
{
    d += Matrix(d.rows(), d.cols(), kNmfEpsilon);
}

// old = (numerator x old) / denominator, the product rounded first.
// Order matters: multiply, then divide; never old * (numerator / denominator).
inline void applyUpdate(Matrix& old, const Matrix& numerator, const Matrix& denominator)
{
    old *= numerator;
    old /= denominator;
}

}  // namespace tessavo
