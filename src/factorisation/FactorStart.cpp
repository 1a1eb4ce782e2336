#include "factorisation/FactorStart.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace tessavo {

namespace {

void fillRandom(double* first, double* end, RandomStream& random)
{
    for (double* x = first; x != end; ++x)
        *x = static_cast<double>(random.draw()) * kNmfRandomScale;
}

}  // namespace

StartFactors drawStart(int frames, int bins, const Matrix& fixed, int free, RandomStream& random)
{
    if (free < 0)
        throw std::invalid_argument("the number of components must not be negative (got " + std::to_string(free) +
                                    ")");
    if (fixed.rows() > 0 && fixed.cols() != bins)
        throw std::invalid_argument("fixed rows of " + std::to_string(fixed.cols()) + " values for " +
                                    std::to_string(bins) + " bins");
    const int rows = fixed.rows();
    if (free > 0 && rows > std::numeric_limits<int>::max() - free)
        throw std::length_error("too many components");
    StartFactors s{Matrix(frames, rows + free), Matrix(rows + free, bins), rows};
    // W first, then H: the order of the draws is part of the result.
    fillRandom(s.w.data(), s.w.data() + s.w.size(), random);
    std::copy(fixed.data(), fixed.data() + fixed.size(), s.h.data());
    fillRandom(s.h.data() + fixed.size(), s.h.data() + s.h.size(), random);
    return s;
}

}  // namespace tessavo
