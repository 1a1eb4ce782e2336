#pragma once
// Overlap-add of one signal's frames as they come, giving each sample as
// soon as no later frame can reach it: a long output is never held whole.
//
// Frame e covers samples e * hop .. e * hop + length - 1. Each sample is
// 0.0f plus the frames over it in frame order, as adding every frame into a
// whole buffer of zeros gives; samples no frame covers are 0.0f. The signal
// ends after total samples, whatever the frames cover.

#include <vector>

namespace tessavo {

class OverlapAdd {
public:
    OverlapAdd(int length, int hop, int total);

    // Adds the next frame (length samples) and writes the samples it
    // completes, at most hop, to out. Returns how many it wrote.
    int add(const float* frame, float* out);
    // After the last frame: writes up to capacity of the samples not given
    // yet to out. Returns how many; 0 once all total samples are given.
    int drain(float* out, int capacity);

    // Samples given so far.
    int given() const { return given_; }

private:
    int take(float* out, int count);

    int length_;
    int hop_;
    int total_;
    int given_ = 0;
    std::vector<float> pending_;  // samples given_ .. given_ + length - 1
};

}  // namespace tessavo
