#include "factorisation/KlDivergence.h"

#include "factorisation/NmfFactoriser.h"

#include <stdexcept>

namespace tessavo {

namespace {

// V / (ε + W·H), cell by cell.
Matrix quotient(const Matrix& v, const Matrix& w, const Matrix& h)
{
    Matrix guarded = matmul(w, h);
    addEpsilon(guarded);
    Matrix q = v.clone();
    q /= guarded;
    return q;
}

}  // namespace

double klDivergence(const Matrix& v, const Matrix& w, const Matrix& h)
{
    const Matrix p = matmul(w, h);
    if (p.rows() != v.rows() || p.cols() != v.cols())
        throw std::invalid_argument("klDivergence: W * H does not have the shape of V");
    // Each row's terms in increasing j, then the rows' sums in increasing i:
    // the rows' sums can run side by side.
    double sum = 0.0;
    for (int i = 0; i < v.rows(); ++i) {
        double row = 0.0;
        for (int j = 0; j < v.cols(); ++j)
            row = row + klTerm(v[i][j], p[i][j]);
        sum = sum + row;
    }
    return sum;
}

PlainKl::PlainKl(const Matrix& v, StartFactors&& start)
    : v_(v),
      w_(std::move(start.w)),
      h_(std::move(start.h)),
      fixedRows_(start.fixedRows),
      measuredW_(w_.clone()),
      measuredH_(h_.clone())
{
}

double PlainKl::step()
{
    const double divergence = klDivergence(v_, w_, h_);
    measuredW_ = w_.clone();
    measuredH_ = h_.clone();
    updateW();
    updateH();
    return divergence;
}

void PlainKl::updateW()
{
    const Matrix ht = transpose(h_);
    const Matrix numerator = matmul(quotient(v_, w_, h_), ht);
    Matrix denominator = matmul(Matrix(v_.rows(), v_.cols(), 1.0), ht);
    addEpsilon(denominator);
    applyUpdate(w_, numerator, denominator);
}

void PlainKl::updateH()
{
    const Matrix wt = transpose(w_);
    const Matrix numerator = matmul(wt, quotient(v_, w_, h_));
    Matrix denominator = matmul(wt, Matrix(v_.rows(), v_.cols(), 1.0));
    addEpsilon(denominator);
    const Matrix kept = h_.clone();
    applyUpdate(h_, numerator, denominator);
    restoreFixedRows(h_, kept, fixedRows_);
}

}  // namespace tessavo
