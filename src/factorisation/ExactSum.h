#pragma once
// The bits of a running sum of non-negative doubles, s = s + x, from 0.0 in
// order, formed without a chain of dependent additions.
//
// While s is normal and lies in one binade [2^e, 2^(e+1)), s is a multiple
// of the binade's unit u = 2^(e-52), and so is every fl(s + x) that stays in
// the binade: fl(s + x) = s + u·k with k = x / u rounded to the nearest
// integer. k does not depend on s, except when x / u is an integer plus one
// half exactly (a tie, which round-to-even settles by the last bit of the
// running significand). So a run of terms adds to s's significand the
// integer sum of their k's, formed in any order and on any thread, provided
// no term ties and the significand stays below 2^53 (the sum stays in the
// binade). A run that ties or leaves the binade, or meets s at 0 or
// subnormal, is added the plain way; the sum never decreases, so it changes
// binade only about log2(terms) times.

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tessavo {

// The significand and biased exponent of a double.
inline std::uint64_t bitsOf(double x)
{
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// The binade a run's units are formed for: s's biased exponent when s is
// normal and finite (1 ... 2046), or 0, for which every run is added plainly.
inline int sumBinade(double s)
{
    const int e = static_cast<int>(bitsOf(s) >> 52);
    return e == 2047 ? 0 : e;
}

// The units of the terms with bit patterns b, for a sum in binade (1 ...
// 2046), added to units; flags gains 1 where a term must be added plainly:
// a tie, a term of 2^52 units or more (it leaves the binade), a term of more
// than largest units (so that the sum of a run cannot wrap), a negative
// term, infinity or not a number. U is std::uint64_t, or a vector of them
// for as many terms at once: the same integer steps, without a branch (a
// comparison is the top bit of a difference that wraps below zero, as every
// value here stays below 2^63).
template <typename U>
__attribute__((always_inline)) inline void addUnitsOf(U b, U binade, U largest, U& units, U& flags)
{
    const U one = (b ^ b) + 1u;
    const U exponent = (b >> 52) & 0x7ffu;
    const U negative = b >> 63;
    const U subnormal = (exponent - 1u) >> 63;  // exponent 0: no hidden bit
    const U mantissa = (b & 0xfffffffffffffu) | ((subnormal ^ 1u) << 52);
    const U effective = exponent + subnormal;  // the exponent x is scaled by
    // x / unit = mantissa · 2^(effective - binade): a shift right by
    // binade - effective, from 1 (2^52 units or more leave the binade) to 63
    // (below a quarter unit: nothing, and no tie).
    const U leaves = (binade - effective - 1u) >> 63;
    U shift = binade - effective;
    shift = (shift & (leaves - 1u)) | leaves;
    const U far = (63u - shift) >> 63;
    shift = (shift & (far - 1u)) | ((0u - far) & 63u);
    const U half = one << (shift - 1u);
    const U rest = mantissa & ((one << shift) - 1u);
    const U up = (half - rest) >> 63;
    const U k = (mantissa >> shift) + up;
    const U tie = ((rest ^ half) - 1u) >> 63;
    const U something = (0u - mantissa) >> 63;
    const U special = (2046u - exponent) >> 63;
    const U tooMany = (largest - k) >> 63;
    units = units + k;
    flags = flags | (leaves & something) | tie | tooMany | special | (negative & something);
}

// What a run of terms adds to a sum in one binade, in that binade's units.
struct SumUnits {
    static constexpr std::uint64_t kLimit = std::uint64_t{1} << 53;

    std::uint64_t units = 0;
    bool plain = false;  // a tie, a term too large, or no binade: add the run plainly

    // Adds term x for binade (sumBinade of the sum before the run).
    void add(double x, int binade)
    {
        if (binade == 0) {
            plain = plain || x != 0.0;
            return;
        }
        std::uint64_t flags = 0;
        addUnitsOf<std::uint64_t>(bitsOf(x), static_cast<std::uint64_t>(binade), kLimit, units, flags);
        plain = plain || flags != 0 || units >= kLimit;
    }

    // Another run's units for the same binade, after this one's.
    void add(const SumUnits& later)
    {
        units += later.units;
        plain = plain || later.plain || units >= kLimit;
    }
};

// s after a run whose units were formed for sumBinade(s), when the run can
// be added that way; false, s unchanged, when it must be added plainly.
inline bool addUnits(double& s, const SumUnits& run)
{
    const std::uint64_t b = bitsOf(s);
    const int binade = static_cast<int>(b >> 52);
    if (run.plain || binade == 0 || binade == 2047)
        return false;
    const std::uint64_t significand = (b & (SumUnits::kLimit / 2 - 1)) | SumUnits::kLimit / 2;
    if (significand + run.units >= SumUnits::kLimit)
        return false;
    const std::uint64_t sum = (b & ~(SumUnits::kLimit / 2 - 1)) | ((significand + run.units) & (SumUnits::kLimit / 2 - 1));
    std::memcpy(&s, &sum, sizeof s);
    return true;
}

}  // namespace tessavo
