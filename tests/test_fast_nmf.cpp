// The fast factorisation path against the plain one, bit for bit, on awkward
// shapes and thread counts.

#include "factorisation/FastNmf.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/PassWorker.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

using namespace tessavo;
using tessavo::test::bits;

namespace {

// Non-negative values spanning several orders of magnitude, with an all-zero
// row and column where the shape allows, from a fixed generator.
Matrix magnitudes(int rows, int cols, std::uint32_t seed)
{
    Matrix v(rows, cols);
    std::uint32_t state = seed;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            state = state * 1664525u + 1013904223u;
            const double unit = static_cast<double>(state >> 8) / 16777216.0;
            v[i][j] = unit * unit * unit * 3.0;
        }
    if (rows > 2)
        for (int j = 0; j < cols; ++j)
            v[1][j] = 0.0;
    if (cols > 2)
        for (int i = 0; i < rows; ++i)
            v[i][cols - 2] = 0.0;
    return v;
}

::testing::AssertionResult sameBits(const Matrix& a, const Matrix& b)
{
    if (a.rows() != b.rows() || a.cols() != b.cols())
        return ::testing::AssertionFailure() << "shapes " << a.rows() << "x" << a.cols() << " and " << b.rows()
                                             << "x" << b.cols();
    for (int i = 0; i < a.rows(); ++i)
        for (int j = 0; j < a.cols(); ++j)
            if (bits(a[i][j]) != bits(b[i][j]))
                return ::testing::AssertionFailure() << "element (" << i << ", " << j << "): " << a[i][j]
                                                     << " vs " << b[i][j];
    return ::testing::AssertionSuccess();
}

struct Shape {
    int frames, bins, components;
};

}  // namespace

TEST(FastNmf, MatchesThePlainUpdatesBitForBit)
{
    // Frames on both sides of the eight-row blocks, bins on both sides of the
    // 256-column chunks and of the vector width, K on both sides of the
    // specialised counts.
    const Shape shapes[] = {{1, 37, 2},  {23, 1, 3},   {9, 16, 0},  {12, 33, 1}, {17, 64, 2},
                            {7, 130, 3}, {31, 45, 5},  {6, 19, 17}, {40, 257, 4}, {3, 5, 9},
                            {8, 8, 1},   {20, 600, 6}, {11, 521, 17}, {16, 264, 8}, {33, 256, 4},
                            {64, 40, 17}, {57, 24, 12}};
    for (const Shape& s : shapes) {
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(::testing::Message() << s.frames << "x" << s.bins << " K=" << s.components
                                              << " threads=" << threads);
            const Matrix v = magnitudes(s.frames, s.bins, static_cast<std::uint32_t>(s.frames * 131 + s.bins));
            NmfFactoriser plain(v, s.components);
            FastNmf fast(v, plain.w(), plain.h(), threads);
            for (int pass = 0; pass < 4; ++pass) {
                const double before = objective(v, plain.w(), plain.h());
                ASSERT_EQ(bits(fast.step()), bits(before)) << "pass " << pass;
                ASSERT_TRUE(sameBits(fast.previousW(), plain.w())) << "pass " << pass;
                ASSERT_TRUE(sameBits(fast.previousH(), plain.h())) << "pass " << pass;
                plain.updateW();
                plain.updateH();
                ASSERT_TRUE(sameBits(fast.w(), plain.w())) << "pass " << pass;
                ASSERT_TRUE(sameBits(fast.h(), plain.h())) << "pass " << pass;
            }
        }
    }
}

TEST(FastNmf, WorkedExampleObjectives)
{
    // V = [[1, 2], [3, 4]] with one component, from the start of the stream.
    Matrix v(2, 2);
    v[0][0] = 1;
    v[0][1] = 2;
    v[1][0] = 3;
    v[1][1] = 4;
    NmfFactoriser start(v, 1);
    FastNmf fast(v, start.w(), start.h(), 2);
    fast.step();
    EXPECT_EQ(bits(fast.step()), bits(0.39382261711404914));
    // The objective belongs to the factors kept as the previous ones.
    EXPECT_EQ(bits(fast.previousW()[0][0]), bits(1.3094135847964006));
    EXPECT_EQ(bits(fast.previousH()[0][1]), bits(1.4642371228568563));
    EXPECT_EQ(bits(fast.step()), bits(0.36596677254681553));
}

TEST(FastNmf, SameBitsWhenTheWorkerSleepsBetweenPasses)
{
    // Long pauses let the worker thread go to sleep between passes; it must
    // wake for each one and finish it before step() returns.
    const Matrix v = magnitudes(19, 70, 7);
    NmfFactoriser plain(v, 3);
    FastNmf fast(v, plain.w(), plain.h(), 2);
    for (int pass = 0; pass < 6; ++pass) {
        if (pass % 2 == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_EQ(bits(fast.step()), bits(objective(v, plain.w(), plain.h()))) << "pass " << pass;
        plain.updateW();
        plain.updateH();
        ASSERT_TRUE(sameBits(fast.w(), plain.w())) << "pass " << pass;
        ASSERT_TRUE(sameBits(fast.h(), plain.h())) << "pass " << pass;
    }
    // A factoriser that never steps stops its worker cleanly too.
    FastNmf unused(v, plain.w(), plain.h(), 2);
}

TEST(PassWorker, RunsTheTaskOncePerStartAndFinishesBeforeWaitReturns)
{
    int runs = 0;  // written by the worker only, read after wait()
    {
        PassWorker worker([&runs] { ++runs; });
        for (int i = 1; i <= 500; ++i) {
            worker.start();
            worker.wait();
            ASSERT_EQ(runs, i);
            if (i % 100 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    EXPECT_EQ(runs, 500);
}
