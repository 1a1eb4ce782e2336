#pragma once
// Test data from one fixed generator, and one way to say that two results
// are the same to the last bit.

#include "core/Matrix.h"
#include "spectral/SampleBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessavo::test {

// A linear congruential generator: the same numbers on every platform.
class TestNumbers {
public:
    explicit TestNumbers(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_;
    }
    // Uniform in [0, 1), 24 random bits: exact in a float.
    double unit() { return (next() >> 8) * 0x1p-24; }

private:
    std::uint32_t state_;
};

// rows × cols of offset + scale × unit().
Matrix filledMatrix(int rows, int cols, std::uint32_t seed, double scale = 1.0, double offset = 0.0);

// Non-negative values spanning several orders of magnitude (cubes of
// unit() × 3), with an all-zero row 1 and column cols − 2 where the shape
// has them: spectrogram-like input for the factorisers.
Matrix magnitudes(int rows, int cols, std::uint32_t seed);

// Equal shapes and every element with the same bit pattern.
::testing::AssertionResult sameBits(const Matrix& a, const Matrix& b);
::testing::AssertionResult sameBits(const SampleBuffer& a, const SampleBuffer& b);
::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b);
::testing::AssertionResult sameBits(double a, double b);

}  // namespace tessavo::test
