#include "factorisation/NmfFactoriser.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace tessavo {

namespace {

int checkedComponents(int components)
{
    if (components < 0)
        throw std::invalid_argument("the number of components must not be negative (got " +
                                    std::to_string(components) + ")");
    return components;
}

// Row by row, continuing the stream.
void fillRandom(Matrix& m, RandomStream& random)
{
    for (int i = 0; i < m.rows(); ++i)
        for (int j = 0; j < m.cols(); ++j)
            m[i][j] = static_cast<double>(random.draw()) * kNmfRandomScale;
}

// d = eps + d for every element (Matrix's += computes b + a).
void addEpsilon(Matrix& d)
{
    d += Matrix(d.rows(), d.cols(), kNmfEpsilon);
}

// old = (numerator x old) / denominator, the product rounded first.
// Order matters: multiply, then divide; never old * (numerator / denominator).
void applyUpdate(Matrix& old, const Matrix& numerator, const Matrix& denominator)
{
    old *= numerator;
    old /= denominator;
}

}  // namespace

NmfFactoriser::NmfFactoriser(const Matrix& v, int components, RandomStream& random)
    : v_(v),
      w_(v.rows(), checkedComponents(components)),
      h_(components, v.cols()),
      components_(components)
{
    // W first, then H: the order of the draws is part of the result.
    fillRandom(w_, random);
    fillRandom(h_, random);
}

void NmfFactoriser::updateW()
{
    const Matrix ht = transpose(h_);
    const Matrix numerator = matmul(v_, ht);
    // Association matters: (W·H)·Hᵀ, not the cheaper W·(H·Hᵀ); the two round
    // differently and every saved result depends on this one.
    const Matrix product = matmul(w_, h_);
    Matrix denominator = matmul(product, ht);
    addEpsilon(denominator);
    applyUpdate(w_, numerator, denominator);
}

void NmfFactoriser::updateH()
{
    const Matrix wt = transpose(w_);
    const Matrix numerator = matmul(wt, v_);
    // Association matters: (Wᵀ·W)·H, not Wᵀ·(W·H).
    const Matrix gram = matmul(wt, w_);
    Matrix denominator = matmul(gram, h_);
    addEpsilon(denominator);
    applyUpdate(h_, numerator, denominator);
}

double objective(const Matrix& v, const Matrix& w, const Matrix& h)
{
    const Matrix p = matmul(w, h);
    if (p.rows() != v.rows() || p.cols() != v.cols())
        throw std::invalid_argument("objective: W * H does not have the shape of V");
    // One running sum over all cells, row after row: summing per row first
    // would round differently.
    double sum = 0.0;
    for (int i = 0; i < v.rows(); ++i) {
        for (int j = 0; j < v.cols(); ++j) {
            const double d = v[i][j] - p[i][j];
            sum = sum + d * d;
        }
    }
    return std::sqrt(sum);
}

}  // namespace tessavo
