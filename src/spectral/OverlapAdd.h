#pragma once
// Overlap-add of one signal's frames as they come, giving each sample as
// soon as no later frame can reach it: a long output is never held whole.
//
// Frame e covers samples e * hop - skip .. e * hop - skip + length - 1 of
// the signal. Samples no frame covers are 0.0f. The signal ends after total
// samples, whatever the frames cover.
// - Plain sums: each sample is 0.0f plus the frames over it in frame order,
//   as adding every frame into a whole buffer of zeros gives.
// - Normalised: each sample is the frames over it summed in double
//   precision from 0.0 in frame order, divided by the squares of their
//   window coefficients summed in the same way, rounded to float (0.0f where
//   that sum is 0); the first skip samples are dropped. Stft's padded
//   resynthesis gives the same numbers from whole buffers. When every
//   sample given lies under length / hop frames, all of them added (a padded
//   resynthesis whose hop divides the length), the squares' sum depends only
//   on the sample's place between two frame starts: it is summed once per
//   place, in the same order, instead of frame by frame.

#include <vector>

namespace tessavo {

class OverlapAdd {
public:
    // Plain sums.
    OverlapAdd(int length, int hop, int total);
    // Normalised by window (length coefficients); covered: every sample
    // given lies under length / hop frames, as above.
    OverlapAdd(int length, int hop, int total, const float* window, int skip, bool covered);

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
    void drop(int count);

    int length_;
    int hop_;
    int total_;
    int skip_ = 0;
    int given_ = 0;
    int head_ = 0;                  // where the ring of pending samples starts
    long long place_ = 0;           // the head's sample counted from the first frame's start
    bool normalised_ = false;
    // Samples given_ .. given_ + length - 1, as a ring from head_.
    std::vector<float> pending_;    // plain: their sums
    std::vector<double> sums_;      // normalised: their sums
    std::vector<double> weights_;   // and their squared windows' sums
    std::vector<double> squares_;   // each window coefficient squared
    std::vector<double> period_;    // covered: the squares' sum at each place after a frame start
};

}  // namespace tessavo
