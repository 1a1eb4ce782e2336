#include "app/RunError.h"
#include "app/OutputNames.h"
#include "app/SoundFile.h"

#include "support/Bytes.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tessavo;
using tessavo::test::channelsOf;
using tessavo::test::ScratchDir;

namespace {

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const RunError& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(SoundFile, MonoWavReadsAndWritesBackInItsFormat)
{
    ScratchDir dir;
    std::vector<float> samples = {0.0f, 0.5f, -0.25f, 1.0f / 32768.0f, -1.0f};
    ASSERT_TRUE(test::writeSound(dir.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 22050, samples));

    // What the library itself reads from the file (-1.0 comes back as -32767/32768).
    samples = test::readSound(dir.file("in.wav")).samples;
    InputSound in = readSoundFile(dir.file("in.wav"));
    ASSERT_EQ(in.channels.size(), 1u);
    ASSERT_EQ(in.channels[0].length(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(in.channels[0][i], samples[static_cast<std::size_t>(i)]);
    EXPECT_EQ(in.channels[0][1], 0.5f);

    writeSoundFile(dir.file("out.wav"), in.info, in.channels);
    const test::Sound out = test::readSound(dir.file("out.wav"));
    EXPECT_EQ(out.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(out.info.samplerate, 22050);
    EXPECT_EQ(out.info.channels, 1);
    EXPECT_EQ(out.samples, samples);
    EXPECT_EQ(test::readFile(dir.file("out.wav")), test::readFile(dir.file("in.wav")));
}

TEST(SoundFile, StereoFlacSplitsIntoChannelsAndInterleavesBack)
{
    ScratchDir dir;
    std::vector<float> samples;
    for (int i = 0; i < 400; ++i) {
        samples.push_back(static_cast<float>(i) / 1024.0f);    // left
        samples.push_back(-static_cast<float>(i) / 2048.0f);   // right
    }
    ASSERT_TRUE(test::writeSound(dir.file("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 2, 48000, samples));

    InputSound in = readSoundFile(dir.file("in.flac"));
    ASSERT_EQ(in.channels.size(), 2u);
    ASSERT_EQ(in.channels[0].length(), 400);
    EXPECT_EQ(in.channels[0][3], 3.0f / 1024.0f);
    EXPECT_EQ(in.channels[1][3], -3.0f / 2048.0f);

    writeSoundFile(dir.file("out.flac"), in.info, in.channels);
    const test::Sound out = test::readSound(dir.file("out.flac"));
    EXPECT_EQ(out.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(out.info.samplerate, 48000);
    EXPECT_EQ(out.info.channels, 2);
    EXPECT_EQ(out.samples, samples);
}

TEST(SoundFile, IntegerOutputsClipWhileFloatOutputsKeepValues)
{
    ScratchDir dir;
    std::vector<SampleBuffer> loud = channelsOf({1.5f, -1.5f, 0.25f}, 1);
    SF_INFO pcm{};
    pcm.samplerate = 8000;
    pcm.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    writeSoundFile(dir.file("pcm.wav"), pcm, loud);
    const test::Sound p = test::readSound(dir.file("pcm.wav"));
    ASSERT_EQ(p.samples.size(), 3u);
    EXPECT_GT(p.samples[0], 0.999f);  // clipped, not wrapped to a negative value
    EXPECT_LE(p.samples[1], -1.0f);
    EXPECT_EQ(p.samples[2], 0.25f);

    SF_INFO flt = pcm;
    flt.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    writeSoundFile(dir.file("float.wav"), flt, loud);
    const test::Sound f = test::readSound(dir.file("float.wav"));
    EXPECT_EQ(f.samples, (std::vector<float>{1.5f, -1.5f, 0.25f}));
}

TEST(SoundFile, InputFailuresHaveTheirMessages)
{
    ScratchDir dir;
    const std::string missing = messageOf([&] { readSoundFile(dir.file("x.wav")); });
    const std::string first = "Not able to open input file " + dir.file("x.wav") + "\n";
    ASSERT_EQ(missing.substr(0, first.size()), first);
    EXPECT_GT(missing.size(), first.size());              // the library's text follows
    EXPECT_NE(missing.back(), '\n');                     // with no line end

    ASSERT_TRUE(test::writeSound(dir.file("six.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 6, 8000,
                                 std::vector<float>(60, 0.1f)));
    EXPECT_EQ(messageOf([&] { readSoundFile(dir.file("six.wav")); }), "Not able to process more than 2 channels\n");
}

TEST(SoundFile, OutputFailuresNameTheFileAndKeepEarlierOnes)
{
    ScratchDir dir;
    SF_INFO info{};
    info.samplerate = 8000;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    std::vector<SampleBuffer> s = channelsOf({0.1f, 0.2f}, 1);
    writeSoundFile(dir.file("kept.wav"), info, s);

    const std::string name = dir.file("nowhere/out.wav");
    const std::string text = messageOf([&] { writeSoundFile(name, info, s); });
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Not able to open output file " + name + "\n");
    EXPECT_TRUE(test::fileExists(dir.file("kept.wav")));

}

TEST(SoundFile, OutputNamesInsertTheSuffixBeforeTheExtension)
{
    auto name = [](const std::string& f, const std::string& suffix) { return OutputNames(f).sound(suffix); };
    EXPECT_EQ(name("song.wav", "-residual"), "song-residual.wav");
    EXPECT_EQ(name("song.wav", "-0"), "song-0.wav");
    EXPECT_EQ(name("song.wav", "-12"), "song-12.wav");
    EXPECT_EQ(name("take.1.wav", "-residual"), "take.1-residual.wav");
    EXPECT_EQ(name("a/b c/take one.flac", "-3"), "a/b c/take one-3.flac");
    // Only the last path component's extension counts, and not a leading dot.
    EXPECT_EQ(name("recordings.d/take", "-residual"), "recordings.d/take-residual");
    EXPECT_EQ(name("song", "-0"), "song-0");
    EXPECT_EQ(name("dir/.hidden", "-0"), "dir/.hidden-0");
    EXPECT_EQ(name(".wav", "-0"), ".wav-0");
    // The matrix files take the whole name.
    EXPECT_EQ(OutputNames("a/take.1.wav").wFile(), "a/take.1.wav-W.txt");
    EXPECT_EQ(OutputNames("take").hFile(), "take-H.txt");
    EXPECT_EQ(OutputNames("song.wav").component(12), "song-12.wav");
}

TEST(SoundFile, OutputNamesInAFolderKeepTheLastPathComponentOnly)
{
    EXPECT_EQ(OutputNames("music/song.wav", "out").residual(), "out/song-residual.wav");
    EXPECT_EQ(OutputNames("music/song.wav", "out/").component(0), "out/song-0.wav");
    EXPECT_EQ(OutputNames("music/song.wav", "out///").wFile(), "out/song.wav-W.txt");
    EXPECT_EQ(OutputNames("/abs/a.b/take", "/").hFile(), "/take-H.txt");
    EXPECT_EQ(OutputNames("song.wav", "/x y").residual(), "/x y/song-residual.wav");
    EXPECT_EQ(OutputNames("a.d/.hidden", "o").sound("-k"), "o/.hidden-k");
    EXPECT_EQ(OutputNames("/dev/stdin", "o").residual(), "o/stdin-residual");
    // A dot in the folder's name is no extension.
    EXPECT_EQ(OutputNames("take", "out.d").residual(), "out.d/take-residual");
    EXPECT_EQ(OutputNames("-x.wav", "o").component(1), "o/-x-1.wav");
}
