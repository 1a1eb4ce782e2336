// The outputs' fast resynthesis against the plain steps (form the magnitude,
// split it by the stereo angle, synthesise with the phases), bit for bit.

#include "separation/Resynthesis.h"
#include "separation/Recombination.h"

#include "support/Numbers.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>

using namespace tessavo;
using namespace tessavo::test;

namespace {

constexpr int kFft = 64;
constexpr int kOverlap = 4;

}  // namespace

namespace {

// Unsupervised components; a named source of two components beside a free
// one; the same with soft masks, squared and with another power.
std::vector<OutputPlan> everyKindOfPlan(int k)
{
    std::vector<OutputPlan> plans{componentPlan(k)};
    OutputPlan grouped;
    grouped.groups = {{0, 2}, {1}};
    plans.push_back(grouped);
    grouped.mode = MaskMode::soft;
    plans.push_back(grouped);
    grouped.power = 1.5;
    plans.push_back(grouped);
    return plans;
}

}  // namespace

TEST(Resynthesis, MatchesThePlainStepsForEveryOutputPlanAndThreadCount)
{
    const int frames = 23, bins = kFft / 2, k = 3;
    const Matrix v = filledMatrix(frames, bins, 1, 2.0, 0.0);
    const Matrix w = filledMatrix(frames, k, 2, 1.5, 0.0);
    const Matrix h = filledMatrix(k, bins, 3, 1.0, 0.0);
    const Matrix theta = filledMatrix(frames, bins, 4, 1.5707963267948966, 0.0);
    const Matrix phaseL = filledMatrix(frames, bins, 5, 6.283185307179586, -3.141592653589793);
    const Matrix phaseR = filledMatrix(frames, bins, 6, 6.283185307179586, -3.141592653589793);

    Stft plain(kOverlap, 8000, kFft, kFft, 1.0f);
    for (const OutputPlan& plan : everyKindOfPlan(k)) {
        SCOPED_TRACE(::testing::Message() << plan.groups.size() << " outputs, "
                                          << (plan.mode == MaskMode::soft ? "soft" : "direct") << ", power "
                                          << plan.power);
        const bool soft = plan.mode == MaskMode::soft;
        const int count = 1 + static_cast<int>(plan.groups.size());
        std::vector<int> all;
        for (int o = 0; o < count; ++o)
            all.push_back(o);
        // The plain signals: direct magnitudes split by the angle, or each
        // channel's own soft magnitude.
        const std::vector<Matrix> monoShares = soft ? softShares(v, Matrix(), w, h, plan) : std::vector<Matrix>();
        const std::vector<Matrix> stereoShares = soft ? softShares(v, theta, w, h, plan) : std::vector<Matrix>();
        auto plainMono = [&](int o) {
            return plain.synthesise(soft ? softMagnitude(w, h, plan, o, monoShares[0]) : directMagnitude(v, w, h, plan, o),
                                    phaseL);
        };
        auto plainStereo = [&](int o, int c) {
            const Matrix& phase = c == 0 ? phaseL : phaseR;
            if (soft)
                return plain.synthesise(softMagnitude(w, h, plan, o, stereoShares[static_cast<std::size_t>(c)]), phase);
            const Matrix x = directMagnitude(v, w, h, plan, o);
            return plain.synthesise(c == 0 ? splitLeft(x, theta) : splitRight(x, theta), phase);
        };

        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(::testing::Message() << threads << " threads");
            Resynthesis fast(threads, kOverlap, 8000, kFft, kFft);

            // Soft masks turn V (and the angle) into shares in place: copies.
            Matrix monoV = v.clone(), noAngle;
            const OutputRows monoModel = soft ? OutputRows(monoV, noAngle, w, h, plan, threads)
                                              : OutputRows(v, w, h, plan);
            InputPhases mono;
            mono.channels.push_back(takeTrigTable(phaseL.clone(), threads));
            const auto& monoSignals = fast.synthesise(monoModel, all, mono);
            for (int o = 0; o < count; ++o) {
                ASSERT_EQ(monoSignals[static_cast<std::size_t>(o)].size(), 1u);
                EXPECT_TRUE(sameBits(monoSignals[static_cast<std::size_t>(o)][0], plainMono(o))) << "mono, output " << o;
            }

            // Stereo, first with the angle as it is, then with its table.
            Matrix stereoV = v.clone(), stereoAngle = theta.clone();
            const OutputRows stereoModel = soft ? OutputRows(stereoV, stereoAngle, w, h, plan, threads)
                                                : OutputRows(v, w, h, plan);
            InputPhases stereo;
            stereo.channels.push_back(takeTrigTable(phaseL.clone(), threads));
            stereo.channels.push_back(takeTrigTable(phaseR.clone(), threads));
            stereo.angle = theta.clone();
            for (bool tabulated : {false, true}) {
                if (tabulated)
                    stereo.angle = takeTrigTable(std::move(std::get<Matrix>(stereo.angle)), threads);
                const auto& signals = fast.synthesise(stereoModel, all, stereo);
                for (int o = 0; o < count; ++o) {
                    const auto& out = signals[static_cast<std::size_t>(o)];
                    ASSERT_EQ(out.size(), 2u);
                    EXPECT_TRUE(sameBits(out[0], plainStereo(o, 0))) << "left " << o;
                    EXPECT_TRUE(sameBits(out[1], plainStereo(o, 1))) << "right " << o;
                }
            }
        }
    }
}

TEST(Resynthesis, TablesHoldTheLibraryCosineAndSine)
{
    Matrix angles = filledMatrix(5, 7, 9, 20.0, -10.0);
    const Matrix original = angles.clone();
    const double* storage = angles.data();
    const TrigTable t = takeTrigTable(std::move(angles), 2);
    EXPECT_EQ(t.cos.data(), storage);  // the angles' storage now holds the cosines
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 7; ++j) {
            EXPECT_EQ(bits(t.cos[i][j]), bits(std::cos(original[i][j])));
            EXPECT_EQ(bits(t.sin[i][j]), bits(std::sin(original[i][j])));
        }
}

TEST(Resynthesis, ASpareMatrixIsReusedOnlyWhenItFits)
{
    Matrix spare(5, 7);
    const double* storage = spare.data();
    const TrigTable reused = takeTrigTable(filledMatrix(5, 7, 1), 1, std::move(spare));
    EXPECT_EQ(reused.sin.data(), storage);
    EXPECT_THROW(takeTrigTable(filledMatrix(5, 7, 1), 1, Matrix(7, 5)), std::invalid_argument);
    Matrix shared(5, 7);
    Matrix other = shared.share();
    EXPECT_THROW(takeTrigTable(filledMatrix(5, 7, 1), 1, std::move(shared)), std::invalid_argument);
}

TEST(Resynthesis, FoldingStereoInPlaceGivesTheSameMagnitudeAndAngle)
{
    Matrix left = filledMatrix(6, 9, 11, 3.0, 0.0);
    Matrix right = filledMatrix(6, 9, 12, 3.0, 0.0);
    left[2][3] = 0.0;
    right[2][3] = 0.0;  // silent in both: angle 0, all left
    const Matrix v = stereoMagnitude(left, right);
    const Matrix theta = stereoAngle(left, right);
    foldStereoInPlace(left, right, 0, 3);
    foldStereoInPlace(left, right, 3, 6);
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 9; ++j) {
            EXPECT_EQ(bits(left[i][j]), bits(v[i][j]));
            EXPECT_EQ(bits(right[i][j]), bits(theta[i][j]));
        }
    EXPECT_EQ(bits(right[2][3]), bits(0.0));
}
