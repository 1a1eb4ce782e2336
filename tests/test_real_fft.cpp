#include "spectral/RealFft.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

using tessavo::RealFft;

namespace {

// Uniform floats in [-1, 1) from a fixed linear congruential generator.
std::vector<float> randomFrame(int n, std::uint32_t seed)
{
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>((seed >> 8) * 0x1p-23 - 1.0);
    }
    return x;
}

int bitCount(int n)
{
    int b = 0;
    while ((1 << b) < n)
        ++b;
    return b;
}

const std::vector<int> kLengths = {1, 2, 4, 8, 16, 32, 64, 128, 1024, 8192};
const float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TEST(RealFft, Tables)
{
    RealFft fft(16);
    EXPECT_EQ(fft.size(), 16);
    EXPECT_EQ(fft.bitReversal(), (std::vector<int>{0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}));
    EXPECT_EQ(fft.cosines(), (std::vector<float>{1.0f, 0.9238795f, 0.70710677f, 0.38268343f}));
    EXPECT_EQ(tessavo::test::bits(fft.halfRoot()), 0x3F3504F3u);

    EXPECT_EQ(RealFft(2).bitReversal(), (std::vector<int>{0, 1}));
    EXPECT_TRUE(RealFft(8).cosines().empty());
    // N = 64: one segment per pass 3, 4, 5, at offsets 0, 4, 12.
    RealFft big(64);
    ASSERT_EQ(big.cosines().size(), 28u);
    const double pi = std::acos(-1.0);
    for (int p = 3; p <= 5; ++p) {
        const int m = 1 << (p - 1);
        for (int j = 0; j < m; ++j)
            EXPECT_EQ(big.cosines()[m - 4 + j], static_cast<float>(std::cos(pi / (1 << p) * j))) << p << " " << j;
    }
}

TEST(RealFft, ImpulseAndConstantAreExact)
{
    for (int n : kLengths) {
        RealFft fft(n);
        std::vector<float> x(n, 0.0f), f(n, kNaN);
        x[0] = 1.0f;
        fft.forward(f.data(), x.data());
        for (int k = 0; k < n; ++k)
            EXPECT_EQ(f[k], k <= n / 2 ? 1.0f : 0.0f) << "impulse N=" << n << " k=" << k;

        std::fill(x.begin(), x.end(), 0.75f);
        fft.forward(f.data(), x.data());
        for (int k = 0; k < n; ++k)
            EXPECT_EQ(f[k], k == 0 ? 0.75f * static_cast<float>(n) : 0.0f) << "constant N=" << n << " k=" << k;
    }
}

TEST(RealFft, SineGivesPositiveImaginarySlot)
{
    for (int n : {8, 16, 32, 64, 1024}) {
        RealFft fft(n);
        std::vector<float> x(n), f(n);
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(std::sin(2.0 * std::acos(-1.0) * i / n));
        fft.forward(f.data(), x.data());
        const double tol = 8.0 * n * FLT_EPSILON;
        for (int k = 0; k < n; ++k)
            EXPECT_NEAR(f[k], k == n / 2 + 1 ? n / 2.0 : 0.0, tol) << "N=" << n << " k=" << k;
    }
}

TEST(RealFft, RoundTripGivesNTimesInputAndLeavesInputsAlone)
{
    for (int n : {1, 2, 4, 8, 16, 32, 64, 8192}) {
        RealFft fft(n);
        const std::vector<float> x = randomFrame(n, 7u + static_cast<std::uint32_t>(n));
        std::vector<float> in = x, f(n, kNaN), back(n, kNaN);
        fft.forward(f.data(), in.data());
        const std::vector<float> spectrum = f;
        fft.inverse(f.data(), back.data());
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(tessavo::test::bits(in[i]), tessavo::test::bits(x[i])) << "forward changed x";
            EXPECT_EQ(tessavo::test::bits(f[i]), tessavo::test::bits(spectrum[i])) << "inverse changed f";
        }
        const double tol = 4.0 * (bitCount(n) + 1) * FLT_EPSILON;
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(back[i], static_cast<double>(n) * x[i], tol * n) << "N=" << n << " i=" << i;
        fft.rescale(back.data());
        for (int i = 0; i < n; ++i)
            ASSERT_NEAR(back[i], x[i], tol) << "N=" << n << " i=" << i;
    }
}

// Independent check of every pass: compare with a plain double-precision DFT
// written out in the half-complex layout.
TEST(RealFft, ForwardAgreesWithPlainDft)
{
    for (int n : kLengths) {
        RealFft fft(n);
        const double pi = std::acos(-1.0);
        std::vector<double> cosN(n), sinN(n);
        for (int j = 0; j < n; ++j) {
            cosN[j] = std::cos(2.0 * pi * j / n);
            sinN[j] = std::sin(2.0 * pi * j / n);
        }
        for (std::uint32_t seed : {1u, 2u}) {
            const std::vector<float> x = randomFrame(n, seed * 977u + static_cast<std::uint32_t>(n));
            std::vector<float> f(n, kNaN);
            fft.forward(f.data(), x.data());
            double energy = 0.0;
            for (float v : x)
                energy += static_cast<double>(v) * v;
            // Float rounding in b passes, relative to the rms of the spectrum.
            const double tol = 4.0 * (bitCount(n) + 1) * FLT_EPSILON * std::sqrt(energy);
            for (int k = 0; k <= n / 2; ++k) {
                double re = 0.0, im = 0.0;
                for (int i = 0; i < n; ++i) {
                    const int j = static_cast<int>((static_cast<std::int64_t>(k) * i) % n);
                    re += x[i] * cosN[j];
                    im += x[i] * sinN[j];
                }
                ASSERT_NEAR(f[k], re, tol) << "N=" << n << " Re k=" << k;
                if (k >= 1 && k < n / 2) {
                    ASSERT_NEAR(f[n / 2 + k], im, tol) << "N=" << n << " Im k=" << k;
                }
            }
        }
    }
}

TEST(RealFft, RefusesLengthsThatAreNotPowersOfTwo)
{
    for (int n : {0, -1, -8, 3, 6, 12, 1000, std::numeric_limits<int>::max()})
        EXPECT_THROW(RealFft{n}, std::invalid_argument) << n;
}
