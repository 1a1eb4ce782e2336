// The separation done the plain way, one whole-matrix step after another,
// single-threaded: the program's own pipeline with the plain engine. It is
// the reference that the program's fast paths must match bit for bit, and
// the baseline their speed is measured against.
//
// Usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA
// (the transform size is the power of two above FFTSIZE, as in tessavo).
// Without --huge-pages the process gets ordinary 4 KiB pages only, as a
// plain implementation does where huge pages are given on request; with it,
// the big arrays are offered huge pages as in tessavo.
// Writes FILE's outputs with the suffix "-plain" added before each suffix,
// for example song-plain-residual.wav, prints the progress lines, and the
// time of each step on standard error.

#include "app/OutputNames.h"
#include "app/RunError.h"
#include "app/Settings.h"
#include "app/SoundFile.h"
#include "separation/Pipeline.h"
#include "separation/SeparationError.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include <sys/prctl.h>

using namespace tessavo;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Writes each output as its own file, and times the steps.
class PlainFiles : public SeparationSink {
public:
    PlainFiles(const std::string& filename, const SF_INFO& record, Clock::time_point start)
        : names_(filename), record_(record), start_(start)
    {
    }

    void factors(const Matrix&, const Matrix&) override {}
    void output(int index, const std::vector<SampleBuffer>& channels) override
    {
        const auto t = Clock::now();
        writeSoundFile(names_.sound(index == 0 ? "-plain-residual" : "-plain-" + std::to_string(index - 1)), record_,
                       channels);
        writing_ += seconds(t);
    }
    void stepDone(const char* step) override
    {
        const std::string name = step;
        if (name == "analysis")
            std::cerr << "read and analysis: " << seconds(start_) << " s\n";
        else if (name == "factorisation")
            std::cerr << "factorisation: " << seconds(start_) << " s\n";
        else
            std::cerr << "outputs: " << seconds(start_) << " s (resynthesis " << seconds(start_) - writing_
                      << " s, writing " << writing_ << " s)\n";
        start_ = Clock::now();
    }

private:
    OutputNames names_;
    const SF_INFO& record_;
    Clock::time_point start_;
    double writing_ = 0.0;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--huge-pages") {
        --argc;
        ++argv;
    } else {
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    }
    if (argc != 7) {
        std::cerr << "usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA\n";
        return 2;
    }
    try {
        const std::string filename = argv[1];
        const auto start = Clock::now();
        InputSound input = readSoundFile(filename);
        PlainFiles files(filename, input.info, start);
        const SeparationSettings settings{{transformSize(std::atoi(argv[3])), std::atoi(argv[4]), input.info.samplerate},
                                          {std::atoi(argv[5]), std::atof(argv[6])},
                                          std::atoi(argv[2]),
                                          1};
        separate(std::move(input.channels), settings, Engine::plain, &std::cout, files);
    } catch (const RunError& e) {
        std::cout << e.what() << std::flush;
        return 1;
    } catch (const SeparationError& e) {
        std::cout << e.what() << std::flush;
        return 1;
    }
    return 0;
}
