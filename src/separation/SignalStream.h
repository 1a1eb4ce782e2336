#pragma once
// Where an output's samples go as the resynthesis completes them: in order,
// block by block, from one thread at a time.

namespace tessavo {

class SignalStream {
public:
    virtual ~SignalStream() = default;
    // The next frames samples of every channel: channels[c] points at
    // channel c's (left first for stereo).
    virtual void write(const float* const* channels, int frames) = 0;
    // Every sample has been written.
    virtual void finish() = 0;
};

}  // namespace tessavo
