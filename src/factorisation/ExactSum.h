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
// binade). A run that ties or leaves the binade, or meets s at 0 or below
// 2^-971, is added the plain way; the sum never decreases, so it changes
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

// The scale that turns a term into units of binade: 2^(1075 - binade),
// exactly; for a binade below 52, where it would not fit, and for 0,
// +infinity, which sends every term the plain way.
inline double unitScale(int binade)
{
    if (binade < 52)
        return HUGE_VAL;
    const std::uint64_t b = static_cast<std::uint64_t>(2098 - binade) << 52;
    double scale;
    std::memcpy(&scale, &b, sizeof scale);
    return scale;
}

// The most units a term may have so that terms of them cannot wrap a 64-bit
// total: a power of two, at most 2^52 (a term of 2^52 units leaves the
// binade anyway).
inline double unitLimit(long long terms)
{
    double limit = 4503599627370496.0;
    while (limit * static_cast<double>(terms) >= 9223372036854775808.0)
        limit /= 2.0;
    return limit;
}

// units gains x in units of the binade of scale (unitScale): x · scale,
// exact as the scale is a power of two, rounded to the nearest integer by
// adding 2^52. flagged is set when x must be added plainly: when it lies an
// integer and one half from its units (a tie), has limit units or more, is
// negative, infinite or not a number.
inline void addTermUnits(double x, double scale, double limit, std::uint64_t& units, bool& flagged)
{
    const double y = x * scale;
    const double z = y + 4503599627370496.0;
    units += bitsOf(z) - 0x4330000000000000u;
    const double e = y - (z - 4503599627370496.0);  // exact: y less its nearest integer
    flagged = flagged || e == 0.5 || e == -0.5 || !(y >= 0.0 && y < limit);
}

// What a run of terms adds to a sum in one binade, in that binade's units.
struct SumUnits {
    static constexpr std::uint64_t kLimit = std::uint64_t{1} << 53;

    std::uint64_t units = 0;
    bool plain = false;  // a tie, a term too large, or no binade: add the run plainly

    // Adds term x for binade (sumBinade of the sum before the run).
    void add(double x, int binade)
    {
        addTermUnits(x, unitScale(binade), 4503599627370496.0, units, plain);
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
