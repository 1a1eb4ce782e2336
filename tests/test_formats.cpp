// Every encoding the sound library offers: long files that some encoders
// cannot take in one call, values beyond full scale in the integer-like
// encodings, and formats the library reads but cannot write.

#include "app/RunError.h"
#include "app/SoundFile.h"

#include "support/Bytes.h"
#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

SF_INFO recordOf(int format, int channels, int rate)
{
    SF_INFO info{};
    info.format = format;
    info.channels = channels;
    info.samplerate = rate;
    return info;
}

struct Encoding {
    int format;
    std::string name;  // container extension and encoding, for messages
    std::string extension;
};

// Every container and encoding the library says it can write, as mono at
// 8000 Hz, except raw files (which cannot be read back without their record).
std::vector<Encoding> everyEncoding()
{
    int majors = 0, subtypes = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &majors, sizeof majors);
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &subtypes, sizeof subtypes);
    std::vector<Encoding> all;
    for (int m = 0; m < majors; ++m) {
        SF_FORMAT_INFO major{};
        major.format = m;
        sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &major, sizeof major);
        if (major.format == SF_FORMAT_RAW)
            continue;
        for (int s = 0; s < subtypes; ++s) {
            SF_FORMAT_INFO sub{};
            sub.format = s;
            sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &sub, sizeof sub);
            SF_INFO info = recordOf(major.format | sub.format, 1, 8000);
            if (sf_format_check(&info))
                all.push_back({info.format, std::string(major.extension) + " " + sub.name, major.extension});
        }
    }
    return all;
}

// The encodings that keep values beyond full scale: floats, and the lossy
// codecs that work on floats.
bool storesFloats(int format)
{
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE || sub == SF_FORMAT_MPEG_LAYER_III ||
           (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG;
}

// Silent MPEG-1 frames at 44100 Hz, 128 kbit/s, mono: a header and every
// subband's allocation zero, for layer 1 or 2.
std::string silentMpegFrames(int layer, int count)
{
    const int length = layer == 1 ? (12 * 128000 / 44100) * 4 : 144 * 128000 / 44100;
    std::string frames;
    for (int i = 0; i < count; ++i) {
        std::string frame(static_cast<std::size_t>(length), '\0');
        frame[0] = static_cast<char>(0xFF);
        frame[1] = static_cast<char>(layer == 1 ? 0xFF : 0xFD);  // MPEG-1, the layer, no CRC
        frame[2] = static_cast<char>(layer == 1 ? 0x40 : 0x80);  // 128 kbit/s, 44100 Hz
        frame[3] = static_cast<char>(0xC0);                      // one channel
        frames += frame;
    }
    return frames;
}

// An MP3 stream inside a WAV container (format tag 0x55).
std::string mp3InWav(const std::string& scratchMp3)
{
    EXPECT_TRUE(writeSound(scratchMp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 1, 44100,
                           testSignal(44100, 1, 44100)));
    const std::string mp3 = readFile(scratchMp3);
    std::string fmt = "fmt ";
    put32(fmt, 30);
    put16(fmt, 0x55);  // MPEG layer 3
    put16(fmt, 1);
    put32(fmt, 44100);
    put32(fmt, 16000);
    put16(fmt, 1);
    put16(fmt, 0);
    put16(fmt, 12);
    put16(fmt, 1);  // MPEGLAYER3WAVEFORMAT: id, flags, block size, frames per block, codec delay
    put32(fmt, 2);
    put16(fmt, 418);
    put16(fmt, 1);
    put16(fmt, 1393);
    std::string wav = "RIFF";
    put32(wav, static_cast<std::uint32_t>(4 + fmt.size() + 8 + mp3.size()));
    wav += "WAVE" + fmt + "data";
    put32(wav, static_cast<std::uint32_t>(mp3.size()));
    return wav + mp3;
}

}  // namespace

// Long Vorbis files, mono and stereo. The encoder puts a buffer as long as
// one call's samples on the stack, so one call for a whole output overflowed
// an 8 MiB stack at about 47 s of 44.1 kHz sound; here the stack is 1 MiB
// and the files are 10 s long, past the same limit for that stack.
TEST(Formats, LongVorbisFilesAreWrittenInBlocks)
{
    for (int channels : {1, 2}) {
        ScratchDir dir;
        constexpr int rate = 44100, frames = 10 * 44100;
        ASSERT_TRUE(writeSound(dir.file("x.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, channels, rate,
                               testSignal(frames, channels, rate)));
        const RunResult r = runChild({{"x.ogg", "1", "-f", "1024", "-i", "2", "-s"}, dir.path(),
                                      {{RLIMIT_STACK, 1 << 20}, {RLIMIT_CORE, 0}}});
        ASSERT_FALSE(r.signalled) << channels << " channels: killed by " << strsignal(r.signal);
        ASSERT_EQ(r.status, 0) << r.out;
        for (const char* out : {"x-residual.ogg", "x-0.ogg"}) {
            const Sound s = readSound(dir.file(out));
            EXPECT_EQ(s.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS) << out;
            EXPECT_EQ(s.info.channels, channels) << out;
            EXPECT_EQ(s.info.frames, expectedFrames(frames, 2048, 4)) << out;
        }
        EXPECT_EQ(names(snapshot(dir.path())), (std::vector<std::string>{"x-0.ogg", "x-residual.ogg", "x.ogg"}));
    }
}

// Writing in blocks gives the same file, byte for byte, as the library's own
// writing of all samples in one call (as earlier versions did), and reading
// in blocks gives the same samples. (Not so for Vorbis, whose encoder works
// on what each call hands it: its outputs now come from the same blocks
// whatever their length.)
TEST(Formats, BlocksGiveTheBytesOfOneCall)
{
    // Amplitudes beyond full scale where the library's own clipping applies.
    const std::pair<int, double> formats[] = {
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.2},    {SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1.2},
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 1.2},   {SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 1.2},
        {SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 0.9}, {SF_FORMAT_WAV | SF_FORMAT_ULAW, 0.9}};
    for (const auto& [format, amplitude] : formats) {
        for (int channels : {1, 2}) {
            ScratchDir dir;
            // Over three blocks of the program's reads and writes.
            const std::vector<float> samples = testSignal(40000, channels, 8000, amplitude);
            SF_INFO info = recordOf(format, channels, 8000);
            SNDFILE* f = sf_open(dir.file("one.x").c_str(), SFM_WRITE, &info);
            ASSERT_NE(f, nullptr) << format;
            sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
            sf_command(f, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
            sf_write_float(f, samples.data(), static_cast<sf_count_t>(samples.size()));
            sf_close(f);

            writeSoundFile(dir.file("blocks.x"), recordOf(format, channels, 8000), channelsOf(samples, channels));
            EXPECT_EQ(readFile(dir.file("blocks.x")), readFile(dir.file("one.x")))
                << std::hex << format << std::dec << ", " << channels << " channels";

            const InputSound in = readSoundFile(dir.file("one.x"));
            const Sound whole = readSound(dir.file("one.x"));
            ASSERT_EQ(in.channels.size(), static_cast<std::size_t>(channels));
            bool same = static_cast<std::size_t>(in.channels[0].length()) * channels == whole.samples.size();
            for (std::size_t i = 0; same && i < whole.samples.size(); ++i)
                same = bits(in.channels[i % channels][static_cast<int>(i / channels)]) == bits(whole.samples[i]);
            EXPECT_TRUE(same) << std::hex << format;
        }
    }
}

// A 440 Hz sine at 1.49 times full scale in every writable encoding, at
// 8000 Hz: within the band of the speech codecs, and whole blocks of SDS,
// which leaves out a last partial one. Read back, every sample beyond 3/4 of
// full scale keeps its sign and at least a quarter of full scale (G.721,
// G.723 and NMS ADPCM clipped at full scale gave over a third of them back
// with the opposite sign; u-law once stored 1.49 as -0.73). The float
// encodings keep the values beyond full scale. Every other encoding but those
// predictive speech codecs, which are clipped below full scale, stores the
// bytes of the same sine clipped at +-1.0 beforehand: PCM, FLAC, ALAC and the
// other lossless encodings give back every in-range sample exactly.
TEST(Formats, EveryIntegerEncodingClipsWithoutWrapping)
{
    constexpr int rate = 8000, frames = 7200;
    std::vector<float> loud(frames), clipped(frames);
    for (int i = 0; i < frames; ++i) {
        const auto at = static_cast<std::size_t>(i);
        loud[at] = static_cast<float>(1.49 * std::sin(2.0 * M_PI * 440.0 * i / rate));
        clipped[at] = std::clamp(loud[at], -1.0f, 1.0f);
    }
    int tested = 0;
    for (const Encoding& e : everyEncoding()) {
        const SF_INFO info = recordOf(e.format, 1, rate);
        try {
            checkWritable(info, "x");
        } catch (const RunError&) {
            continue;  // not written at all; see the next test
        }
        ScratchDir dir;
        const std::string path = dir.file("loud." + e.extension);
        writeSoundFile(path, info, channelsOf(loud, 1));
        const Sound back = readSound(path);
        ASSERT_GE(back.samples.size(), static_cast<std::size_t>(frames)) << e.name;
        ++tested;

        if (storesFloats(e.format)) {
            EXPECT_GT(*std::max_element(back.samples.begin(), back.samples.end()), 1.2f) << e.name << " clipped";
            continue;
        }
        int wrong = 0;
        for (int i = rate / 10; i < frames; ++i) {  // after the first tenth of a second, where codecs settle
            const float x = loud[static_cast<std::size_t>(i)], y = back.samples[static_cast<std::size_t>(i)];
            if (std::fabs(x) > 0.75f && !(x * y > 0.0f && std::fabs(y) >= 0.25f))
                ++wrong;
        }
        EXPECT_EQ(wrong, 0) << e.name << ": loud samples turned over";
        const int encoding = e.format & SF_FORMAT_SUBMASK;
        if (encoding == SF_FORMAT_G721_32 || encoding == SF_FORMAT_G723_24 || encoding == SF_FORMAT_G723_40 ||
            encoding == SF_FORMAT_NMS_ADPCM_16 || encoding == SF_FORMAT_NMS_ADPCM_24 ||
            encoding == SF_FORMAT_NMS_ADPCM_32)
            continue;
        writeSoundFile(dir.file("clipped." + e.extension), info, channelsOf(clipped, 1));
        EXPECT_EQ(readFile(path), readFile(dir.file("clipped." + e.extension))) << e.name;
    }
    EXPECT_GT(tested, 100);
}

// Formats the library reads but cannot write, and Sound Designer II, whose
// header lives in a second file: refused before the work with the reason,
// and nothing is written; a run that writes no sound learns from them.
TEST(Formats, UnwritableInputFormatsAreRefusedBeforeTheWork)
{
    struct Case {
        const char* what;
        std::string input;
    };
    const Case cases[] = {
        {"MPEG layer I", "x.mp1"}, {"MPEG layer II", "x.mp2"}, {"MP3 inside WAV", "x.wav"}, {"Sound Designer II", "x.sd2"}};
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string path = dir.file(c.input);
        if (c.input == "x.mp1")
            writeBytes(path, silentMpegFrames(1, 300));
        else if (c.input == "x.mp2")
            writeBytes(path, silentMpegFrames(2, 100));
        else if (c.input == "x.wav")
            writeBytes(path, mp3InWav(dir.file("scratch.mp3")));
        else
            ASSERT_TRUE(writeSound(path, SF_FORMAT_SD2 | SF_FORMAT_PCM_16, 1, 8000, testSignal(8000, 1, 8000)));
        std::remove(dir.file("scratch.mp3").c_str());
        ASSERT_GT(readSound(path).info.frames, 0) << c.what << ": the library does not read the input";

        const Snapshot before = snapshot(dir.path());
        const RunResult r = runTessavo({c.input, "2", "-f", "256", "-i", "3"}, dir.path());
        EXPECT_EQ(r.status, 1) << c.what;
        const std::string first = "Not able to write output files in the format of input file " + c.input + "\n";
        EXPECT_EQ(r.out.substr(0, first.size()), first) << c.what << ": " << r.out;
        EXPECT_GT(r.out.size(), first.size()) << c.what << ": no reason given";
        EXPECT_EQ(r.out.find("objective"), std::string::npos) << c.what;
        EXPECT_EQ(snapshot(dir.path()), before) << c.what;

        const RunResult learn = runTessavo({c.input, "2", "-f", "256", "-i", "3", "-s", "-m", "--no-sounds"}, dir.path());
        EXPECT_EQ(learn.status, 0) << c.what << ": " << learn.out;
        EXPECT_GT(readFile(path + "-H.txt").size(), 0u) << c.what;
    }
}

// Ogg streams carry a serial number that the sound library draws from the
// clock; the program fixes it, so that two runs give the same bytes, and the
// files stay readable (every page's checksum is made right again).
TEST(Formats, OggOutputsAreTheSameOnEveryRun)
{
    for (int encoding : {SF_FORMAT_VORBIS, SF_FORMAT_OPUS}) {
        ScratchDir dir;
        const int rate = encoding == SF_FORMAT_OPUS ? 48000 : 44100;
        ASSERT_TRUE(writeSound(dir.file("x.ogg"), SF_FORMAT_OGG | encoding, 2, rate, testSignal(3 * rate, 2, rate)));
        std::string first;
        for (int run = 0; run < 2; ++run) {
            const RunResult r = runTessavo({"x.ogg", "1", "-f", "1024", "-i", "2", "-s"}, dir.path());
            ASSERT_EQ(r.status, 0) << r.out;
            const std::string bytes = readFile(dir.file("x-residual.ogg")) + readFile(dir.file("x-0.ogg"));
            if (run == 0)
                first = bytes;
            else
                EXPECT_EQ(bytes == first, true) << "the second run gave other bytes";
        }
        for (const char* out : {"x-residual.ogg", "x-0.ogg"}) {
            const Sound s = readSound(dir.file(out));
            EXPECT_EQ(s.info.format, SF_FORMAT_OGG | encoding) << out;
            EXPECT_EQ(s.info.frames, expectedFrames(3 * rate, 2048, 4)) << out;
        }
    }
}
