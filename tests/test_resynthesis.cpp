// The outputs' fast resynthesis against the plain steps (form the magnitude,
// split it by the stereo angle, synthesise with the phases), bit for bit.

#include "separation/Resynthesis.h"
#include "separation/Recombination.h"
#include "spectral/OverlapAdd.h"

#include "support/Numbers.h"
#include "support/TestFiles.h"
#include "support/Variants.h"

#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

// Gathers a stream's samples, and how they arrived.
class Gathered : public SignalStream {
public:
    explicit Gathered(int channels) : signals(static_cast<std::size_t>(channels)) {}
    void write(const float* const* channels, int frames) override
    {
        EXPECT_FALSE(finished) << "written after finish";
        for (std::size_t c = 0; c < signals.size(); ++c)
            signals[c].insert(signals[c].end(), channels[c], channels[c] + frames);
        ++writes;
    }
    void finish() override { finished = true; }

    std::vector<std::vector<float>> signals;
    int writes = 0;
    bool finished = false;
};

bool sameSamples(const std::vector<float>& streamed, const SampleBuffer& whole)
{
    if (streamed.size() != static_cast<std::size_t>(whole.length()))
        return false;
    for (int i = 0; i < whole.length(); ++i)
        if (bits(streamed[static_cast<std::size_t>(i)]) != bits(whole[i]))
            return false;
    return true;
}

// Every output of model through the fast resynthesis, atOnce at a time.
std::vector<Gathered> streamAll(Resynthesis& fast, const OutputRows& model, const InputPhases& phases, int samples,
                                int atOnce)
{
    const int channels = static_cast<int>(phases.channels.size());
    std::vector<Gathered> out(static_cast<std::size_t>(model.count()), Gathered(channels));
    for (int first = 0; first < model.count(); first += atOnce) {
        std::vector<int> outputs;
        std::vector<SignalStream*> streams;
        for (int o = first; o < std::min(model.count(), first + atOnce); ++o) {
            outputs.push_back(o);
            streams.push_back(&out[static_cast<std::size_t>(o)]);
        }
        fast.synthesise(model, outputs, phases, samples, streams);
    }
    return out;
}

class ResynthesisVariant : public EachVariant {};
TESSAVO_FOR_EACH_VARIANT(ResynthesisVariant);

}  // namespace

// Frames enough for several blocks and a part block; outputs one, two and
// all at once; one to three threads; the classic and the padded transform
// (45 rows of 660 samples, each rebuilt in full), with the fast path's FFT
// in each vector variant and the plain path's in the baseline.
TEST_P(ResynthesisVariant, MatchesThePlainStepsForEveryOutputPlanAndThreadCount)
{
    const int frames = 45, bins = kFft / 2, k = 3, samples = 660;
    const Matrix v = filledMatrix(frames, bins, 1, 2.0, 0.0);
    const Matrix w = filledMatrix(frames, k, 2, 1.5, 0.0);
    const Matrix h = filledMatrix(k, bins, 3, 1.0, 0.0);
    const Matrix theta = filledMatrix(frames, bins, 4, 1.5707963267948966, 0.0);
    const Matrix phaseL = filledMatrix(frames, bins, 5, 6.283185307179586, -3.141592653589793);
    const Matrix phaseR = filledMatrix(frames, bins, 6, 6.283185307179586, -3.141592653589793);

    for (const bool padded : {false, true}) {
        Stft plain(kOverlap, kFft, kFft, padded, VectorVariant::baseline);
        for (const OutputPlan& plan : everyKindOfPlan(k)) {
            SCOPED_TRACE(::testing::Message() << (padded ? "padded, " : "") << plan.groups.size() << " outputs, "
                                              << (plan.mode == MaskMode::soft ? "soft" : "direct") << ", power "
                                              << plan.power);
            const bool soft = plan.mode == MaskMode::soft;
            const int count = 1 + static_cast<int>(plan.groups.size());
            // The plain signals: direct magnitudes split by the angle, or each
            // channel's own soft magnitude.
            const std::vector<Matrix> monoShares = soft ? softShares(v, Matrix(), w, h, plan) : std::vector<Matrix>();
            const std::vector<Matrix> stereoShares = soft ? softShares(v, theta, w, h, plan) : std::vector<Matrix>();
            auto plainMono = [&](int o) {
                return plain.synthesise(
                    soft ? softMagnitude(w, h, plan, o, monoShares[0]) : directMagnitude(v, w, h, plan, o), phaseL,
                    samples);
            };
            auto plainStereo = [&](int o, int c) {
                const Matrix& phase = c == 0 ? phaseL : phaseR;
                if (soft)
                    return plain.synthesise(softMagnitude(w, h, plan, o, stereoShares[static_cast<std::size_t>(c)]),
                                            phase, samples);
                const Matrix x = directMagnitude(v, w, h, plan, o);
                return plain.synthesise(c == 0 ? splitLeft(x, theta) : splitRight(x, theta), phase, samples);
            };
            const auto model = [&](Matrix&& magnitude, Matrix&& angle, int threads) {
                return soft ? OutputRows::soft(std::move(magnitude), std::move(angle), w, h, plan, threads)
                            : OutputRows::direct(v, w, h, plan);
            };

            for (int threads : {1, 2, 3}) {
                for (int atOnce : {1, 2, count}) {
                    SCOPED_TRACE(::testing::Message() << threads << " threads, " << atOnce << " at once");
                    Resynthesis fast(threads, kOverlap, kFft, kFft, padded, GetParam());

                    InputPhases mono;
                    mono.channels.push_back(&phaseL);
                    const std::vector<Gathered> monoSignals =
                        streamAll(fast, model(v.clone(), Matrix(), threads), mono, samples, atOnce);
                    for (int o = 0; o < count; ++o) {
                        const Gathered& out = monoSignals[static_cast<std::size_t>(o)];
                        EXPECT_TRUE(out.finished);
                        EXPECT_GT(out.writes, 1) << "output " << o << " came in one piece";
                        EXPECT_TRUE(sameSamples(out.signals[0], plainMono(o))) << "mono, output " << o;
                    }

                    InputPhases stereo;
                    stereo.channels = {&phaseL, &phaseR};
                    stereo.angle = soft ? nullptr : &theta;
                    const std::vector<Gathered> signals =
                        streamAll(fast, model(v.clone(), theta.clone(), threads), stereo, samples, atOnce);
                    for (int o = 0; o < count; ++o) {
                        const Gathered& out = signals[static_cast<std::size_t>(o)];
                        EXPECT_TRUE(sameSamples(out.signals[0], plainStereo(o, 0))) << "left " << o;
                        EXPECT_TRUE(sameSamples(out.signals[1], plainStereo(o, 1))) << "right " << o;
                    }
                }
            }
        }
    }
}

// The streamed overlap-add against adding every frame into a whole buffer,
// for hops shorter than, equal to and longer than the frame, and totals that
// end inside, at and after the frames.
TEST(Resynthesis, OverlapAddGivesTheWholeBuffersSamplesInOrder)
{
    struct Case {
        int length, hop, frames, total;
    };
    for (const Case& k : {Case{8, 2, 9, 30}, Case{8, 8, 4, 32}, Case{5, 7, 4, 40}, Case{6, 3, 5, 18},
                          Case{4, 1, 0, 3}, Case{8, 4, 1, 9}}) {
        SCOPED_TRACE(::testing::Message() << "length " << k.length << ", hop " << k.hop << ", frames " << k.frames
                                          << ", total " << k.total);
        std::vector<std::vector<float>> frames;
        std::vector<float> whole(static_cast<std::size_t>(k.total), 0.0f);
        for (int e = 0; e < k.frames; ++e) {
            std::vector<float> f(static_cast<std::size_t>(k.length));
            for (int i = 0; i < k.length; ++i) {
                f[static_cast<std::size_t>(i)] = 0.1f * static_cast<float>((e * 7 + i * 3) % 11) - 0.45f;
                whole[static_cast<std::size_t>(e * k.hop + i)] += f[static_cast<std::size_t>(i)];
            }
            frames.push_back(f);
        }
        OverlapAdd add(k.length, k.hop, k.total);
        std::vector<float> streamed, out(64);
        for (const std::vector<float>& f : frames) {
            const int n = add.add(f.data(), out.data());
            EXPECT_EQ(n, k.hop);
            streamed.insert(streamed.end(), out.begin(), out.begin() + n);
        }
        for (int n = add.drain(out.data(), 3); n > 0; n = add.drain(out.data(), 3))
            streamed.insert(streamed.end(), out.begin(), out.begin() + n);
        EXPECT_EQ(add.given(), k.total);
        ASSERT_EQ(streamed.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i)
            EXPECT_EQ(bits(streamed[i]), bits(whole[i])) << "sample " << i;
    }
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
