// The whole program on real sound files made here: files, standard output and
// exit status, as a user sees them.

#include "app/SoundFile.h"
#include "core/Matrix.h"
#include "spectral/Stft.h"

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessavo;
using namespace tessavo::test;

namespace {

constexpr int kRate = 8000;
constexpr int kFrames = 6000;

// The plain resynthesis of the input's own magnitudes, channel by channel.
std::vector<SampleBuffer> resynthesiseInput(const std::string& path, int n, int overlap)
{
    InputSound in = readSoundFile(path);
    Stft stft(overlap, n, n);
    std::vector<SampleBuffer> out;
    for (const SampleBuffer& channel : in.channels) {
        Matrix magnitude, phase;
        stft.analyse(channel, magnitude, phase);
        out.push_back(stft.synthesise(magnitude, phase));
    }
    return out;
}

}  // namespace

TEST(Run, OutputsKeepChannelsFormatAndRate)
{
    struct Case {
        const char* name;
        int format;
        int channels;
    };
    const Case cases[] = {{"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1},
                          {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2},
                          {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1},
                          {"song.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2}};
    for (const Case& c : cases) {
        ScratchDir dir;
        ASSERT_TRUE(writeSound(dir.file(c.name), c.format, c.channels, kRate, testSignal(kFrames, c.channels, kRate)));
        const RunResult r = runTessavo(withOptions({c.name, "2", "-s"}), dir.path());
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.out;
        EXPECT_EQ(r.out, "");

        const std::string stem = fs::path(c.name).stem().string();
        const std::string ext = fs::path(c.name).extension().string();
        for (const char* suffix : {"-residual", "-0", "-1"}) {
            const Sound out = readSound(dir.file(stem + suffix + ext));
            EXPECT_EQ(out.info.format, c.format) << c.name << suffix;
            EXPECT_EQ(out.info.channels, c.channels) << c.name << suffix;
            EXPECT_EQ(out.info.samplerate, kRate) << c.name << suffix;
            // Not the input's length: whole hops, one more row than frames start.
            EXPECT_EQ(out.info.frames, expectedFrames(kFrames, 512, 4)) << c.name << suffix;
        }
        EXPECT_FALSE(fileExists(dir.file(stem + "-2" + ext)));
    }
}

TEST(Run, ProgressLinesFollowTheStoppingRule)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("a.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, testSignal(kFrames, 1, kRate)));

    const RunResult one = runTessavo(withOptions({"a.wav", "2"}, {"-f", "256", "-i", "1"}), dir.path());
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, "");

    const RunResult two = runTessavo(withOptions({"a.wav", "2"}, {"-f", "256", "-i", "2", "-c", "0"}), dir.path());
    EXPECT_EQ(two.status, 0);
    ASSERT_EQ(two.out.rfind("objective: ", 0), 0u) << two.out;
    EXPECT_EQ(std::count(two.out.begin(), two.out.end(), '\n'), 1);
    const double shown = std::stod(two.out.substr(11));
    EXPECT_GT(shown, 0.0);

    const RunResult loose = runTessavo(withOptions({"a.wav", "2"}, {"-f", "256", "-i", "2", "-c", "1e9"}), dir.path());
    EXPECT_EQ(loose.out, two.out + "done in 1 iterations\n");
    // A tolerance takes the criteria's place.
    const RunResult relative = runTessavo(
        withOptions({"a.wav", "2"}, {"-f", "256", "-i", "2", "-c", "0", "--tolerance", "1e9"}), dir.path());
    EXPECT_EQ(relative.out, loose.out);

    // Without a limit the loop runs until the change is small; every line
    // but the last is a progress line with six significant digits.
    const RunResult many = runTessavo(withOptions({"a.wav", "2"}, {"-f", "256", "-i", "30", "-c", "1e-12"}), dir.path());
    EXPECT_EQ(std::count(many.out.begin(), many.out.end(), '\n'), 29);
    EXPECT_EQ(many.out.find("done in"), std::string::npos);

    const RunResult silent = runTessavo(withOptions({"a.wav", "2", "--silent"}, {"-f", "256", "-i", "5"}), dir.path());
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.out, "");
}

TEST(Run, ComponentsAndResidualAddBackToTheResynthesisOfTheInput)
{
    for (int channels : {1, 2}) {
        ScratchDir dir;
        ASSERT_TRUE(writeSound(dir.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, kRate,
                               testSignal(kFrames, channels, kRate)));
        const std::vector<SampleBuffer> plain = resynthesiseInput(dir.file("in.wav"), 512, 4);

        // No components: the residual is V itself, resynthesised.
        ASSERT_EQ(runTessavo(withOptions({"in.wav", "0"}), dir.path()).status, 0);
        EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"in-residual.wav", "in.wav"}));
        const Sound residual0 = readSound(dir.file("in-residual.wav"));
        ASSERT_EQ(residual0.samples.size(), static_cast<std::size_t>(plain[0].length()) * channels);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < plain[0].length(); ++i) {
                const float got = residual0.samples[static_cast<std::size_t>(i) * channels + c];
                if (channels == 1)
                    ASSERT_EQ(bits(got), bits(plain[static_cast<std::size_t>(c)][i])) << i;
                else  // the stereo split rounds cos and sin of the angle
                    ASSERT_NEAR(got, plain[static_cast<std::size_t>(c)][i], 1e-6) << i;
            }

        ASSERT_EQ(runTessavo(withOptions({"in.wav", "3"}), dir.path()).status, 0);
        std::vector<Sound> parts = {readSound(dir.file("in-residual.wav")), readSound(dir.file("in-0.wav")),
                                    readSound(dir.file("in-1.wav")), readSound(dir.file("in-2.wav"))};
        double peak = 0.0, worst = 0.0;
        for (std::size_t s = 0; s < parts[0].samples.size(); ++s) {
            double sum = 0.0;
            for (const Sound& p : parts)
                sum += p.samples[s];
            const float want = plain[s % channels][static_cast<int>(s / channels)];
            peak = std::max(peak, std::fabs(static_cast<double>(want)));
            worst = std::max(worst, std::fabs(sum - want));
        }
        EXPECT_GT(peak, 0.1);
        EXPECT_LT(worst, 1e-5) << channels << " channels";
    }
}

TEST(Run, MatrixFilesSitNextToTheSounds)
{
    ScratchDir dir;
    fs::create_directory(dir.file("a b"));
    ASSERT_TRUE(writeSound(dir.file("a b/song.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate,
                           testSignal(kFrames, 1, kRate)));
    const RunResult r = runTessavo(withOptions({"a b/song.wav", "2", "-m"}), dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(listing(dir.file("a b")), (std::vector<std::string>{"song-0.wav", "song-1.wav", "song-residual.wav",
                                                                 "song.wav", "song.wav-H.txt", "song.wav-W.txt"}));
    const std::string w = readFile(dir.file("a b/song.wav-W.txt"));
    const int frames = kFrames / 128 + 1;
    EXPECT_EQ(w.substr(0, w.find('\n')), std::to_string(frames) + " 2");
    EXPECT_EQ(std::count(w.begin(), w.end(), '\n'), frames + 1);
    const std::string h = readFile(dir.file("a b/song.wav-H.txt"));
    EXPECT_EQ(h.substr(0, h.find('\n')), "2 256");
}

TEST(Run, RunsAreDeterministic)
{
    // Float files too: no time of writing in their headers.
    for (int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_FLOAT}) {
        ScratchDir one, two;
        for (const ScratchDir* d : {&one, &two}) {
            ASSERT_TRUE(writeSound(d->file("x.wav"), format, 2, kRate, testSignal(kFrames, 2, kRate)));
            ASSERT_EQ(runTessavo(withOptions({"x.wav", "3", "-m"}), d->path()).status, 0);
            sleep(1);  // a time stamp would now differ
        }
        for (const char* f : {"x-residual.wav", "x-0.wav", "x-1.wav", "x-2.wav", "x.wav-W.txt", "x.wav-H.txt"}) {
            const std::string first = readFile(one.file(f));
            ASSERT_FALSE(first.empty()) << f;
            EXPECT_TRUE(first == readFile(two.file(f))) << f << " differs between runs";
        }
    }
}

TEST(Run, TheSeedChoosesTheStartAndOneIsTheDefault)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, testSignal(kFrames, 1, kRate)));
    const auto factorsWith = [&](std::vector<std::string> seed) {
        std::vector<std::string> words{"x.wav", "2", "-m", "-s", "-f", "256", "-i", "5"};
        words.insert(words.end(), seed.begin(), seed.end());
        EXPECT_EQ(runTessavo(words, dir.path()).status, 0);
        return readFile(dir.file("x.wav-W.txt")) + readFile(dir.file("x.wav-H.txt"));
    };
    const std::string plain = factorsWith({});
    EXPECT_EQ(factorsWith({"--seed", "1"}), plain);
    EXPECT_NE(factorsWith({"--seed", "2"}), plain);
    EXPECT_EQ(factorsWith({"--seed", "2"}), factorsWith({"--seed", "2"}));
}

TEST(Run, InputFailuresStopBeforeAnyOutput)
{
    ScratchDir dir;
    const RunResult missing = runTessavo({"x.wav", "2"}, dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.rfind("Not able to open input file x.wav\n", 0), 0u) << missing.out;
    EXPECT_NE(missing.out.back(), '\n');  // the library's text ends the output

    ASSERT_TRUE(writeSound(dir.file("six.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 6, kRate, std::vector<float>(600, 0.1f)));
    const RunResult six = runTessavo({"six.wav", "2"}, dir.path());
    EXPECT_EQ(six.status, 1);
    EXPECT_EQ(six.out, "Not able to process more than 2 channels\n");

    std::vector<float> bad = testSignal(kFrames, 1, kRate);
    bad[100] = std::numeric_limits<float>::quiet_NaN();
    ASSERT_TRUE(writeSound(dir.file("nan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, bad));
    bad[100] = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(writeSound(dir.file("inf.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, kRate, bad));
    for (const char* name : {"nan.wav", "inf.wav"}) {
        const RunResult r = runTessavo(withOptions({name, "2", "-m"}), dir.path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, std::string("Not able to process input file ") + name +
                             ": it holds samples that are not finite numbers\n");
    }
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"inf.wav", "nan.wav", "six.wav"}));
}

TEST(Run, AnOutputNameThatIsAFolderStopsTheRunBeforeTheWork)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("s.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, testSignal(kFrames, 1, kRate)));
    // A folder where component 1 should go: found before the factorisation
    // (no progress lines), and nothing is written.
    fs::create_directory(dir.file("s-1.wav"));
    const RunResult r = runTessavo({"s.wav", "3", "-f", "256", "-i", "3"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Not able to open output file s-1.wav\n" + std::string(std::strerror(EISDIR))) << r.out;
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"s-1.wav", "s.wav"}));
    EXPECT_TRUE(fs::is_directory(dir.file("s-1.wav")));
}

TEST(Run, ValueRangesAndHugeComponentCountsAreRejected)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, testSignal(kFrames, 1, kRate)));
    const RunResult huge = runTessavo({"a.wav", "2000000000", "-f", "256"}, dir.path());
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.out.rfind("Not able to hold 2000000000 components", 0), 0u) << huge.out;

    for (std::vector<std::string> a : {std::vector<std::string>{"a.wav", "-2"},
                                       {"a.wav", "2", "-f", "0"},
                                       {"a.wav", "2", "-f", "256", "-o", "513"},
                                       {"a.wav", "2", "-o", "-4"}}) {
        const RunResult r = runTessavo(a, dir.path());
        EXPECT_EQ(r.status, 1) << a.back();
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"a.wav"});
}
