#include "factorisation/PlainEuclidean.h"

#include "factorisation/NmfFactoriser.h"

namespace tessavo {

double PlainEuclidean::objective(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    return tessavo::objective(v, w, h);
}

UpdateTerms PlainEuclidean::weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    const Matrix ht = transpose(h);
    // Association matters: (W·H)·Hᵀ, not the cheaper W·(H·Hᵀ); the two round
    // differently and every saved result depends on this one.
    return UpdateTerms{matmul(v, ht), matmul(matmul(w, h), ht)};
}

UpdateTerms PlainEuclidean::spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    const Matrix wt = transpose(w);
    // Association matters: (Wᵀ·W)·H, not Wᵀ·(W·H).
    return UpdateTerms{matmul(wt, v), matmul(matmul(wt, w), h)};
}

}  // namespace tessavo
