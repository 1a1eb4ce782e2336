#include "spectral/Stft.h"

#include "spectral/Window.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

using tessavo::Matrix;
using tessavo::SampleBuffer;
using tessavo::Stft;

namespace {

// A level of 0.3 .. 0.9 with a slow sine on it, so relative errors are
// meaningful at every sample.
SampleBuffer offsetSine(int length)
{
    SampleBuffer s(length);
    for (int i = 0; i < length; ++i)
        s[i] = static_cast<float>(0.6 + 0.3 * std::sin(2.0 * std::acos(-1.0) * i / 37.0));
    return s;
}

bool rowIsZero(const Matrix& m, int r)
{
    for (int k = 0; k < m.cols(); ++k)
        if (m[r][k] != 0.0)
            return false;
    return true;
}

}  // namespace

TEST(Stft, EmptyInputGivesOneZeroRow)
{
    Stft stft(4, 64, 64);
    Matrix mag, phase;
    stft.analyse(SampleBuffer(0), mag, phase);
    ASSERT_EQ(mag.rows(), 1);
    ASSERT_EQ(mag.cols(), 32);
    ASSERT_EQ(phase.rows(), 1);
    ASSERT_EQ(phase.cols(), 32);
    EXPECT_TRUE(rowIsZero(mag, 0));
    EXPECT_TRUE(rowIsZero(phase, 0));

    const SampleBuffer out = stft.synthesise(mag, phase);
    ASSERT_EQ(out.length(), 16);
    for (int i = 0; i < out.length(); ++i)
        EXPECT_EQ(out[i], 0.0f);
}

TEST(Stft, RoundTripOfThousandSamples)
{
    Stft analysis(4, 64, 64);
    Stft synthesis(4, 64, 64);
    const SampleBuffer in = offsetSine(1000);
    Matrix mag, phase;
    analysis.analyse(in, mag, phase);
    ASSERT_EQ(mag.rows(), 63);
    ASSERT_EQ(mag.cols(), 32);
    EXPECT_FALSE(rowIsZero(mag, 62));  // a frame of 8 samples starts at 992

    const SampleBuffer out = synthesis.synthesise(mag, phase);
    ASSERT_EQ(out.length(), 1008);
    // Four frames cover 48 .. 943; the last one (row 58) ends at 991.
    for (int i = 48; i <= 943; ++i)
        ASSERT_NEAR(out[i], in[i], 0.03 * in[i]) << i;
    EXPECT_NE(out[991], 0.0f);
    for (int i = 992; i < 1008; ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
}

TEST(Stft, OutputLengthIsTheRowsTimesTheHop)
{
    Matrix mag(63, 32, 0.0), phase(63, 32, 0.0);
    EXPECT_EQ(Stft(4, 64, 64).synthesise(mag, phase).length(), 63 * 16);
    EXPECT_EQ(Stft(3, 64, 64).synthesise(mag, phase).length(), 63 * 64 / 3);
}

TEST(Stft, SynthesisNeverReadsTheLastRow)
{
    // hop 64 > L 32: the sample bound would allow a frame from the last row
    // at 128, but the row bound stops first.
    Stft stft(1, 32, 64);
    const Matrix mag(3, 32, 1.0), phase(3, 32, 0.0);
    const SampleBuffer out = stft.synthesise(mag, phase);
    ASSERT_EQ(out.length(), 192);
    bool rowOneWritten = false;
    for (int i = 64; i < 96; ++i)
        rowOneWritten = rowOneWritten || out[i] != 0.0f;
    EXPECT_TRUE(rowOneWritten);
    for (int i = 96; i < 192; ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
}

TEST(Stft, ZeroInputGivesExactZeros)
{
    Stft stft(4, 64, 64);
    Matrix mag, phase;
    stft.analyse(SampleBuffer(500), mag, phase);
    ASSERT_EQ(mag.rows(), 500 / 16 + 1);
    for (int r = 0; r < mag.rows(); ++r) {
        EXPECT_TRUE(rowIsZero(mag, r)) << r;
        EXPECT_TRUE(rowIsZero(phase, r)) << r;
    }
}

// Each row against a plain double DFT of the windowed, zero-padded frame, with
// L < N, a frame of exactly L samples (row 60), partial frames (61, 62) and a
// row where no frame starts (63, since 1008 is a multiple of the hop).
TEST(Stft, RowsAreScaledSpectraOfWindowedFrames)
{
    const int n = 64, length = 48, hop = 16;
    Stft stft(4, length, n);
    const tessavo::Window window(length);
    const SampleBuffer in = offsetSine(1008);
    Matrix mag, phase;
    stft.analyse(in, mag, phase);
    ASSERT_EQ(mag.rows(), 64);
    ASSERT_EQ(mag.cols(), 32);
    EXPECT_TRUE(rowIsZero(mag, 63));
    EXPECT_TRUE(rowIsZero(phase, 63));

    const double pi = std::acos(-1.0);
    for (int r : {0, 1, 60, 61, 62}) {
        double frame[n] = {};
        for (int i = 0; i < length && r * hop + i < in.length(); ++i)
            frame[i] = in[r * hop + i] * window[i];
        double nyquist = 0.0;
        for (int i = 0; i < n; ++i)
            nyquist += (i % 2 == 0 ? frame[i] : -frame[i]);
        for (int k = 0; k < n / 2; ++k) {
            double re = 0.0, im = 0.0;
            for (int i = 0; i < n; ++i) {
                re += frame[i] * std::cos(2.0 * pi * k * i / n);
                im += frame[i] * std::sin(2.0 * pi * k * i / n);
            }
            if (k == 0)
                im = nyquist;  // the Nyquist term rides in bin 0's imaginary slot
            const double tol = 2e-7;
            EXPECT_NEAR(mag[r][k] * std::cos(phase[r][k]), re / n, tol) << r << " " << k;
            EXPECT_NEAR(mag[r][k] * std::sin(phase[r][k]), im / n, tol) << r << " " << k;
            EXPECT_NEAR(mag[r][k], std::hypot(re, im) / n, tol) << r << " " << k;
        }
    }
}

TEST(Stft, RefusesArgumentsOutOfRange)
{
    EXPECT_NO_THROW(Stft(64, 2, 64));
    EXPECT_THROW(Stft(0, 64, 64), std::invalid_argument);
    EXPECT_THROW(Stft(65, 64, 64), std::invalid_argument);
    EXPECT_THROW(Stft(4, 1, 64), std::invalid_argument);
    EXPECT_THROW(Stft(4, 65, 64), std::invalid_argument);
    EXPECT_THROW(Stft(4, 48, 48), std::invalid_argument);
    EXPECT_THROW(Stft(1, 1, 1), std::invalid_argument);
    EXPECT_THROW(Stft(4, 64, 0), std::invalid_argument);

    Stft stft(4, 64, 64);
    EXPECT_THROW(stft.synthesise(Matrix(63, 32, 0.0), Matrix(62, 32, 0.0)), std::invalid_argument);
    EXPECT_THROW(stft.synthesise(Matrix(63, 33, 0.0), Matrix(63, 33, 0.0)), std::invalid_argument);
}

TEST(Stft, RefusesOutputsBeyondTheIntRange)
{
    // 2^21 rows of a 2048-point transform at overlap 1: R * N = 2^32.
    Matrix tall(1 << 21, 1, 0.0);
    EXPECT_THROW(Stft(1, 2048, 2048).synthesise(tall, tall), std::length_error);
}

namespace {

// FNV-1a over the bytes of the bit patterns: a change in any bit changes it.
template <typename T>
std::uint64_t fnv1a(const T* values, int count)
{
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t b = tessavo::test::bits(values[i]);
        for (std::size_t byte = 0; byte < sizeof(T); ++byte) {
            hash ^= (b >> (8 * byte)) & 0xFFu;
            hash *= 0x100000001B3u;
        }
    }
    return hash;
}

std::string hex(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%a (%.17g)", v, v);
    return text;
}

}  // namespace

// Regression pin at the program's default sizes (N = L = 8192, overlap 4).
// The exact-value tests above establish that the transform is right; this
// one fails when any later change moves a single bit of the results.
TEST(Stft, PinnedBitsAtDefaultSizes)
{
    // A sawtooth of period 101 plus noise from a fixed LCG: exact arithmetic
    // only, so the input itself is the same on every platform.
    SampleBuffer in(20000);
    std::uint32_t state = 12345u;
    for (int i = 0; i < in.length(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (state >> 8) * 0x1p-24 - 0.5;
        in[i] = static_cast<float>((i % 101) / 101.0 - 0.5 + 0.25 * noise);
    }
    Stft analysis(4, 8192, 8192);
    Stft synthesis(4, 8192, 8192);
    Matrix mag, phase;
    analysis.analyse(in, mag, phase);
    ASSERT_EQ(mag.rows(), 10);
    ASSERT_EQ(mag.cols(), 4096);
    const SampleBuffer out = synthesis.synthesise(mag, phase);
    ASSERT_EQ(out.length(), 20480);

    // Samples are floats; their pins are the bits of the same value as a double.
    struct Pin {
        const char* what;
        double value;
        std::uint64_t bits;
    };
    const Pin pins[] = {
        {"mag[0][0]", mag[0][0], 0x3f40c5a0ee726e6fu},
        {"phase[0][0]", phase[0][0], 0xbffc41db6b964a3au},
        {"mag[4][198]", mag[4][198], 0x3f3b13b3d8985084u},
        {"phase[4][198]", phase[4][198], 0x4004af3a006b434fu},
        {"mag[9][4095]", mag[9][4095], 0x3f3038e37056bf89u},
        {"phase[2][17]", phase[2][17], 0xbff7c4da5be847d8u},
        {"out[6000]", out[6000], 0xbfcb35a740000000u},
        {"out[12287]", out[12287], 0x3fb0d0f800000000u},
    };
    for (const Pin& pin : pins)
        EXPECT_EQ(tessavo::test::bits(pin.value), pin.bits) << pin.what << " = " << hex(pin.value);

    EXPECT_EQ(fnv1a(mag.data(), mag.size()), 0xe6fea6a405f3d865u);
    EXPECT_EQ(fnv1a(phase.data(), phase.size()), 0xa13340b7f7b2cb8cu);
    EXPECT_EQ(fnv1a(out.data(), out.length()), 0x149f6ebdc134e5b8u);
}
