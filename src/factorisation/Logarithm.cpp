#include "factorisation/Logarithm.h"

#include <limits>

namespace tessavo {

double naturalLog(double x)
{
    if (logIsNormal(x))
        return logOfNormal<double, std::uint64_t>(x);
    if (x != x || x < 0.0)
        return std::numeric_limits<double>::quiet_NaN();
    if (x == 0.0)
        return -std::numeric_limits<double>::infinity();
    if (x > logarithm::kLargestFinite)
        return x;
    // Subnormal: scaled by 2^54 into the normal range, which is exact.
    return logOfNormal<double, std::uint64_t>(x * 18014398509481984.0) - 54.0 * 6.93147180559945309417e-01;
}

}  // namespace tessavo
