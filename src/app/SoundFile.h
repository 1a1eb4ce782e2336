#pragma once
// Sound file input and output through libsndfile, as 32-bit float samples
// (+-1.0 full scale). Every output takes the input's container, encoding and
// sample rate from the record that the input open filled.

#include "spectral/SampleBuffer.h"

#include <sndfile.h>

#include <string>
#include <vector>

namespace tessavo {

// The input's record and one buffer per channel (left first for stereo).
struct InputSound {
    SF_INFO info{};
    std::vector<SampleBuffer> channels;
};

// Opens, checks and reads the whole input in one library call. Throws
// RunError with the user's message when the file cannot be opened, has more
// than 2 channels or more frames than a 32-bit count can hold.
InputSound readSoundFile(const std::string& filename);

// Position of the '.' that starts the extension of filename: the last '.' of
// the last path component, not counting a leading one. npos when there is none.
std::size_t dotPosition(const std::string& filename);

// filename with suffix inserted at the dot position, or appended when there
// is no extension: song.wav + "-0" gives song-0.wav; song gives song-0.
std::string outputName(const std::string& filename, std::size_t dot, const std::string& suffix);

// Writes one channel (mono) or two (stereo, interleaved left first) to name,
// in the record's format and sample rate, in one library call. The file
// appears whole or not at all. Integer encodings clip samples beyond +-1.0.
// Throws RunError when the file cannot be created, written or closed.
// A stereo write interleaves into scratch, which is reused when it has the
// right length already.
void writeSoundFile(const std::string& name, const SF_INFO& record, const std::vector<SampleBuffer>& channels,
                    SampleBuffer* scratch = nullptr);

}  // namespace tessavo
