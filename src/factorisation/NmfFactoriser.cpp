#include "factorisation/NmfFactoriser.h"

#include "factorisation/PlainEuclidean.h"

#include <cmath>
#include <stdexcept>

namespace tessavo {

NmfFactoriser::NmfFactoriser(const Matrix& v, int components, RandomStream& random)
    : NmfFactoriser(v, drawStart(v.rows(), v.cols(), Matrix(), components, random))
{
}

NmfFactoriser::NmfFactoriser(const Matrix& v, StartFactors&& start)
    : PlainSchedule(v, std::move(start), std::make_unique<PlainEuclidean>())
{
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
