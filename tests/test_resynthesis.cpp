// The outputs' fast resynthesis against the plain steps (form the magnitude,
// split it by the stereo angle, synthesise with the phases), bit for bit.

#include "app/Resynthesis.h"
#include "factorisation/Recombination.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

using namespace tessavo;
using tessavo::test::bits;

namespace {

constexpr int kFft = 64;
constexpr int kOverlap = 4;

Matrix filled(int rows, int cols, std::uint32_t seed, double scale, double offset)
{
    Matrix m(rows, cols);
    std::uint32_t state = seed;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) {
            state = state * 1664525u + 1013904223u;
            m[i][j] = offset + scale * static_cast<double>(state >> 8) / 16777216.0;
        }
    return m;
}

Matrix copyOf(const Matrix& m)
{
    Matrix c(m.rows(), m.cols());
    for (int i = 0; i < m.size(); ++i)
        c.data()[i] = m.data()[i];
    return c;
}

void expectSameSignal(const SampleBuffer& a, const SampleBuffer& b, const char* what)
{
    ASSERT_EQ(a.length(), b.length()) << what;
    for (int i = 0; i < a.length(); ++i)
        ASSERT_EQ(bits(a[i]), bits(b[i])) << what << " sample " << i;
}

}  // namespace

TEST(Resynthesis, MatchesThePlainStepsForEveryOutputAndThreadCount)
{
    const int frames = 23, bins = kFft / 2, k = 3;
    const Matrix v = filled(frames, bins, 1, 2.0, 0.0);
    const Matrix w = filled(frames, k, 2, 1.5, 0.0);
    const Matrix h = filled(k, bins, 3, 1.0, 0.0);
    const Matrix theta = filled(frames, bins, 4, 1.5707963267948966, 0.0);
    const Matrix phaseL = filled(frames, bins, 5, 6.283185307179586, -3.141592653589793);
    const Matrix phaseR = filled(frames, bins, 6, 6.283185307179586, -3.141592653589793);

    Stft plain(kOverlap, 8000, kFft, kFft, 1.0f);
    std::vector<OutputSource> all;
    for (int c = -1; c < k; ++c)
        all.push_back(OutputSource{&v, &w, &h, c});
    auto magnitudeOf = [&](int c) { return c < 0 ? residualMagnitude(v, w, h) : componentMagnitude(w, h, c); };

    for (int threads : {1, 2, 3}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        Resynthesis fast(threads, kOverlap, 8000, kFft, kFft);

        InputPhases mono;
        Matrix p = copyOf(phaseL);
        mono.channels.push_back(takeTrigTable(p, threads));
        const auto& monoSignals = fast.synthesise(all, mono);
        for (int c = -1; c < k; ++c) {
            ASSERT_EQ(monoSignals[static_cast<std::size_t>(c + 1)].size(), 1u);
            expectSameSignal(monoSignals[static_cast<std::size_t>(c + 1)][0], plain.synthesise(magnitudeOf(c), phaseL),
                             "mono");
        }

        // Stereo, first with the angle as it is, then with its table.
        InputPhases stereo;
        Matrix pl = copyOf(phaseL), pr = copyOf(phaseR);
        stereo.channels.push_back(takeTrigTable(pl, threads));
        stereo.channels.push_back(takeTrigTable(pr, threads));
        stereo.angle = copyOf(theta);
        for (bool tabulated : {false, true}) {
            if (tabulated)
                stereo.angleTable = takeTrigTable(stereo.angle, threads);
            const auto& signals = fast.synthesise(all, stereo);
            for (int c = -1; c < k; ++c) {
                const Matrix x = magnitudeOf(c);
                const auto& out = signals[static_cast<std::size_t>(c + 1)];
                ASSERT_EQ(out.size(), 2u);
                expectSameSignal(out[0], plain.synthesise(splitLeft(x, theta), phaseL), "left");
                expectSameSignal(out[1], plain.synthesise(splitRight(x, theta), phaseR), "right");
            }
        }
    }
}

TEST(Resynthesis, TablesHoldTheLibraryCosineAndSine)
{
    Matrix angles = filled(5, 7, 9, 20.0, -10.0);
    const Matrix original = copyOf(angles);
    const TrigTable t = takeTrigTable(angles, 2);
    EXPECT_EQ(angles.rows(), 0);  // the angles' storage now holds the cosines
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 7; ++j) {
            EXPECT_EQ(bits(t.cos[i][j]), bits(std::cos(original[i][j])));
            EXPECT_EQ(bits(t.sin[i][j]), bits(std::sin(original[i][j])));
        }
}

TEST(Resynthesis, FoldingStereoInPlaceGivesTheSameMagnitudeAndAngle)
{
    Matrix left = filled(6, 9, 11, 3.0, 0.0);
    Matrix right = filled(6, 9, 12, 3.0, 0.0);
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
