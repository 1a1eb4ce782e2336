#pragma once
// Sound file input and output through libsndfile, as 32-bit float samples
// (+-1.0 full scale). Every output takes the input's container and sample
// rate from the record that the input open filled, and its encoding too
// unless the run names another.
//
// Samples travel in blocks of a bounded size, whatever the file's length:
// some encoders (Vorbis) put a buffer as long as one call's samples on the
// stack.

#include "app/PendingFile.h"
#include "spectral/SampleBuffer.h"

#include <sndfile.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessavo {

struct MemoryFile;

// The input's record and one buffer per channel (left first for stereo).
struct InputSound {
    SF_INFO info{};
    std::vector<SampleBuffer> channels;
};

// An input that is open and checked but not read yet: its record tells what
// the run will hold before any sample is held.
class SoundInput {
public:
    // Opens and checks filename ("-": standard input). A sound that arrives
    // through a pipe, a FIFO or a device is read whole into memory first,
    // since the library reads some formats (FLAC, Ogg) only from a file it
    // can seek in. Throws RunError with the user's message when
    // it cannot be opened, has more than 2 channels, or (with a known length)
    // more frames than a 32-bit count can hold.
    explicit SoundInput(const std::string& filename);
    ~SoundInput();
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;

    const SF_INFO& info() const { return info_; }
    // False for a stream (a pipe, a FIFO): its header's length is only a
    // claim, and the samples are counted as they arrive.
    bool lengthKnown() const { return info_.seekable != 0; }

    // Called with a frame count before the buffers of a stream grow to it;
    // throws to stop the read.
    using Growth = std::function<void(long long frames)>;
    // Reads every sample and closes the file. With a known length the
    // buffers have the header's length, and samples the library does not
    // deliver stay 0.0; a stream's buffers hold what arrived.
    InputSound read(const Growth& growing = {});

private:
    std::string filename_;
    SF_INFO info_{};
    std::unique_ptr<MemoryFile> spool_;  // a stream's bytes, while the library reads them
    SNDFILE* file_ = nullptr;
};

// Opens, checks and reads the whole input.
InputSound readSoundFile(const std::string& filename);

// The extension people give files of the container in format (the
// library's SF_FORMAT_ code): wav, flac, ogg, opus, aiff, ...
std::string usualExtension(int format);

// Throws RunError ("Not able to write output files in the format of input
// file " + filename, a line end and the reason) unless the library really
// writes files in record's format: a writer is opened in memory and given a
// few samples. Sound Designer II is refused, since it keeps its header in a
// second file beside the sound.
void checkWritable(const SF_INFO& record, const std::string& filename);

// An encoding that --encoding names: the same word for every container.
struct OutputEncoding {
    const char* name;
    int subtype;  // the library's SF_FORMAT_ encoding
};

// The encodings the outputs can be given, in the order the help lists them:
// pcm16, pcm24, pcm32, float, double.
const std::vector<OutputEncoding>& outputEncodings();

// The record of the outputs: input's, with the encoding of that name in the
// same container, or input itself when encoding is empty. Throws RunError
// (one line naming the encoding and the container) when the container has
// no such encoding, or the name is none of outputEncodings().
SF_INFO outputRecord(const SF_INFO& input, const std::string& encoding, const std::string& filename);

// One output sound, written block by block as its samples come: one
// channel (mono) or two (stereo, interleaved left first), in the record's
// format and sample rate. Samples beyond +-1.0 are clipped unless the
// encoding stores floats (G.721, G.723 and NMS ADPCM below full scale,
// where they stop wrapping). Throws RunError ("Not able to write output file "
// + the final name, and the reason) on any failure; the caller commits the
// file after finish().
class SoundWriter {
public:
    // Opens file for channels channels of frames samples.
    SoundWriter(PendingFile& file, const SF_INFO& record, int channels, int frames);
    ~SoundWriter();
    SoundWriter(const SoundWriter&) = delete;
    SoundWriter& operator=(const SoundWriter&) = delete;

    // The next frames samples of each channel.
    void write(const float* const* channels, int frames);
    // Closes the file once every sample is written.
    void finish();

private:
    PendingFile& file_;
    SF_INFO info_;
    std::string failure_;
    SNDFILE* handle_ = nullptr;
    float top_ = 0.0f;
    bool clip_ = false;
    std::vector<float> block_;  // interleaved or clipped samples
};

// Writes one channel (mono) or two (stereo, interleaved left first) into
// file, in the record's format and sample rate, and closes it; the caller
// commits it. Samples beyond +-1.0 are clipped unless the encoding stores
// floats. Throws RunError ("Not able to write output file " + the final
// name, and the reason) on any failure.
void writeSound(PendingFile& file, const SF_INFO& record, const std::vector<SampleBuffer>& channels);

// The same for one file on its own: it appears whole or not at all.
void writeSoundFile(const std::string& name, const SF_INFO& record, const std::vector<SampleBuffer>& channels);

}  // namespace tessavo
