// --pad: every sample rebuilt, every output as long as its input. The padded
// transform gives an unchanged spectrogram back to float rounding at every
// sample; through the program, soft-mask outputs add up to the input at
// every sample, edges included, even for an input shorter than a transform;
// without --pad such an input gives silent outputs, and the program says so.

#include "spectral/Framing.h"
#include "spectral/Stft.h"

#include "support/Folder.h"
#include "support/TestFiles.h"
#include "support/Program.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

// Loud at its first and last samples: a level with tones and clicks on it,
// different in each channel.
std::vector<float> loudEdges(int frames, int channels, int rate)
{
    std::vector<float> s(static_cast<std::size_t>(frames) * channels);
    const double twoPi = 2.0 * std::acos(-1.0);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double click = std::exp(-60.0 * std::fmod(t, 0.05));
        for (int c = 0; c < channels; ++c)
            s[static_cast<std::size_t>(i) * channels + c] = static_cast<float>(
                (c == 0 ? 0.5 : -0.4) + 0.25 * std::cos(twoPi * (330.0 + 220.0 * c) * t) + 0.2 * click);
    }
    return s;
}

}  // namespace

// The rows of the padded analysis, and its round trip: transform lengths
// and overlaps (3 frames over each sample and more, hops that do and do not
// divide the transform), inputs from one sample to several transforms.
TEST(Padding, UnchangedSpectrogramComesBackAtEverySample)
{
    for (const int n : {64, 256}) {
        for (const int overlap : {3, 4, 8}) {
            for (const int length : {1, 37, n - 1, 5 * n + 3}) {
                SCOPED_TRACE(::testing::Message() << n << " points, overlap " << overlap << ", " << length << " samples");
                Stft stft(overlap, n, n, true);
                SampleBuffer in(length);
                for (int i = 0; i < length; ++i)
                    in[i] = static_cast<float>(0.6 + 0.3 * std::sin(i / 5.0));
                Matrix magnitude, phase;
                stft.analyse(in, magnitude, phase);
                const Framing framing{n, overlap, true};
                // Frames start every hop from (overlap - 1) hops before the
                // signal until its last sample.
                EXPECT_EQ(magnitude.rows(), framing.rows(length));
                EXPECT_LE(framing.start(magnitude.rows() - 1), length - 1);
                EXPECT_GT(framing.start(magnitude.rows()), length - 1);
                EXPECT_EQ(framing.start(0), -(overlap - 1) * (n / overlap));

                const SampleBuffer out = stft.synthesise(magnitude, phase, length);
                ASSERT_EQ(out.length(), length);
                for (int i = 0; i < length; ++i)
                    ASSERT_NEAR(out[i], in[i], 2e-6) << "sample " << i;
            }
        }
    }
    // With fewer than 3 frames over each sample the windows vanish together.
    for (const int overlap : {1, 2})
        EXPECT_THROW(Stft(overlap, 64, 64, true), std::invalid_argument) << overlap;
}

// Soft masks on an input loud at both ends: the parts and the residual add
// up to the input at every sample and have its length, for a second of
// stereo and for a tenth of a second, shorter than a transform, in stereo
// and mono.
TEST(Padding, SoftOutputsAddUpToTheInputAtEverySample)
{
    constexpr int rate = 44100;
    struct Case {
        int frames;
        int channels;
        std::vector<std::string> transform;
    };
    for (const Case& c : {Case{rate, 2, {"-f", "1024"}}, Case{rate / 10, 2, {}}, Case{rate / 10, 1, {}}}) {
        SCOPED_TRACE(::testing::Message() << c.frames << " frames, " << c.channels << " channels");
        ScratchDir dir;
        const std::vector<float> input = loudEdges(c.frames, c.channels, rate);
        ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, rate, input));
        std::vector<std::string> args = {"x.wav", "2", "--pad", "--mask", "soft", "-i", "20", "-s"};
        args.insert(args.end(), c.transform.begin(), c.transform.end());
        const RunResult r = runTessavo(args, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.err, "");

        std::vector<double> sum(input.size(), 0.0);
        double largest = 0.0, energy = 0.0;
        for (const char* part : {"residual", "0", "1"}) {
            const Sound s = readSound(dir.file(std::string("x-") + part + ".wav"));
            ASSERT_EQ(s.info.frames, c.frames) << part;
            ASSERT_EQ(s.samples.size(), input.size()) << part;
            double partEnergy = 0.0;
            for (std::size_t i = 0; i < sum.size(); ++i) {
                sum[i] += s.samples[i];
                partEnergy += static_cast<double>(s.samples[i]) * s.samples[i];
            }
            largest = std::max(largest, partEnergy);
        }
        for (std::size_t i = 0; i < sum.size(); ++i) {
            ASSERT_NEAR(sum[i], input[i], 1e-5) << "sample " << i / c.channels << ", channel " << i % c.channels;
            energy += static_cast<double>(input[i]) * input[i];
        }
        // The parts are sound, and really split it.
        EXPECT_LT(largest, 0.95 * energy);
        EXPECT_GT(largest, 0.05 * energy);
    }
}

// Without --pad an input shorter than one transform gives silent outputs:
// the program says so on standard error, and what to do; standard output
// and the exit status are a run's usual ones. Long enough, it says nothing.
TEST(Padding, WithoutItAShortInputIsSilentAndTheProgramSaysSo)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, loudEdges(8191, 1, 8000)));
    const RunResult r = runTessavo({"x.wav", "1", "-i", "2", "-c", "0"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Note"), std::string::npos);
    EXPECT_EQ(r.err, "Note: x.wav is shorter than one transform of 8192 samples, so every output will be "
                     "silent; --pad, or a smaller -f, rebuilds it\n");
    const Sound silent = readSound(dir.file("x-0.wav"));
    ASSERT_GT(silent.samples.size(), 0u);
    EXPECT_TRUE(std::all_of(silent.samples.begin(), silent.samples.end(), [](float v) { return v == 0.0f; }));

    ASSERT_TRUE(writeSound(dir.file("y.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, loudEdges(8192, 1, 8000)));
    EXPECT_EQ(runTessavo({"y.wav", "1", "-i", "2", "-s"}, dir.path()).err, "");
    EXPECT_EQ(runTessavo({"x.wav", "1", "-i", "2", "-s", "--pad"}, dir.path()).err, "");
}
