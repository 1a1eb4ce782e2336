#include "app/SeparationRun.h"

#include "app/MatrixFiles.h"
#include "app/MemoryBudget.h"
#include "app/OutputNames.h"
#include "app/OutputSet.h"
#include "app/RunError.h"
#include "app/Settings.h"
#include "app/SoundFile.h"
#include "separation/Pipeline.h"
#include "separation/SeparationError.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <thread>

namespace tessavo {

namespace {

void checkFinite(const InputSound& input, const std::string& filename)
{
    for (const SampleBuffer& channel : input.channels)
        if (!std::all_of(channel.data(), channel.data() + channel.length(), [](float x) { return std::isfinite(x); }))
            throw RunError("Not able to process input file " + filename +
                           ": it holds samples that are not finite numbers\n");
}

// Every output's name: sounds first (the residual, then component 0, 1,
// ...), then with matrixout the W and H files.
std::vector<std::string> outputList(const Settings& s, const OutputNames& names)
{
    std::vector<std::string> list{names.residual()};
    for (int k = 0; k < s.components; ++k)
        list.push_back(names.component(k));
    if (s.matrixout) {
        list.push_back(names.wFile());
        list.push_back(names.hFile());
    }
    return list;
}

// Writes what the separation delivers into the run's output files, each
// under its temporary name.
class FileSink : public SeparationSink {
public:
    FileSink(OutputSet& outputs, const SF_INFO& record, const Settings& s)
        : outputs_(outputs), record_(record), settings_(s)
    {
    }
    void factors(const Matrix& w, const Matrix& h) override
    {
        if (!settings_.matrixout)
            return;
        const auto first = static_cast<std::size_t>(settings_.components) + 1;
        writeMatrix(outputs_[first], w);
        writeMatrix(outputs_[first + 1], h);
    }
    void output(int index, const std::vector<SampleBuffer>& channels) override
    {
        writeSound(outputs_[static_cast<std::size_t>(index)], record_, channels);
    }

private:
    OutputSet& outputs_;
    const SF_INFO& record_;
    const Settings& settings_;
};

}  // namespace

int runSeparation(int argc, const char* const* argv)
{
    Settings s;
    parseSettings(argc, argv, s);
    const int threads =
        s.threads > 0 ? s.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    // Everything that can be known to fail is checked before the samples are
    // read: the format, the memory the run will hold, every output's name.
    SoundInput input(s.filename);
    const SF_INFO record = input.info();
    checkWritable(record, s.filename);
    RunShape shape{record.frames, record.channels, s.fftsize, s.overlap, s.components, threads};
    if (input.lengthKnown())
        checkMemory(shape);
    OutputSet outputs(outputList(s, OutputNames(s.filename)));

    InputSound sound = input.read([&](long long frames) {
        shape.frames = frames;
        checkMemory(shape);
    });
    checkFinite(sound, s.filename);

    const SeparationSettings settings{{s.fftsize, s.overlap, record.samplerate},
                                      {s.maxiterations, s.criteria},
                                      s.components,
                                      threads};
    FileSink sink(outputs, record, s);
    try {
        separate(std::move(sound.channels), settings, Engine::fast, s.verbose ? &std::cout : nullptr, sink);
    } catch (const OverflowError&) {
        throw RunError("Not able to process input file " + s.filename +
                       ": the numbers of its separation overflowed (its samples are too large)\n");
    }
    outputs.commit();
    return 0;
}

}  // namespace tessavo
