#pragma once
// The natural logarithm the Kullback-Leibler divergence takes of every cell.
//
// The C library's log gives no promise of the same bits on every machine or
// library version, and it cannot be vectorised. This one is a fixed sequence
// of IEEE additions, multiplications and divisions (the classic reduction to
// m × 2^k with m in [√½, √2), s = f / (2 + f) for f = m − 1, and a degree-14
// odd polynomial in s), so that a scalar and a vector lane give the same
// bits. It is within 1 ulp of glibc's log (the tests check it, and that the
// two agree exactly for the great majority of inputs).
//
// logOfNormal is the core for positive normal numbers, written once for a
// scalar and for a vector of doubles (with the unsigned integer type of the
// same width); naturalLog adds the other inputs: 0 gives −inf, a negative
// number or NaN gives NaN, +inf gives +inf, and a subnormal x gives
// log(x · 2^54) − 54 · ln 2.

#include <cstdint>
#include <cstring>

namespace tessavo {

namespace logarithm {

constexpr double kLn2Hi = 6.93147180369123816490e-01;  // ln 2 in 32 bits
constexpr double kLn2Lo = 1.90821492927058770002e-10;  // the rest of ln 2
constexpr double kLg1 = 6.666666666666735130e-01;
constexpr double kLg2 = 3.999999999940941908e-01;
constexpr double kLg3 = 2.857142874366239149e-01;
constexpr double kLg4 = 2.222219843214978396e-01;
constexpr double kLg5 = 1.818357216161805012e-01;
constexpr double kLg6 = 1.531383769920937332e-01;
constexpr double kLg7 = 1.479819860511658591e-01;
constexpr double kSmallestNormal = 2.2250738585072014e-308;
constexpr double kLargestFinite = 1.7976931348623157e308;

template <typename To, typename From>
__attribute__((always_inline)) inline To bitCast(From x)
{
    static_assert(sizeof(To) == sizeof(From), "same width");
    To y;
    std::memcpy(&y, &x, sizeof y);
    return y;
}

}  // namespace logarithm

// log(x) for a positive normal x. T is double and U std::uint64_t, or a
// vector of doubles and a vector of as many 64-bit unsigned integers.
template <typename T, typename U>
__attribute__((always_inline)) inline T logOfNormal(T x)
{
    using namespace logarithm;
    const U bits = bitCast<U>(x);
    const U high = (bits >> 32) & 0xfffffu;  // the top 20 bits of the mantissa
    // 0x100000 when the mantissa is √2 or more: m is then halved and k grows.
    const U over = (high + 0x95f64u) & 0x100000u;
    const T m = bitCast<T>((bits & 0x000fffffffffffffu) | ((over ^ 0x3ff00000u) << 32));
    // k as a double: 2^52 + the biased exponent, then less 2^52 + 1023.
    const T k = bitCast<T>(((bits >> 52) + (over >> 20)) | 0x4330000000000000u) - 4503599627371519.0;
    const T f = m - 1.0;
    const T s = f / (2.0 + f);
    const T z = s * s;
    const T w = z * z;
    const T t1 = w * (kLg2 + w * (kLg4 + w * kLg6));
    const T t2 = z * (kLg1 + w * (kLg3 + w * (kLg5 + w * kLg7)));
    const T r = t2 + t1;
    const T halfSquare = 0.5 * f * f;
    // Two roundings of the same sum; the first is the more accurate where m
    // lies near √2, on either side.
    const T nearRoot = k * kLn2Hi - ((halfSquare - (s * (halfSquare + r) + k * kLn2Lo)) - f);
    const T elsewhere = k * kLn2Hi - ((s * (f - r) - k * kLn2Lo) - f);
    // The first where 0x6147a <= high <= 0x6b851, chosen by integer
    // arithmetic alone (the top bit of a difference that wraps below zero),
    // so that scalars and vectors take the same steps without branches.
    const U from = (0x61479u - high) >> 63;
    const U upTo = (high - 0x6b852u) >> 63;
    const U mask = U{} - (from & upTo);
    return bitCast<T>((bitCast<U>(nearRoot) & mask) | (bitCast<U>(elsewhere) & ~mask));
}

// Whether logOfNormal takes x as it is.
inline bool logIsNormal(double x)
{
    return x >= logarithm::kSmallestNormal && x <= logarithm::kLargestFinite;
}

// The natural logarithm of any double.
double naturalLog(double x);

}  // namespace tessavo
