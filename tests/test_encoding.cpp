// --encoding: the outputs' sample encoding within the input's container,
// checked with the sound library on the files written; integer encodings
// clip at full scale, float ones keep every value, and a container that has
// no such encoding is refused before the work.

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

constexpr int kRate = 8000;
constexpr int kFrames = 6000;

struct Named {
    const char* name;
    int subtype;
};
const Named kEncodings[] = {{"pcm16", SF_FORMAT_PCM_16},
                            {"pcm24", SF_FORMAT_PCM_24},
                            {"pcm32", SF_FORMAT_PCM_32},
                            {"float", SF_FORMAT_FLOAT},
                            {"double", SF_FORMAT_DOUBLE}};

float peak(const Sound& s)
{
    float m = 0.0f;
    for (float v : s.samples)
        m = std::max(m, std::fabs(v));
    return m;
}

// A 30 Hz square wave just below full scale: one component, rebuilt from
// its model magnitudes with the input's phases, overshoots full scale.
std::vector<float> loudSquare(int frames)
{
    std::vector<float> s(static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = i % 266 < 133 ? 0.999f : -0.999f;
    return s;
}

}  // namespace

// Every encoding name on WAV, FLAC and AIFF inputs: the outputs have that
// encoding in the input's container, with the input's rate, channels and
// length; FLAC, which stores only integers of up to 24 bits, refuses pcm32,
// float and double with a message naming both, and writes nothing.
TEST(Encoding, EveryNameOnWavFlacAndAiff)
{
    struct Container {
        const char* extension;
        int type;
        const char* title;  // the library's name for it
        std::vector<std::string> refused;
    };
    const Container containers[] = {{"wav", SF_FORMAT_WAV, "WAV (Microsoft)", {}},
                                    {"aiff", SF_FORMAT_AIFF, "AIFF (Apple/SGI)", {}},
                                    {"flac", SF_FORMAT_FLAC, "FLAC (Free Lossless Audio Codec)", {"pcm32", "float", "double"}}};
    for (const Container& c : containers) {
        for (int channels : {1, 2}) {
            ScratchDir dir;
            const std::string input = std::string("x.") + c.extension;
            ASSERT_TRUE(writeSound(dir.file(input), c.type | SF_FORMAT_PCM_16, channels, kRate,
                                   testSignal(kFrames, channels, kRate)));
            fs::create_directory(dir.file("out"));
            for (const Named& e : kEncodings) {
                const std::string what = input + " " + e.name + ", " + std::to_string(channels) + " channels";
                fs::remove_all(dir.file("out"));
                fs::create_directory(dir.file("out"));
                const Snapshot before = snapshot(dir.path());
                const RunResult r = runTessavo(withOptions({input, "2", "-d", "out", "--encoding", e.name}), dir.path());
                if (std::find(c.refused.begin(), c.refused.end(), e.name) != c.refused.end()) {
                    EXPECT_EQ(r.status, 1) << what;
                    EXPECT_EQ(r.out, std::string("Not able to write encoding ") + e.name + " in " + c.title +
                                         ", the format of input file " + input + "\n")
                        << what;
                    EXPECT_EQ(snapshot(dir.path()), before) << what;
                    continue;
                }
                ASSERT_EQ(r.status, 0) << what << ": " << r.out;
                for (const char* suffix : {"-residual.", "-0.", "-1."}) {
                    const Sound s = readSound(dir.file(std::string("out/x") + suffix + c.extension));
                    EXPECT_EQ(s.info.format, c.type | e.subtype) << what << " " << suffix;
                    EXPECT_EQ(s.info.channels, channels) << what;
                    EXPECT_EQ(s.info.samplerate, kRate) << what;
                    EXPECT_EQ(s.info.frames, expectedFrames(kFrames, 512, 4)) << what;
                    EXPECT_GT(peak(s), 0.01f) << what << ": silent";
                }
            }
        }
    }
}

// A 16-bit input whose parts overshoot full scale: with float the outputs
// keep the overshoot; the default (the input's 16 bits) holds the same
// sound clipped at full scale, to within one step of 16 bits.
TEST(Encoding, FloatOutputsKeepWhatIntegerOutputsClip)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, loudSquare(kFrames)));
    fs::create_directory(dir.file("f"));
    const std::vector<std::string> run = {"x.wav", "1", "-f", "256", "-i", "30", "-s"};
    ASSERT_EQ(runTessavo(withOptions(run, {"-d", "f", "--encoding", "float"}), dir.path()).status, 0);
    ASSERT_EQ(runTessavo(run, dir.path()).status, 0);

    float loudest = 0.0f;
    for (const char* name : {"x-residual.wav", "x-0.wav"}) {
        const Sound wide = readSound(dir.file(std::string("f/") + name));
        const Sound clipped = readSound(dir.file(name));
        ASSERT_EQ(wide.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT) << name;
        ASSERT_EQ(clipped.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16) << name;
        ASSERT_EQ(wide.samples.size(), clipped.samples.size()) << name;
        loudest = std::max(loudest, peak(wide));
        EXPECT_LE(peak(clipped), 1.0f) << name;
        double worst = 0.0;
        for (std::size_t i = 0; i < wide.samples.size(); ++i)
            worst = std::max(worst, std::fabs(static_cast<double>(std::clamp(wide.samples[i], -1.0f, 1.0f)) -
                                              clipped.samples[i]));
        EXPECT_LE(worst, 1.0 / 32768) << name;
    }
    EXPECT_GT(loudest, 1.02f) << "no output overshoots full scale: the test shows nothing";
}

// A float AIFF input beyond full scale: double keeps it, every integer
// encoding clips it at full scale and never wraps it around.
TEST(Encoding, IntegerEncodingsClipAndFloatEncodingsKeepAnInputBeyondFullScale)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.aiff"), SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 2, kRate,
                           testSignal(kFrames, 2, kRate, 2.5)));
    const Sound in = readSound(dir.file("x.aiff"));
    ASSERT_GT(peak(in), 1.3f);
    for (const Named& e : kEncodings) {
        fs::remove_all(dir.file("o"));
        fs::create_directory(dir.file("o"));
        // No components: the residual is the input itself, rebuilt.
        const RunResult r = runTessavo(withOptions({"x.aiff", "0", "-d", "o", "--encoding", e.name}), dir.path());
        ASSERT_EQ(r.status, 0) << e.name << ": " << r.out;
        const Sound out = readSound(dir.file("o/x-residual.aiff"));
        ASSERT_EQ(out.info.format, SF_FORMAT_AIFF | e.subtype) << e.name;
        const bool floats = e.subtype == SF_FORMAT_FLOAT || e.subtype == SF_FORMAT_DOUBLE;
        if (floats) {
            EXPECT_GT(peak(out), 1.3f) << e.name;
            continue;
        }
        EXPECT_LE(peak(out), 1.0f) << e.name;
        // Every sample well beyond full scale is held at full scale, with its
        // sign (but in the first and last transform length, which the
        // overlapping windows do not rebuild exactly).
        int loud = 0, held = 0;
        for (std::size_t i = 2 * 512; i + 2 * 512 < std::min(in.samples.size(), out.samples.size()); ++i)
            if (std::fabs(in.samples[i]) > 1.1f) {
                ++loud;
                held += (in.samples[i] > 0) == (out.samples[i] > 0) && std::fabs(out.samples[i]) > 0.999f;
            }
        EXPECT_GT(loud, 100);
        EXPECT_EQ(held, loud) << e.name;
    }
}

// Naming the input's own encoding changes nothing: the same bytes as a run
// without the option.
TEST(Encoding, TheInputsOwnEncodingGivesTheDefaultBytes)
{
    const std::pair<int, const char*> cases[] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_16, "pcm16"},
                                                 {SF_FORMAT_WAV | SF_FORMAT_FLOAT, "float"},
                                                 {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "pcm24"}};
    for (const auto& [format, name] : cases) {
        ScratchDir dir;
        const std::string input = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? "x.flac" : "x.wav";
        const std::string ext = input.substr(1);
        ASSERT_TRUE(writeSound(dir.file(input), format, 2, kRate, testSignal(kFrames, 2, kRate)));
        fs::create_directory(dir.file("named"));
        ASSERT_EQ(runTessavo(withOptions({input, "2", "-s"}), dir.path()).status, 0) << name;
        ASSERT_EQ(runTessavo(withOptions({input, "2", "-s", "-d", "named", "--encoding", name}), dir.path()).status, 0)
            << name;
        for (const std::string stem : {"x-residual", "x-0", "x-1"}) {
            const std::string bytes = readFile(dir.file(stem + ext));
            ASSERT_FALSE(bytes.empty()) << name << " " << stem;
            EXPECT_TRUE(bytes == readFile(dir.file("named/" + stem + ext))) << name << " " << stem;
        }
    }
}

// Containers that hold no such encoding, the lossy ones above all: one line
// naming both, before the work, and nothing written.
TEST(Encoding, ImpossibleCombinationsAreRefusedBeforeTheWork)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 44100, testSignal(44100, 1, 44100)));
    ASSERT_TRUE(writeSound(dir.file("x.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, kRate, testSignal(kFrames, 1, kRate)));
    const Snapshot before = snapshot(dir.path());
    const std::pair<std::string, std::string> cases[] = {
        {"x.ogg", "pcm16"}, {"x.ogg", "pcm24"}, {"x.ogg", "float"}, {"x.flac", "float"}, {"x.flac", "double"}};
    for (const auto& [input, encoding] : cases) {
        const RunResult r = runTessavo({input, "2", "-m", "--encoding", encoding}, dir.path());
        EXPECT_EQ(r.status, 1) << input << " " << encoding;
        const std::string title = input == "x.ogg" ? "OGG (OGG Container format)" : "FLAC (Free Lossless Audio Codec)";
        EXPECT_EQ(r.out, "Not able to write encoding " + encoding + " in " + title + ", the format of input file " +
                             input + "\n");
        EXPECT_EQ(snapshot(dir.path()), before) << input << " " << encoding;
    }
}
