// The fast factorisation engine against the plain one, bit for bit, on
// awkward shapes and thread counts, for every vector variant built.

#include "factorisation/EuclideanLoss.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/ThreadTeam.h"

#include "support/Engines.h"
#include "support/Numbers.h"
#include "support/Variants.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <thread>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

struct Shape {
    int frames, bins, components;
};

class SweepVariant : public EachVariant {
protected:
    const SweepKernels& kernels() const { return sweepKernels(GetParam()); }
};

}  // namespace

TESSAVO_FOR_EACH_VARIANT(SweepVariant);

// The fast engine against the plain one, through the interface the loop
// uses: the same objective and the same measured factors at every step.
TEST_P(SweepVariant, FastEngineGivesThePlainBits)
{
    // Frames on both sides of the eight-row blocks, bins on both sides of the
    // 256-column chunks and of the vector width, K on both sides of the
    // specialised counts; the last two make the calling thread take over
    // blocks.
    const Shape shapes[] = {{1, 37, 2},  {23, 1, 3},   {9, 16, 0},  {12, 33, 1}, {17, 64, 2},
                            {7, 130, 3}, {31, 45, 5},  {6, 19, 17}, {40, 257, 4}, {3, 5, 9},
                            {8, 8, 1},   {20, 600, 6}, {11, 521, 17}, {16, 264, 8}, {33, 256, 4},
                            {64, 40, 17}, {57, 24, 12}};
    for (const Shape& s : shapes) {
        for (int threads : {1, 2, 3, 4, 8}) {
            SCOPED_TRACE(::testing::Message() << s.frames << "x" << s.bins << " K=" << s.components
                                              << " threads=" << threads);
            const Matrix v = magnitudes(s.frames, s.bins, static_cast<std::uint32_t>(s.frames * 131 + s.bins));
            RandomStream plainStream, fastStream;
            NmfFactoriser plain(v, s.components, plainStream);
            const NmfFactoriser start(v, s.components, fastStream);
            const auto fast = makeFastEuclidean(v, start.w(), start.h(), 0, threads, kernels());
            EXPECT_TRUE(sameSteps(*fast, plain, 5));
        }
    }
}

// Fully supervised: every row of H fixed, so V·Hᵀ is formed in the first
// pass only and the H half is left out; the bits stay the plain ones.
TEST_P(SweepVariant, AllRowsOfHFixedGiveThePlainBits)
{
    const Shape shapes[] = {{21, 70, 3}, {9, 300, 6}, {17, 33, 1}};
    for (const Shape& s : shapes)
        for (int threads : {1, 2, 3, 4, 8}) {
            SCOPED_TRACE(::testing::Message() << s.frames << "x" << s.bins << " K=" << s.components
                                              << " threads=" << threads);
            const Matrix v = magnitudes(s.frames, s.bins, 5);
            RandomStream random;
            StartFactors start = drawStart(s.frames, s.bins, filledMatrix(s.components, s.bins, 6), 0, random);
            const auto fast = makeFastEuclidean(v, start.w, start.h, s.components, threads, kernels());
            NmfFactoriser plain(v, std::move(start));
            EXPECT_TRUE(sameSteps(*fast, plain, 5));
        }
}

TEST_P(SweepVariant, SameBitsWhenTheThreadsSleepBetweenPasses)
{
    // Long pauses let the team's threads go to sleep between passes; they
    // must wake for each one and finish it before step() returns.
    const Matrix v = magnitudes(19, 70, 7);
    RandomStream plainStream, fastStream;
    NmfFactoriser plain(v, 3, plainStream);
    const NmfFactoriser start(v, 3, fastStream);
    const auto fast = makeFastEuclidean(v, start.w(), start.h(), 0, 3, kernels());
    for (int pass = 0; pass < 6; ++pass) {
        if (pass % 2 == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ASSERT_TRUE(sameBits(fast->step(), plain.step())) << "pass " << pass;
        ASSERT_TRUE(sameBits(fast->measuredW(), plain.measuredW())) << "pass " << pass;
    }
    // An engine that never steps stops its threads cleanly too.
    const auto unused = makeFastEuclidean(v, start.w(), start.h(), 0, 3, kernels());
}

// Silence, small integers and huge values: the running sum starts at 0 and
// meets ties and changes of binade, which its walk adds the plain way.
TEST_P(SweepVariant, ObjectiveOfAwkwardSpectraKeepsThePlainBits)
{
    Matrix v = magnitudes(48, 40, 9);
    for (int i = 0; i < 48; ++i)
        for (int j = 0; j < 40; ++j)
            v[i][j] = i < 5 ? 0.0 : i < 30 ? std::floor(v[i][j] * 4.0) : v[i][j] * 1e150;
    RandomStream plainStream, fastStream;
    NmfFactoriser plain(v, 2, plainStream);
    const NmfFactoriser start(v, 2, fastStream);
    const auto fast = makeFastEuclidean(v, start.w(), start.h(), 0, 2, kernels());
    EXPECT_TRUE(sameSteps(*fast, plain, 8));
}

TEST(FastEuclidean, WorkedExampleObjectives)
{
    // V = [[1, 2], [3, 4]] with one component, from the start of the stream.
    Matrix v(2, 2);
    v[0][0] = 1;
    v[0][1] = 2;
    v[1][0] = 3;
    v[1][1] = 4;
    RandomStream random;
    const NmfFactoriser start(v, 1, random);
    const auto fast = makeFastEuclidean(v, start.w(), start.h(), 0, 2);
    fast->step();
    EXPECT_EQ(bits(fast->step()), bits(0.39382261711404914));
    // The objective belongs to the factors it was measured on.
    EXPECT_EQ(bits(fast->measuredW()[0][0]), bits(1.3094135847964006));
    EXPECT_EQ(bits(fast->measuredH()[0][1]), bits(1.4642371228568563));
    EXPECT_EQ(bits(fast->step()), bits(0.36596677254681553));
}

TEST(ThreadTeam, EveryThreadRunsEachPhaseOnceBeforeRunReturns)
{
    for (int size : {1, 3, 8}) {
        ThreadTeam team(size);
        ASSERT_EQ(team.size(), size);
        std::vector<int> runs(static_cast<std::size_t>(size), 0);  // each written by its own thread
        for (int phase = 1; phase <= 300; ++phase) {
            team.run([&](int t) { ++runs[static_cast<std::size_t>(t)]; });
            ASSERT_EQ(runs, std::vector<int>(static_cast<std::size_t>(size), phase));
            if (phase % 100 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}
