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

// What a run of terms adds to a sum in one binade, in that binade's units.
struct SumUnits {
    static constexpr std::uint64_t kLimit = std::uint64_t{1} << 53;

    std::uint64_t units = 0;
    bool plain = false;  // a tie, a term too large, or no binade: add the run plainly

    // Adds term x >= 0 (or NaN, or infinite) for binade (sumBinade of the
    // sum before the run).
    void add(double x, int binade)
    {
        const std::uint64_t b = bitsOf(x);
        const int exponent = static_cast<int>(b >> 52);  // x >= 0: no sign bit
        if (binade == 0 || exponent == 2047 || (b >> 63) != 0) {
            plain = plain || x != 0.0 || binade == 0;
            return;
        }
        std::uint64_t mantissa = b & (kLimit / 2 - 1);
        if (exponent != 0)
            mantissa |= kLimit / 2;  // the hidden bit; a subnormal x has none
        // x / u = mantissa · 2^(max(exponent, 1) - binade)
        const int shift = binade - (exponent == 0 ? 1 : exponent);
        if (shift <= 0) {
            // x >= 2^52 units: s + x leaves the binade (x = 0 aside).
            plain = plain || mantissa != 0;
            return;
        }
        if (shift > 54)
            return;  // below a quarter of a unit: rounds to 0, no tie
        const std::uint64_t q = mantissa >> shift;
        const std::uint64_t rest = mantissa & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        plain = plain || rest == half;
        units += q + (rest > half ? 1 : 0);
        plain = plain || units >= kLimit;
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
