#include "app/SoundFile.h"

#include "app/MemoryFile.h"
#include "app/OggSerial.h"
#include "app/StreamSpool.h"
#include "app/RunError.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tessavo {

namespace {

// Frames per library call, for reading and for writing.
constexpr int kBlockFrames = 16384;

// Closes a library handle on every path out of a scope.
class SoundHandle {
public:
    explicit SoundHandle(SNDFILE* handle) : handle_(handle) {}
    ~SoundHandle() { close(); }
    SoundHandle(const SoundHandle&) = delete;
    SoundHandle& operator=(const SoundHandle&) = delete;

    SNDFILE* get() const { return handle_; }
    // Returns the library's result; the handle is gone afterwards.
    int close()
    {
        const int result = handle_ ? sf_close(handle_) : 0;
        handle_ = nullptr;
        return result;
    }

private:
    SNDFILE* handle_;
};

// Encodings that store floats keep values beyond full scale.
bool storesFloats(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

struct SampleRange {
    float low, high;
};

// The smallest and largest samples the program hands to the library for
// format, so that no sample beyond full scale turns into its opposite (u-law
// used to store 1.49 as -0.73). Plain PCM is clipped by the library itself
// (SFC_SET_CLIPPING) and the float encodings keep every value: +-infinity,
// no clipping here. DWVW, 24-bit PAF and SDS scale to 32 bits, where 1.0
// itself wraps: they stop at the largest float below it. G.721, G.723 and
// NMS ADPCM predict each sample from the last ones; near full scale their
// reconstruction overshoots and wraps. Found by measurement (libsndfile 1.2,
// mono, 8000 Hz), the lowest clip level at which sines of 100 to 3400 Hz at
// 1 to 10 times full scale, square waves or steps to full-scale DC come back
// with loud samples of the opposite sign:
//   G.721 32 kbit/s      0.71 sines, 0.70 squares, 0.92 DC steps
//   G.723 24 kbit/s      0.68 sines, 0.62 squares, 0.85 DC steps
//   G.723 40 kbit/s      0.79 sines, 0.65 squares, 0.94 DC steps
//   NMS ADPCM 16/24/32   1.0 itself (and the largest float below it)
// so each is clipped 0.05 to 0.07 below (NMS ADPCM at 0.99). Loud noise,
// clipped, can still wrap a few samples a second there; it stops doing so
// only at 0.5 (0.4 for G.723 at 24 kbit/s), which would flatten much loud
// sound that comes back whole at these levels. The other encodings keep the
// sign at full scale: where u-law, A-law, IMA and MS ADPCM, GSM 6.10, DPCM or
// ALAC err there (lag after a full-scale step, ringing at sharp edges), they
// err about as much at half the level. (Frames of 32-bit ALAC that the
// encoder stores uncompressed, loud noise-like sound in range or not, are
// read back wrong by libsndfile 1.2 at any level; the files are right.)
SampleRange sampleRange(int format)
{
    const float none = std::numeric_limits<float>::infinity();
    const float belowOne = std::nextafter(1.0f, 0.0f);
    if (storesFloats(format))
        return {-none, none};
    const int container = format & SF_FORMAT_TYPEMASK;
    const int encoding = format & SF_FORMAT_SUBMASK;
    switch (encoding) {
    case SF_FORMAT_G721_32:
        return {-0.65f, 0.65f};
    case SF_FORMAT_G723_24:
        return {-0.55f, 0.55f};
    case SF_FORMAT_G723_40:
        return {-0.6f, 0.6f};
    case SF_FORMAT_NMS_ADPCM_16:
    case SF_FORMAT_NMS_ADPCM_24:
    case SF_FORMAT_NMS_ADPCM_32:
        return {-0.99f, 0.99f};
    case SF_FORMAT_DWVW_12:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_DWVW_N:
        return {-1.0f, belowOne};
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_PCM_U8:
        if (container == SF_FORMAT_SDS || (container == SF_FORMAT_PAF && encoding == SF_FORMAT_PCM_24))
            return {-1.0f, belowOne};
        return {-none, none};
    default:
        return {-1.0f, 1.0f};
    }
}

}  // namespace

SoundInput::SoundInput(const std::string& filename) : filename_(filename)
{
    // The record is all zero, as the library asks for non-raw input.
    if (isStream(filename)) {
        spool_ = std::make_unique<MemoryFile>();
        file_ = openSpooled(filename, *spool_, info_);
    } else {
        file_ = sf_open(filename.c_str(), SFM_READ, &info_);
    }
    if (!file_)
        throw RunError("Not able to open input file " + filename + "\n" + sf_strerror(nullptr));
    try {
        if (info_.channels > 2)
            throw RunError("Not able to process more than " + std::to_string(2) + " channels\n");
        if (info_.channels < 1)
            throw RunError("Not able to process " + std::to_string(info_.channels) + " channels\n");
        // Sample counts are 32-bit, and a stereo pair of them too.
        const sf_count_t limit = std::numeric_limits<int>::max() / info_.channels;
        if (lengthKnown() && (info_.frames < 0 || info_.frames > limit))
            throw RunError("Not able to process input file " + filename + ": more than " + std::to_string(limit) +
                           " frames\n");
    } catch (...) {
        sf_close(file_);
        throw;
    }
}

SoundInput::~SoundInput()
{
    if (file_)
        sf_close(file_);
}

InputSound SoundInput::read(const Growth& growing)
{
    InputSound input;
    input.info = info_;
    const int channels = info_.channels;
    const long long limit = std::numeric_limits<int>::max() / channels;
    long long capacity = lengthKnown() ? info_.frames : 0;
    for (int c = 0; c < channels; ++c)
        input.channels.emplace_back(static_cast<int>(capacity));

    std::vector<float> block(channels == 1 ? 0 : static_cast<std::size_t>(kBlockFrames) * channels);
    long long have = 0;
    for (;;) {
        long long want = kBlockFrames;
        if (lengthKnown()) {
            want = std::min(want, capacity - have);
            if (want <= 0)
                break;
        } else if (have + want > capacity) {
            if (have >= limit)
                throw RunError("Not able to process input file " + filename_ + ": more than " +
                               std::to_string(limit) + " frames\n");
            const long long next = std::min(limit, std::max(2 * capacity, have + want));
            if (growing)
                growing(next);
            for (SampleBuffer& buffer : input.channels)
                buffer.resize(static_cast<int>(next));
            capacity = next;
            want = std::min(want, capacity - have);
        }
        // A short read is not an error: undelivered samples stay 0.0.
        if (channels == 1) {
            const sf_count_t got = sf_readf_float(file_, input.channels[0].data() + have, want);
            if (got <= 0)
                break;
            have += got;
            continue;
        }
        const sf_count_t got = sf_readf_float(file_, block.data(), want);
        if (got <= 0)
            break;
        float* left = input.channels[0].data() + have;
        float* right = input.channels[1].data() + have;
        for (sf_count_t i = 0; i < got; ++i) {
            left[i] = block[static_cast<std::size_t>(2 * i)];
            right[i] = block[static_cast<std::size_t>(2 * i + 1)];
        }
        have += got;
    }
    sf_close(file_);
    file_ = nullptr;
    spool_.reset();

    if (!lengthKnown()) {
        for (SampleBuffer& buffer : input.channels)
            buffer.resize(static_cast<int>(have));
        input.info.frames = have;
    }
    return input;
}

InputSound readSoundFile(const std::string& filename)
{
    return SoundInput(filename).read();
}

const std::vector<OutputEncoding>& outputEncodings()
{
    static const std::vector<OutputEncoding> encodings{{"pcm16", SF_FORMAT_PCM_16},
                                                       {"pcm24", SF_FORMAT_PCM_24},
                                                       {"pcm32", SF_FORMAT_PCM_32},
                                                       {"float", SF_FORMAT_FLOAT},
                                                       {"double", SF_FORMAT_DOUBLE}};
    return encodings;
}

std::string usualExtension(int format)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    // Where the library's own word is not the one people use.
    if (major == SF_FORMAT_OGG)
        return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? "opus" : "ogg";
    if (major == SF_FORMAT_RF64)
        return "wav";
    if (major == SF_FORMAT_NIST)
        return "sph";
    if (major == SF_FORMAT_MPEG)
        return "mp3";
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.extension)
        return info.extension;
    return "snd";
}

SF_INFO outputRecord(const SF_INFO& input, const std::string& encoding, const std::string& filename)
{
    if (encoding.empty())
        return input;
    const auto& all = outputEncodings();
    const auto found = std::find_if(all.begin(), all.end(), [&](const OutputEncoding& e) { return encoding == e.name; });
    if (found == all.end())
        throw RunError("Not able to write encoding " + encoding + ": it is not one of pcm16, pcm24, pcm32, float and double\n");
    SF_INFO record = input;
    // The container and its byte order stay; only the encoding changes.
    record.format = (input.format & ~SF_FORMAT_SUBMASK) | found->subtype;
    if (!sf_format_check(&record)) {
        SF_FORMAT_INFO container{};
        container.format = input.format & SF_FORMAT_TYPEMASK;
        const bool named = sf_command(nullptr, SFC_GET_FORMAT_INFO, &container, sizeof container) == 0 && container.name;
        throw RunError("Not able to write encoding " + encoding + " in " + (named ? container.name : "the container") +
                       ", the format of input file " + filename + "\n");
    }
    return record;
}

void checkWritable(const SF_INFO& record, const std::string& filename)
{
    const std::string failure = "Not able to write output files in the format of input file " + filename + "\n";
    if ((record.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_SD2)
        throw RunError(failure + "Sound Designer II keeps its header in a second file beside the sound, which is "
                                 "not written here: convert the input to another format first");
    SF_VIRTUAL_IO io = MemoryFile::io();
    MemoryFile memory;
    SF_INFO info = record;
    info.frames = 0;
    SoundHandle trial(sf_open_virtual(&io, SFM_WRITE, &info, &memory));
    if (!trial.get())
        throw RunError(failure + sf_strerror(nullptr));
    const std::vector<float> silence(static_cast<std::size_t>(kBlockFrames) * info.channels, 0.0f);
    if (sf_writef_float(trial.get(), silence.data(), kBlockFrames) != kBlockFrames) {
        const std::string reason = sf_strerror(trial.get());
        throw RunError(failure + reason);
    }
    if (trial.close() != 0)
        throw RunError(failure + sf_strerror(nullptr));
}

SoundWriter::SoundWriter(PendingFile& file, const SF_INFO& record, int channels, int frames)
    : file_(file), info_(record), failure_("Not able to write output file " + file.finalName() + "\n")
{
    info_.channels = channels;
    info_.frames = frames;
    file_.open();
    handle_ = sf_open_fd(file_.descriptor(), SFM_WRITE, &info_, SF_FALSE);
    if (!handle_)
        throw RunError("Not able to open output file " + file_.finalName() + "\n" + sf_strerror(nullptr));
    sf_command(handle_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The float formats' peak chunk carries the time of writing; without it
    // the same input and options give the same bytes on every run.
    sf_command(handle_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    top_ = sampleRange(info_.format).high;
    clip_ = top_ != std::numeric_limits<float>::infinity();
    if (channels > 1 || clip_)
        block_.resize(static_cast<std::size_t>(kBlockFrames) * channels);
}

SoundWriter::~SoundWriter()
{
    if (handle_)
        sf_close(handle_);
}

void SoundWriter::write(const float* const* channels, int frames)
{
    const int width = info_.channels;
    const float low = sampleRange(info_.format).low;
    for (int pos = 0; pos < frames; pos += kBlockFrames) {
        const int m = std::min(kBlockFrames, frames - pos);
        const float* samples = channels[0] + pos;
        if (!block_.empty()) {
            for (int c = 0; c < width; ++c) {
                const float* from = channels[c] + pos;
                for (int i = 0; i < m; ++i) {
                    const float v = from[i];
                    block_[static_cast<std::size_t>(i * width + c)] = clip_ ? std::clamp(v, low, top_) : v;
                }
            }
            samples = block_.data();
        }
        if (sf_writef_float(handle_, samples, m) != m) {
            const std::string reason = sf_strerror(handle_);
            throw RunError(failure_ + reason);
        }
    }
}

void SoundWriter::finish()
{
    SNDFILE* handle = handle_;
    handle_ = nullptr;
    if (sf_close(handle) != 0)
        throw RunError(failure_ + sf_strerror(nullptr));
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG && !fixOggSerial(file_.descriptor(), file_.finalName()))
        throw RunError(failure_ + "its Ogg pages could not be read back");
    file_.finish();
}

void writeSound(PendingFile& file, const SF_INFO& record, const std::vector<SampleBuffer>& channels)
{
    const int n = channels.empty() ? 0 : channels[0].length();
    SoundWriter writer(file, record, static_cast<int>(channels.size()), n);
    std::vector<const float*> signals;
    for (const SampleBuffer& c : channels)
        signals.push_back(c.data());
    writer.write(signals.data(), n);
    writer.finish();
}

void writeSoundFile(const std::string& name, const SF_INFO& record, const std::vector<SampleBuffer>& channels)
{
    PendingFile file(name);
    writeSound(file, record, channels);
    file.commit();
}

}  // namespace tessavo
