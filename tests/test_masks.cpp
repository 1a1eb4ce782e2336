// Named sources and soft masks: a group of one is the component itself,
// and with soft masks the outputs and the residual add up to the input's
// spectrum in every cell, and to the input's sound through the program.

#include "separation/OutputPlan.h"
#include "separation/Recombination.h"

#include <vector>

#include "support/Numbers.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <string>

using namespace tessavo;
using namespace tessavo::test;

TEST(OutputPlans, AGroupOfOneIsItsComponentAndLargerGroupsAddInOrder)
{
    const Matrix w = filledMatrix(9, 4, 1);
    const Matrix h = filledMatrix(4, 11, 2);
    OutputPlan plan;
    plan.groups = {{2}, {0, 3, 1}};
    EXPECT_TRUE(sameBits(directMagnitude(Matrix(), w, h, plan, 1), componentMagnitude(w, h, 2)));
    const Matrix sum = directMagnitude(Matrix(), w, h, plan, 2);
    const Matrix c0 = componentMagnitude(w, h, 0), c3 = componentMagnitude(w, h, 3), c1 = componentMagnitude(w, h, 1);
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 11; ++j)
            EXPECT_EQ(bits(sum[i][j]), bits(((0.0 + c0[i][j]) + c3[i][j]) + c1[i][j]));
}

TEST(OutputPlans, SoftOutputsAndTheResidualAddUpToEachChannel)
{
    const Matrix v = magnitudes(13, 17, 3);
    const Matrix theta = filledMatrix(13, 17, 7, 1.5707963267948966, 0.0);
    const Matrix w = filledMatrix(13, 5, 4);
    Matrix h = filledMatrix(5, 17, 5);
    h[4][3] = 0.0;  // with w's column 4, a cell where one output is silent
    const Matrix channels[] = {v.clone(), splitLeft(v, theta), splitRight(v, theta)};
    for (double power : {1.0, 2.0, 3.5}) {
        OutputPlan plan;
        plan.groups = {{0, 1}, {2}, {3}, {4}};
        plan.mode = MaskMode::soft;
        plan.power = power;
        // Mono (the share of V), then stereo (left and right).
        std::vector<Matrix> shares = softShares(v, Matrix(), w, h, plan);
        for (Matrix& share : softShares(v, theta, w, h, plan))
            shares.push_back(std::move(share));
        for (std::size_t c = 0; c < shares.size(); ++c) {
            Matrix total(13, 17, 0.0);
            for (int o = 0; o <= 4; ++o)
                total += softMagnitude(w, h, plan, o, shares[c]);
            for (int i = 0; i < 13; ++i)
                for (int j = 0; j < 17; ++j)
                    EXPECT_NEAR(total[i][j], channels[c][i][j], 8e-16 * channels[c][i][j] + 1e-300)
                        << power << ", channel " << c << " at " << i << ", " << j;
        }
    }
    // With no output at all, everything is the residual's.
    OutputPlan none;
    none.mode = MaskMode::soft;
    const Matrix empty(13, 0);
    const Matrix noH(0, 17);
    const Matrix residual = softMagnitude(empty, noH, none, 0, softShares(v, Matrix(), empty, noH, none)[0]);
    for (int i = 0; i < 13; ++i)
        for (int j = 0; j < 17; ++j)
            EXPECT_NEAR(residual[i][j], v[i][j], 4e-16 * v[i][j]);
}

TEST(OutputPlans, SoftOutputsOfTheProgramAddUpToTheInput)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 8000, testSignal(8000, 2, 8000)));
    // The resynthesis of V itself: the residual of a run without components.
    ASSERT_EQ(runTessavo({"x.wav", "0", "-f", "256", "-i", "2", "-s"}, dir.path()).status, 0);
    const Sound whole = readSound(dir.file("x-residual.wav"));
    for (const char* loss : {"euclidean", "kl"}) {
        const RunResult r =
            runTessavo({"x.wav", "3", "-f", "256", "-i", "30", "-s", "--mask", "soft", "--loss", loss}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        std::vector<double> sum(whole.samples.size(), 0.0);
        double energy = 0.0, largestPart = 0.0;
        for (const char* part : {"residual", "0", "1", "2"}) {
            const Sound s = readSound(dir.file(std::string("x-") + part + ".wav"));
            ASSERT_EQ(s.samples.size(), whole.samples.size()) << part;
            double partEnergy = 0.0;
            for (std::size_t n = 0; n < sum.size(); ++n) {
                sum[n] += s.samples[n];
                partEnergy += static_cast<double>(s.samples[n]) * s.samples[n];
            }
            largestPart = std::max(largestPart, partEnergy);
        }
        double error = 0.0;
        for (std::size_t n = 0; n < sum.size(); ++n) {
            error = std::max(error, std::fabs(sum[n] - whole.samples[n]));
            energy += static_cast<double>(whole.samples[n]) * whole.samples[n];
        }
        // Four float outputs: a few float roundings per sample.
        EXPECT_LT(error, 1e-6) << loss;
        // And the parts really split the sound: none holds nearly all of it.
        EXPECT_LT(largestPart, 0.95 * energy) << loss;
    }
}
