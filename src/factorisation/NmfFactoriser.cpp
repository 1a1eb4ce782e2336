#include "factorisation/NmfFactoriser.h"

#include "factorisation/MultiplicativeUpdate.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tessavo {

NmfFactoriser::NmfFactoriser(const Matrix& v, int components, RandomStream& random)
    : NmfFactoriser(v, drawStart(v.rows(), v.cols(), Matrix(), components, random))
{
}

NmfFactoriser::NmfFactoriser(const Matrix& v, StartFactors&& start)
    : v_(v),
      w_(std::move(start.w)),
      h_(std::move(start.h)),
      components_(w_.cols()),
      fixedRows_(start.fixedRows)
{
}

void restoreFixedRows(Matrix& h, const Matrix& kept, int rows)
{
    std::copy(kept.data(), kept.data() + static_cast<std::ptrdiff_t>(rows) * kept.cols(), h.data());
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
    const Matrix kept = fixedRows_ > 0 ? h_.clone() : Matrix();
    applyUpdate(h_, numerator, denominator);
    restoreFixedRows(h_, kept, fixedRows_);
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
