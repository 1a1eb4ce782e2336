#include "factorisation/PlainEuclidean.h"

namespace tessavo {

PlainEuclidean::PlainEuclidean(const Matrix& v, int components, RandomStream& random)
    : nmf_(v, components, random), measuredW_(nmf_.w().clone()), measuredH_(nmf_.h().clone())
{
}

PlainEuclidean::PlainEuclidean(const Matrix& v, StartFactors&& start)
    : nmf_(v, std::move(start)), measuredW_(nmf_.w().clone()), measuredH_(nmf_.h().clone())
{
}

double PlainEuclidean::step()
{
    const double distance = objective(nmf_.v(), nmf_.w(), nmf_.h());
    measuredW_ = nmf_.w().clone();
    measuredH_ = nmf_.h().clone();
    nmf_.updateW();
    nmf_.updateH();
    return distance;
}

}  // namespace tessavo
