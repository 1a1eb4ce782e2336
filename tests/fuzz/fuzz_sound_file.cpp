// Arbitrary bytes as the input sound file, through everything the program
// does with one: reading, the check for finite samples, analysis, a short
// factorisation, and resynthesis of the residual and of every component.
// A small transform and few update pairs keep each input to milliseconds.
//
// RunError is the program's answer to a file it cannot use; anything else
// that escapes, and every sanitizer report, is a finding.

#include "app/RunError.h"
#include "app/SoundFile.h"
#include "factorisation/Matrix.h"
#include "factorisation/NmfFactoriser.h"
#include "separation/Recombination.h"
#include "spectral/SampleBuffer.h"
#include "spectral/Stft.h"

#include <sndfile.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tessavo;

namespace {

constexpr int kTransform = 64;
constexpr int kOverlap = 4;
constexpr int kComponents = 2;
constexpr int kUpdatePairs = 2;
// A longer input only repeats the same work on more frames, and would make
// the runs slow enough to starve the search.
constexpr sf_count_t kMaxFrames = 200000;

// readSoundFile takes a file name, so every input goes through one file of
// this process, removed when the fuzzer ends.
class ScratchFile {
public:
    ScratchFile() : name_("/tmp/fuzz_sound_file-" + std::to_string(static_cast<long>(getpid())) + ".bin") {}
    ~ScratchFile() { std::remove(name_.c_str()); }
    const std::string& name() const { return name_; }

    void write(const std::uint8_t* data, std::size_t size) const
    {
        std::FILE* f = std::fopen(name_.c_str(), "wb");
        const bool ok = f && std::fwrite(data, 1, size, f) == size;
        if (!f || std::fclose(f) != 0 || !ok) {
            std::perror(name_.c_str());
            std::abort();  // no input reaches the code under test: stop loudly
        }
    }

private:
    std::string name_;
};

const ScratchFile scratch;

// The frame count that the library reports, before anything is allocated
// for the samples.
sf_count_t reportedFrames(const std::string& name)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(name.c_str(), SFM_READ, &info);
    if (!f)
        return 0;
    sf_close(f);
    return info.frames;
}

bool allFinite(const InputSound& input)
{
    for (const SampleBuffer& channel : input.channels)
        for (int i = 0; i < channel.length(); ++i)
            if (!std::isfinite(channel[i]))
                return false;
    return true;
}

// One magnitude matrix back to sound, one buffer per input channel, as the
// program writes it.
void resynthesise(Stft& stft, const Matrix& x, const Matrix& theta, const std::vector<Matrix>& phases)
{
    if (phases.size() == 1) {
        stft.synthesise(x, phases[0]);
    } else {
        stft.synthesise(splitLeft(x, theta), phases[0]);
        stft.synthesise(splitRight(x, theta), phases[1]);
    }
}

void separate(const std::string& name)
{
    InputSound input = readSoundFile(name);
    if (!allFinite(input))
        return;  // the program rejects these before the analysis

    Stft stft(kOverlap, input.info.samplerate, kTransform, kTransform, 1.0f);
    Matrix v, theta;
    std::vector<Matrix> phases;
    if (input.channels.size() == 1) {
        Matrix phase;
        stft.analyse(input.channels[0], v, phase);
        phases.push_back(phase);
    } else {
        Matrix left, right, phaseL, phaseR;
        stft.analyse(input.channels[0], left, phaseL);
        stft.analyse(input.channels[1], right, phaseR);
        v = stereoMagnitude(left, right);
        theta = stereoAngle(left, right);
        phases = {phaseL, phaseR};
    }
    input.channels.clear();

    NmfFactoriser nmf(v, kComponents);
    for (int i = 0; i < kUpdatePairs; ++i) {
        nmf.updateW();
        nmf.updateH();
    }
    objective(nmf.v(), nmf.w(), nmf.h());

    resynthesise(stft, residualMagnitude(v, nmf.w(), nmf.h()), theta, phases);
    for (int k = 0; k < kComponents; ++k)
        resynthesise(stft, componentMagnitude(nmf.w(), nmf.h(), k), theta, phases);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    scratch.write(data, size);
    if (reportedFrames(scratch.name()) > kMaxFrames)
        return 0;
    try {
        separate(scratch.name());
    } catch (const RunError&) {
        // The program's own rejection of this file.
    }
    return 0;
}
