#include "factorisation/KlDivergence.h"

#include "factorisation/MultiplicativeUpdate.h"

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

double PlainKlLoss::objective(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    return klDivergence(v, w, h);
}

UpdateTerms PlainKlLoss::weightTerms(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    const Matrix ht = transpose(h);
    return UpdateTerms{matmul(quotient(v, w, h), ht), matmul(Matrix(v.rows(), v.cols(), 1.0), ht)};
}

UpdateTerms PlainKlLoss::spectraTerms(const Matrix& v, const Matrix& w, const Matrix& h) const
{
    const Matrix wt = transpose(w);
    return UpdateTerms{matmul(wt, quotient(v, w, h)), matmul(wt, Matrix(v.rows(), v.cols(), 1.0))};
}

PlainKl::PlainKl(const Matrix& v, StartFactors&& start)
    : PlainSchedule(v, std::move(start), std::make_unique<PlainKlLoss>())
{
}

}  // namespace tessavo
