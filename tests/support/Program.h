#pragma once
// Runs the built tessavo binary as a user would, and makes and reads real
// sound files with libsndfile.

#include <sndfile.h>

#include <string>
#include <vector>

namespace tessavo::test {

struct RunResult {
    int status = -1;       // exit status, or 128 + signal number
    bool signalled = false;
    std::string out;       // standard output
    std::string err;       // standard error
};

// Small transform sizes for quick runs: transform 512, hop 128, 3 passes.
inline const std::vector<std::string> kSmallRun = {"-f", "256", "-i", "3"};

// head followed by tail (by default the small sizes above).
std::vector<std::string> withOptions(std::vector<std::string> head, const std::vector<std::string>& tail = kSmallRun);

// Samples that the resynthesis of an S-sample input gives: one analysis row
// per hop plus one, times the hop.
int expectedFrames(int samples, int n, int overlap);

// Runs tessavo with args in folder dir.
RunResult runTessavo(const std::vector<std::string>& args, const std::string& dir);

struct Sound {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved
};

// Writes interleaved samples in the given format; returns false on failure.
bool writeSound(const std::string& path, int format, int channels, int rate, const std::vector<float>& samples);
// Reads a whole sound file; info.frames is 0 and samples empty when it fails.
Sound readSound(const std::string& path);

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
std::string sha256(const std::string& path);

// A few seconds' worth of deterministic test signal: two tones and a decaying
// click train, scaled to amplitude.
std::vector<float> testSignal(int frames, int channels, int rate, double amplitude = 0.5);

}  // namespace tessavo::test
