// The separation done the plain way, one whole-matrix step after another,
// single-threaded: the program's own pipeline with the plain engine. It is
// the reference that the program's fast paths must match bit for bit, and
// the baseline their speed is measured against.
//
// Usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA [OPTION...]
// (the transform size is the power of two above FFTSIZE, as in tessavo);
// the OPTIONs are tessavo's --loss, --templates, --mask, --maskpower, --pad,
// --seed, --sources, --continuity, --sparsity and --tolerance.
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
#include "app/TemplateFiles.h"
#include "separation/Pipeline.h"
#include "separation/SeparationError.h"

#include <algorithm>
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
class PlainFiles : public WholeOutputSink {
public:
    PlainFiles(const std::string& filename, const SF_INFO& record, std::vector<std::string> sources,
               Clock::time_point start)
        : names_(filename), record_(record), sources_(std::move(sources)), start_(start)
    {
    }

    void factors(const Matrix&, const Matrix&) override {}
    void groups(const std::vector<int>& sourceOf) override { grouped_ = !sourceOf.empty(); }
    void output(int index, const std::vector<SampleBuffer>& channels) override
    {
        const auto t = Clock::now();
        const auto source = static_cast<std::size_t>(index - 1);
        const std::string suffix = index == 0                 ? "residual"
                                   : source < sources_.size() ? sources_[source]
                                   : grouped_                 ? OutputNames::sourceName(int(source - sources_.size()))
                                                              : std::to_string(source - sources_.size());
        writeSoundFile(names_.sound("-plain-" + suffix), record_, channels);
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
    std::vector<std::string> sources_;
    Clock::time_point start_;
    double writing_ = 0.0;
    bool grouped_ = false;  // the free outputs are grouped sources
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
    if (argc < 7) {
        std::cerr << "usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA "
                     "[OPTION...]\n";
        return 2;
    }
    try {
        std::vector<const char*> words{"tessavo_plain", argv[1], argv[2], "-f", argv[3], "-o", argv[4],
                                       "-i",            argv[5], "-c",    argv[6]};
        words.insert(words.end(), argv + 7, argv + argc);
        Settings s;
        parseSettings(static_cast<int>(words.size()), words.data(), s);
        const std::vector<NamedTemplates> sources = loadTemplates(s.templates, s.fftsize / 2);

        const auto start = Clock::now();
        InputSound input = readSoundFile(s.filename);
        SeparationSettings settings{{s.fftsize, s.overlap, s.pad},
                                    {s.maxiterations, s.criteria, s.tolerance},
                                    s.components,
                                    1,
                                    s.loss,
                                    Matrix(),
                                    {},
                                    s.mask,
                                    s.maskPower,
                                    s.seed,
                                    s.sources,
                                    static_cast<double>(input.info.samplerate),
                                    {s.continuity, s.sparsity}};
        settings.templates = stackTemplates(sources, s.fftsize / 2, settings.sourceRows);
        std::vector<std::string> names;
        for (const NamedTemplates& source : sources)
            names.push_back(source.name);
        PlainFiles files(s.filename, input.info, names, start);
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
