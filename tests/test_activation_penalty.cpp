// The activations' continuity and sparseness costs (--continuity,
// --sparsity): their updates follow their gradients, lower the penalised
// objective, give the plain schedule's bits on the fast one, do not depend
// on the input's level, and reach the program's run.

#include "app/SoundFile.h"
#include "factorisation/ActivationPenalty.h"
#include "factorisation/EuclideanLoss.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/KlLoss.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/PlainEuclidean.h"
#include "separation/Analysis.h"
#include "separation/FactorisationLoop.h"

#include "support/Engines.h"
#include "support/Numbers.h"
#include "support/Program.h"
#include "support/TestFiles.h"
#include "support/Variants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace tessavo;
using namespace tessavo::test;

namespace {

const ActivationWeights kWeights[] = {{3.0, 0.0}, {0.0, 3.0}, {3.0, 3.0}};

// A real recording's magnitudes: 1.5 s of speech and sound, 258 × 256.
const Matrix& recording()
{
    static const Matrix v = [] {
        InputSound sound = readSoundFile(std::string(TESSAVO_TEST_DATA) + "/golden/mono.wav");
        return analyse(std::move(sound.channels), {512, 4, false}, Engine::plain, 1).v;
    }();
    return v;
}

std::unique_ptr<PlainLoss> plainLoss(Loss loss)
{
    if (loss == Loss::kl)
        return std::make_unique<PlainKlLoss>();
    return std::make_unique<PlainEuclidean>();
}

StartFactors start(const Matrix& v, const Matrix& fixed, int components)
{
    RandomStream random;
    return drawStart(v.rows(), v.cols(), fixed, components, random);
}

Matrix scaled(const Matrix& m, double by)
{
    Matrix r = m.clone();
    r *= Matrix(m.rows(), m.cols(), by);
    return r;
}

double largestDifference(const Matrix& a, const Matrix& b)
{
    double worst = 0.0;
    for (int i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(a.data()[i] - b.data()[i]));
    return worst;
}

}  // namespace

TEST(ActivationPenalty, TermsAreTheGradientsParts)
{
    // Each update's positive part less its negative part is the gradient of
    // the penalty's objective; a silent column adds nothing.
    Matrix w = filledMatrix(9, 3, 5, 1.0, 0.1);
    for (int t = 0; t < w.rows(); ++t)
        w[t][2] = 0.0;
    for (const ActivationWeights& weights : kWeights) {
        ActivationPenalty penalty(weights.continuity, weights.sparsity);
        penalty.beginPass(w, Matrix());
        for (int t = 0; t < w.rows(); ++t)
            for (int k = 0; k < w.cols(); ++k) {
                double num = 0.0, den = 0.0;
                penalty.weightTerms(w, t, k, num, den);
                Matrix up = w.clone(), down = w.clone();
                up[t][k] += 1e-6;
                down[t][k] = std::max(0.0, down[t][k] - 1e-6);
                const double slope = (penalty.objective(up, Matrix()) - penalty.objective(down, Matrix())) /
                                     (up[t][k] - down[t][k]);
                if (k == 2) {
                    EXPECT_EQ(num, 0.0);
                    EXPECT_EQ(den, 0.0);
                } else {
                    EXPECT_GT(den, 0.0);
                    EXPECT_NEAR(den - num, slope, 1e-5 * (std::fabs(slope) + den)) << t << ", " << k;
                }
            }
        EXPECT_TRUE(std::isfinite(penalty.objective(w, Matrix())));
    }
}

// The printed objective, for the Euclidean distance √(Σ(V − W·H)² + 2P): it
// falls as the cost the updates descend does (half the squares plus P).
TEST(ActivationPenalty, PenalisedCostNeverRisesOnARecording)
{
    const Matrix& v = recording();
    for (Loss loss : {Loss::euclidean, Loss::kl})
        for (const ActivationWeights& weights : kWeights)
            for (double scale : {1.0, 100.0}) {
                const ActivationWeights w{weights.continuity * scale, weights.sparsity * scale};
                const double level = penaltyLevel(loss, v);
                const ActivationPenalty alone(w.continuity * level, w.sparsity * level);
                RandomStream random;
                const auto engine = makeFactoriser(Engine::plain, loss, v, Matrix(), 4, random, 1, w);
                double before = HUGE_VAL;
                for (int pass = 0; pass < 100; ++pass) {
                    const double now = engine->step();
                    if (loss == Loss::euclidean && pass == 0) {
                        const double root = objective(v, engine->measuredW(), engine->measuredH());
                        EXPECT_EQ(now, penalisedDistance(root, alone.objective(engine->measuredW(), Matrix())));
                    }
                    ASSERT_LE(now, before) << "pass " << pass << ", " << (loss == Loss::kl ? "kl" : "euclidean")
                                           << ", weights " << w.continuity << " " << w.sparsity;
                    before = now;
                }
            }
}

class PenaltyVariant : public EachVariant {};
TESSAVO_FOR_EACH_VARIANT(PenaltyVariant);

TEST_P(PenaltyVariant, FastScheduleGivesThePlainBits)
{
    const int frames = 29, bins = 70;
    const Matrix v = magnitudes(frames, bins, 31);
    for (Loss loss : {Loss::euclidean, Loss::kl})
        for (const ActivationWeights& weights : kWeights)
            for (int fixedRows : {0, 2}) {
                const Matrix fixed = fixedRows ? filledMatrix(fixedRows, bins, 32) : Matrix();
                SCOPED_TRACE(::testing::Message() << (loss == Loss::kl ? "kl" : "euclidean") << ", weights "
                                                  << weights.continuity << " " << weights.sparsity << ", fixed rows "
                                                  << fixedRows);
                for (int threads : {1, 2, 3, 8}) {
                    const StartFactors f = start(v, fixed, 3);
                    auto penalty = makeActivationPenalty(loss, v, weights);
                    const auto fast =
                        loss == Loss::kl
                            ? makeFastKl(v, f.w, f.h, f.fixedRows, threads, klKernels(GetParam()), std::move(penalty))
                            : makeFastEuclidean(v, f.w, f.h, f.fixedRows, threads, sweepKernels(GetParam()),
                                                std::move(penalty));
                    PlainSchedule plain(v, start(v, fixed, 3), plainLoss(loss),
                                        makeActivationPenalty(loss, v, weights));
                    EXPECT_TRUE(sameSteps(*fast, plain, 6)) << threads << " threads";
                }
            }
}

TEST(ActivationPenalty, WeightsFollowTheInputsLevel)
{
    // V × 4 from W × 2 and H × 2: every term of both updates scales alike
    // (up to ε), so W·H comes out × 4 when the weight follows the level, and
    // not when the same weight is used for both.
    // At the recording's own level ε would show; at 1024 times it, hardly.
    const Matrix v = scaled(recording(), 1024.0);
    const Matrix loud = scaled(v, 4.0);
    const auto run = [](const Matrix& input, double scale, std::unique_ptr<Penalty> penalty, Loss loss) {
        StartFactors f = start(input, Matrix(), 4);
        f.w = scaled(f.w, scale);
        f.h = scaled(f.h, scale);
        PlainSchedule engine(input, std::move(f), plainLoss(loss), std::move(penalty));
        for (int pass = 0; pass < 40; ++pass)
            engine.step();
        return matmul(engine.w(), engine.h());
    };
    for (Loss loss : {Loss::euclidean, Loss::kl})
        for (const ActivationWeights& weights : kWeights) {
            SCOPED_TRACE(::testing::Message() << (loss == Loss::kl ? "kl" : "euclidean") << ", weights "
                                              << weights.continuity << " " << weights.sparsity);
            const Matrix quiet = scaled(run(v, 1.0, makeActivationPenalty(loss, v, weights), loss), 4.0);
            const double peak = *std::max_element(quiet.data(), quiet.data() + quiet.size());
            const Matrix followed = run(loud, 2.0, makeActivationPenalty(loss, loud, weights), loss);
            EXPECT_LT(largestDifference(followed, quiet), 1e-6 * peak);
            const double level = penaltyLevel(loss, v);
            const Matrix same = run(loud, 2.0,
                                    std::make_unique<ActivationPenalty>(weights.continuity * level,
                                                                        weights.sparsity * level),
                                    loss);
            EXPECT_GT(largestDifference(same, quiet), 1e-3 * peak);
        }
}

TEST(ActivationPenalty, OptionsReachTheProgramsRun)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, testSignal(9000, 1, 8000)));
    const auto outputs = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"x.wav", "3", "-f", "256", "-i", "20", "-m", "--precision", "17"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = runTessavo(args, dir.path());
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::vector<std::string> files{r.out};
        for (const char* name : {"x.wav-W.txt", "x.wav-H.txt", "x-residual.wav", "x-0.wav", "x-1.wav", "x-2.wav"})
            files.push_back(readFile(dir.file(name)));
        return files;
    };
    for (const char* loss : {"euclidean", "kl"}) {
        SCOPED_TRACE(loss);
        const auto none = outputs({"--loss", loss});
        EXPECT_EQ(outputs({"--loss", loss, "--continuity", "0", "--sparsity", "0"}), none);
        for (const char* option : {"--continuity", "--sparsity"}) {
            const auto on = outputs({"--loss", loss, option, "10"});
            EXPECT_NE(on[1], none[1]) << option << " left W as it was";
            EXPECT_NE(on[0], none[0]) << option << " left the objective as it was";
        }
    }
}
