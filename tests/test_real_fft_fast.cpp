// The fast transforms (several butterflies per vector) against the plain
// scalar ones: every output float must have the same bit pattern, for every
// power-of-two length up to 65536 and for inputs that probe rounding,
// overflow, subnormals and signed zeros.

#include "spectral/RealFft.h"

#include "support/Numbers.h"
#include "support/TestFiles.h"
#include "support/Variants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

using tessavo::RealFft;
using tessavo::test::bits;
using tessavo::test::sameBits;

namespace {

using Lcg = tessavo::test::TestNumbers;

using Frame = std::vector<float>;

// Random signs, mantissas and exponents over 2^-40 .. 2^40, with a few exact
// zeros, so that sums cancel and round in every way.
Frame mixedMagnitudes(int n, std::uint32_t seed)
{
    Lcg g(seed);
    Frame x(static_cast<std::size_t>(n));
    for (float& v : x) {
        const std::uint32_t r = g.next();
        if (r % 61 == 0) {
            v = (r & 64) ? -0.0f : 0.0f;
            continue;
        }
        const int exponent = static_cast<int>(g.next() % 81) - 40;
        const double m = 1.0 + g.unit();
        v = static_cast<float>(std::ldexp((r & 1) ? -m : m, exponent));
    }
    return x;
}

// Values around 1e30 and 1e-30, the smallest normals and subnormals, mixed.
Frame nearLimits(int n, std::uint32_t seed)
{
    Lcg g(seed);
    Frame x(static_cast<std::size_t>(n));
    for (float& v : x) {
        const double u = 0.5 + g.unit();
        const std::uint32_t r = g.next();
        double m = 0.0;
        switch (r % 5) {
        case 0: m = 1e30 * u; break;
        case 1: m = 1e-30 * u; break;
        case 2: m = FLT_MIN * u; break;
        case 3: m = static_cast<double>(std::numeric_limits<float>::denorm_min()) * (1 + g.next() % 4096); break;
        default: m = u; break;
        }
        v = static_cast<float>((r & 8) ? -m : m);
    }
    return x;
}

// Close to FLT_MAX: the sums overflow to infinities, and infinities of both
// signs meet in later sums and give NaNs.
Frame overflowing(int n, std::uint32_t seed)
{
    Lcg g(seed);
    Frame x(static_cast<std::size_t>(n));
    for (float& v : x) {
        const double m = FLT_MAX * (0.25 + 0.75 * g.unit());
        v = static_cast<float>((g.next() & 16) ? -m : m);
    }
    return x;
}

// Subnormals only, so every butterfly rounds into the subnormal range.
Frame subnormals(int n, std::uint32_t seed)
{
    Lcg g(seed);
    Frame x(static_cast<std::size_t>(n));
    const double tiny = std::numeric_limits<float>::denorm_min();
    for (float& v : x) {
        const double m = tiny * (1 + g.next() % 0x7FFFFF);
        v = static_cast<float>((g.next() & 4) ? -m : m);
    }
    return x;
}

Frame constant(int n, float value) { return Frame(static_cast<std::size_t>(n), value); }

// Zeros of random sign: the sign of a zero sum depends on the order of the
// operands.
Frame signedZeros(int n, std::uint32_t seed)
{
    Lcg g(seed);
    Frame x(static_cast<std::size_t>(n));
    for (float& v : x)
        v = (g.next() & 32) ? -0.0f : 0.0f;
    return x;
}

struct Input {
    std::string name;
    Frame values;
};

std::vector<Input> signals(int n)
{
    const std::uint32_t s = static_cast<std::uint32_t>(n) * 2654435761u;
    return {
        {"mixed magnitudes 1", mixedMagnitudes(n, s + 1)},
        {"mixed magnitudes 2", mixedMagnitudes(n, s + 2)},
        {"near limits", nearLimits(n, s + 3)},
        {"overflowing", overflowing(n, s + 4)},
        {"subnormals", subnormals(n, s + 5)},
        {"zeros", constant(n, 0.0f)},
        {"negative zeros", constant(n, -0.0f)},
        {"signed zeros", signedZeros(n, s + 6)},
    };
}

std::vector<int> allLengths()
{
    std::vector<int> lengths;
    for (int n = 1; n <= 65536; n *= 2)
        lengths.push_back(n);
    return lengths;
}

// An output array with guard values on both sides, one float off the
// allocation's alignment, to catch writes outside the N values.
class Guarded {
public:
    explicit Guarded(int n) : n_(n), storage_(static_cast<std::size_t>(n + 2 * kGuard + 1), kSentinel) {}
    float* data() { return storage_.data() + kGuard + 1; }
    Frame values() const { return Frame(storage_.begin() + kGuard + 1, storage_.begin() + kGuard + 1 + n_); }
    bool guardsIntact() const
    {
        for (int i = 0; i < kGuard + 1; ++i)
            if (bits(storage_[static_cast<std::size_t>(i)]) != bits(kSentinel))
                return false;
        for (std::size_t i = static_cast<std::size_t>(kGuard + 1 + n_); i < storage_.size(); ++i)
            if (bits(storage_[i]) != bits(kSentinel))
                return false;
        return true;
    }

private:
    static constexpr int kGuard = 16;
    static constexpr float kSentinel = 12345.678f;
    int n_;
    Frame storage_;
};

// Index of the first value whose bits differ, or -1.
}  // namespace

class FftVariant : public tessavo::test::EachVariant {};
TESSAVO_FOR_EACH_VARIANT(FftVariant);

TEST_P(FftVariant, ForwardMatchesPlainBitForBit)
{
    for (int n : allLengths()) {
        RealFft fft(n, GetParam());
        for (const Input& in : signals(n)) {
            Frame plain(static_cast<std::size_t>(n));
            fft.forwardPlain(plain.data(), in.values.data());
            Guarded fast(n);
            fft.forward(fast.data(), in.values.data());
            EXPECT_TRUE(sameBits(fast.values(), plain)) << "N=" << n << " " << in.name;
            EXPECT_TRUE(fast.guardsIntact()) << "N=" << n << " " << in.name << ": wrote outside f";
        }
    }
}

TEST_P(FftVariant, InverseMatchesPlainBitForBit)
{
    for (int n : allLengths()) {
        RealFft fft(n, GetParam());
        std::vector<Input> spectra = signals(n);
        // Spectra of signals, as the resynthesis sees them.
        for (std::uint32_t seed : {11u, 12u}) {
            Frame f(static_cast<std::size_t>(n));
            const Frame x = mixedMagnitudes(n, seed * 7919u + static_cast<std::uint32_t>(n));
            fft.forwardPlain(f.data(), x.data());
            spectra.push_back({"spectrum of a signal " + std::to_string(seed), f});
        }
        for (const Input& in : spectra) {
            Frame plain(static_cast<std::size_t>(n));
            fft.inversePlain(in.values.data(), plain.data());
            Guarded fast(n);
            fft.inverse(in.values.data(), fast.data());
            EXPECT_TRUE(sameBits(fast.values(), plain)) << "N=" << n << " " << in.name;
            EXPECT_TRUE(fast.guardsIntact()) << "N=" << n << " " << in.name << ": wrote outside x";
        }
    }
}

TEST_P(FftVariant, RescaleMatchesPlainBitForBit)
{
    for (int n : allLengths()) {
        RealFft fft(n, GetParam());
        for (const Input& in : signals(n)) {
            Frame plain = in.values;
            fft.rescalePlain(plain.data());
            Guarded fast(n);
            std::copy(in.values.begin(), in.values.end(), fast.data());
            fft.rescale(fast.data());
            EXPECT_TRUE(sameBits(fast.values(), plain)) << "N=" << n << " " << in.name;
            EXPECT_TRUE(fast.guardsIntact()) << "N=" << n << " " << in.name << ": wrote outside x";
        }
    }
}

// The transforms share a scratch array; what an earlier call left in it must
// not matter, and the input arrays must come back untouched.
TEST_P(FftVariant, LeavesInputsAloneAndRepeats)
{
    for (int n : allLengths()) {
        RealFft fft(n, GetParam());
        const Frame x = mixedMagnitudes(n, 99u + static_cast<std::uint32_t>(n));
        const Frame other = nearLimits(n, 5u);
        Frame in = x, f(static_cast<std::size_t>(n)), again(static_cast<std::size_t>(n));
        fft.forward(f.data(), in.data());
        EXPECT_TRUE(sameBits(in, x)) << "N=" << n << ": forward changed x";
        Frame back(static_cast<std::size_t>(n));
        fft.inverse(other.data(), back.data());
        fft.forward(again.data(), in.data());
        EXPECT_TRUE(sameBits(again, f)) << "N=" << n << ": forward depends on an earlier call";

        const Frame spectrum = f;
        Frame y(static_cast<std::size_t>(n)), y2(static_cast<std::size_t>(n));
        fft.inverse(f.data(), y.data());
        EXPECT_TRUE(sameBits(f, spectrum)) << "N=" << n << ": inverse changed f";
        fft.forward(back.data(), other.data());
        fft.inverse(f.data(), y2.data());
        EXPECT_TRUE(sameBits(y2, y)) << "N=" << n << ": inverse depends on an earlier call";
    }
}

// The comparison itself must notice a single flipped bit, or the tests above
// would prove nothing.
TEST(RealFftFast, ComparisonSeesOneBit)
{
    const Frame a = mixedMagnitudes(64, 3u);
    Frame b = a;
    EXPECT_TRUE(sameBits(a, b));
    b[37] = std::nextafter(b[37], std::numeric_limits<float>::infinity());
    EXPECT_FALSE(sameBits(a, b));
    b = a;
    b[0] = -b[0];
    EXPECT_FALSE(sameBits(a, b));
    EXPECT_FALSE(sameBits(constant(4, 0.0f), constant(4, -0.0f)));
}
