// Arbitrary bytes as the input sound file, through everything the program
// does with one: reading, the check for finite samples, then the program's
// separation pipeline with the fast engine (analysis, a short factorisation,
// resynthesis of the residual and of every component) and with the plain
// one, which must give the same bits.
// A small transform and few update pairs keep each input to milliseconds.
//
// RunError is the program's answer to a file it cannot use; anything else
// that escapes, and every sanitizer report, is a finding.

#include "app/RunError.h"
#include "app/SoundFile.h"
#include "core/Matrix.h"
#include "separation/Pipeline.h"
#include "separation/SeparationError.h"
#include "spectral/SampleBuffer.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Keeps what a separation delivers, to compare one engine with the other.
class Collected : public WholeOutputSink {
public:
    void factors(const Matrix& w, const Matrix& h) override
    {
        w_ = w.clone();
        h_ = h.clone();
    }
    void output(int, const std::vector<SampleBuffer>& channels) override
    {
        for (const SampleBuffer& c : channels)
            samples_.insert(samples_.end(), c.data(), c.data() + c.length());
    }
    bool sameAs(const Collected& other) const
    {
        const auto same = [](const void* a, const void* b, std::size_t bytes) {
            return bytes == 0 || std::memcmp(a, b, bytes) == 0;
        };
        return w_.size() == other.w_.size() && h_.size() == other.h_.size() &&
               samples_.size() == other.samples_.size() &&
               same(w_.data(), other.w_.data(), sizeof(double) * static_cast<std::size_t>(w_.size())) &&
               same(h_.data(), other.h_.data(), sizeof(double) * static_cast<std::size_t>(h_.size())) &&
               same(samples_.data(), other.samples_.data(), sizeof(float) * samples_.size());
    }

private:
    Matrix w_, h_;
    std::vector<float> samples_;
};

// The program's own pipeline, once with each engine; the two must agree to
// the last bit.
void separate(const std::string& name)
{
    InputSound input = readSoundFile(name);
    if (!allFinite(input))
        return;  // the program rejects these before the analysis
    // The input's length picks the loss, the reconstruction and the padding,
    // so that the corpus reaches every engine and every kind of output.
    const long long frames = input.info.frames;
    const SeparationSettings settings{{kTransform, kOverlap, frames % 8 >= 4},
                                      {kUpdatePairs, -1.0},
                                      kComponents,
                                      2,
                                      frames % 3 == 0 ? Loss::euclidean : frames % 3 == 1 ? Loss::kl : Loss::is,
                                      Matrix(),
                                      {},
                                      frames % 4 < 2 ? MaskMode::direct : MaskMode::soft};
    std::vector<SampleBuffer> copy;
    for (const SampleBuffer& c : input.channels) {
        copy.emplace_back(c.length());
        std::copy(c.data(), c.data() + c.length(), copy.back().data());
    }
    Collected plain, fast;
    bool plainOverflowed = false, fastOverflowed = false;
    try {
        tessavo::separate(std::move(input.channels), settings, Engine::plain, nullptr, plain);
    } catch (const OverflowError&) {
        plainOverflowed = true;
    }
    try {
        tessavo::separate(std::move(copy), settings, Engine::fast, nullptr, fast);
    } catch (const OverflowError&) {
        fastOverflowed = true;
    }
    if (plainOverflowed != fastOverflowed || !plain.sameAs(fast)) {
        std::fprintf(stderr, "the fast engine differs from the plain one\n");
        std::abort();
    }
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
    } catch (const SeparationError&) {
        // Too many components for this file's frames: also the program's answer.
    }
    return 0;
}
