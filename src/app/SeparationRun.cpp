#include "app/SeparationRun.h"

#include "app/FactorMetadata.h"
#include "app/MatrixFiles.h"
#include "app/MemoryBudget.h"
#include "app/NpyFormat.h"
#include "app/OutputNames.h"
#include "app/OutputSet.h"
#include "app/ProgressLine.h"
#include "app/RunError.h"
#include "app/Settings.h"
#include "app/SoundFile.h"
#include "app/TemplateFiles.h"
#include "separation/Pipeline.h"
#include "separation/SeparationError.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <thread>
#include <unistd.h>


namespace tessavo {

namespace {

void checkFinite(const InputSound& input, const std::string& filename)
{
    for (const SampleBuffer& channel : input.channels)
        if (!std::all_of(channel.data(), channel.data() + channel.length(), [](float x) { return std::isfinite(x); }))
            throw RunError("Not able to process input file " + filename +
                           ": it holds samples that are not finite numbers\n");
}

// The W and H files' extension: NumPy's with --factors npy, else text.
std::string factorExtension(const Settings& s)
{
    return s.factors == "npy" ? ".npy" : ".txt";
}

// Every output's name: sounds first (the residual, the named sources, then
// component 0, 1, ... or the grouped sources) unless the run writes none,
// then with matrixout the W and H files, with sources the groups file, and
// with factors the metadata.
std::vector<std::string> outputList(const Settings& s, const std::vector<NamedTemplates>& sources,
                                    const OutputNames& names)
{
    std::vector<std::string> list;
    if (s.sounds) {
        list.push_back(names.residual());
        for (const NamedTemplates& source : sources)
            list.push_back(names.sound("-" + source.name));
        for (int k = 0; k < (s.sources > 0 ? s.sources : s.components); ++k)
            list.push_back(s.sources > 0 ? names.source(k) : names.component(k));
    }
    if (s.matrixout) {
        const std::string extension = factorExtension(s);
        list.push_back(names.wFile(extension));
        list.push_back(names.hFile(extension));
        if (s.sources > 0)
            list.push_back(names.groupsFile());
        if (!s.factors.empty())
            list.push_back(names.factorsFile());
    }
    return list;
}

std::string baseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// One output sound, written as the resynthesis completes its samples.
class FileStream : public SignalStream {
public:
    FileStream(PendingFile& file, const SF_INFO& record, int channels, int frames)
        : writer_(file, record, channels, frames)
    {
    }
    void write(const float* const* channels, int frames) override { writer_.write(channels, frames); }
    void finish() override { writer_.finish(); }

private:
    SoundWriter writer_;
};

// Writes what the separation delivers into the run's output files, each
// under its temporary name.
class FileSink : public SeparationSink {
public:
    // metadata: filled but for the frames and the sources, which the
    // separation decides.
    FileSink(OutputSet& outputs, const SF_INFO& record, const Settings& s, std::size_t sounds,
             std::vector<std::string> templateRows, const SeparationSettings& separation, FactorMetadata metadata)
        : outputs_(outputs), record_(record), settings_(s), next_(sounds), templateRows_(std::move(templateRows)),
          separation_(separation), metadata_(std::move(metadata))
    {
    }
    void factors(const Matrix& w, const Matrix& h) override
    {
        if (!settings_.matrixout)
            return;
        if (settings_.factors == "npy") {
            writeText(outputs_[next_++], npyBytes(w));
            writeText(outputs_[next_++], npyBytes(h));
        } else {
            writeMatrix(outputs_[next_++], w, settings_.precision);
            writeMatrix(outputs_[next_++], h, settings_.precision);
        }
        metadata_.frames = w.rows();
        metadata_.rows = h.rows();
    }
    // The groups file has one line per component, in H's row order: the
    // name of its source. The metadata names each output's rows.
    void groups(const std::vector<int>& sourceOf) override
    {
        if (!settings_.matrixout)
            return;
        if (!sourceOf.empty()) {
            std::string text;
            for (const std::string& name : templateRows_)
                text += name + "\n";
            for (int s : sourceOf)
                text += OutputNames::sourceName(s) + "\n";
            writeText(outputs_[next_++], text);
        }
        if (settings_.factors.empty())
            return;
        const OutputPlan plan = outputPlan(separation_, sourceOf);
        const std::size_t named = separation_.sourceRows.size();
        for (std::size_t g = 0; g < plan.groups.size(); ++g) {
            const int free = static_cast<int>(g - named);
            const std::string name = g < named ? metadata_.sources[g].name
                                     : sourceOf.empty() ? std::to_string(free)
                                                        : OutputNames::sourceName(free);
            if (g < named)
                metadata_.sources[g].rows = plan.groups[g];
            else
                metadata_.sources.push_back({name, plan.groups[g]});
        }
        writeText(outputs_[next_++], factorsJson(metadata_));
    }
    bool wantsSounds() const override { return settings_.sounds; }
    std::unique_ptr<SignalStream> openOutput(int index, int channels, int frames) override
    {
        return std::make_unique<FileStream>(outputs_[static_cast<std::size_t>(index)], record_, channels, frames);
    }
    int outputsAtOnce() const override { return outputs_.writersAtOnce(); }

private:
    OutputSet& outputs_;
    const SF_INFO& record_;
    const Settings& settings_;
    std::size_t next_;  // the next factor file; the sound outputs come first
    std::vector<std::string> templateRows_;  // each fixed row's source
    const SeparationSettings& separation_;
    FactorMetadata metadata_;
};

// The metadata that the settings and the input decide.
FactorMetadata describeRun(int argc, const char* const* argv, const Settings& s, const SF_INFO& record,
                           const std::vector<NamedTemplates>& sources, const OutputNames& names)
{
    FactorMetadata m;
    m.commandLine.assign(argv, argv + argc);
    m.input = s.filename;
    m.sampleRate = record.samplerate;
    m.channels = record.channels;
    m.framing = Framing{s.fftsize, s.overlap, s.pad};
    m.loss = s.loss == Loss::kl ? "kl" : s.loss == Loss::is ? "is" : "euclidean";
    m.mask = s.mask == MaskMode::soft ? "soft" : "direct";
    m.maskPower = s.maskPower;
    m.components = s.components;
    m.format = s.factors;
    const std::string extension = factorExtension(s);
    m.wFile = baseName(names.wFile(extension));
    m.hFile = baseName(names.hFile(extension));
    for (const NamedTemplates& source : sources)
        m.sources.push_back({source.name, {}});
    return m;
}

}  // namespace

int runSeparation(int argc, const char* const* argv)
{
    Settings s;
    parseSettings(argc, argv, s);
    ProgressLine progress(s.verbose);
    const std::vector<NamedTemplates> sources = loadTemplates(s.templates, s.fftsize / 2);
    std::vector<int> sourceRows;
    Matrix templates = stackTemplates(sources, s.fftsize / 2, sourceRows);
    std::vector<std::string> templateRows;
    for (const NamedTemplates& source : sources) {
        // A template named as a grouped source would share its output.
        for (int g = 0; g < s.sources; ++g)
            if (source.name == OutputNames::sourceName(g))
                throw RunError("Template name '" + source.name + "' is a grouped source's, as --sources " +
                               std::to_string(s.sources) + " names them\n");
        templateRows.insert(templateRows.end(), static_cast<std::size_t>(source.rows.rows()), source.name);
    }
    const int threads =
        s.threads > 0 ? s.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

    // Everything that can be known to fail is checked before the samples are
    // read: the format, the memory the run will hold, every output's name.
    if (!s.outdir.empty())
        checkOutputFolder(s.outdir);
    if (s.filename == "-" && ::isatty(STDIN_FILENO))
        throw RunError("Standard input is a terminal, not a sound: pipe one in, as in tessavo - " +
                       std::to_string(s.components) + " < song.wav\n");
    // A stream is read whole as it is opened.
    progress.phase(RunPhase::reading);
    SoundInput input(s.filename);
    const SF_INFO record = outputRecord(input.info(), s.encoding, s.filename);
    // A run that writes no sound may read any format the library reads.
    if (s.sounds)
        checkWritable(record, s.filename);
    RunShape shape{record.frames, record.channels, s.fftsize, s.overlap, templates.rows() + s.components, threads,
                   s.loss, s.mask, s.pad};
    if (input.lengthKnown())
        checkMemory(shape);
    const OutputNames names(OutputNames::inputName(s.filename, usualExtension(record.format)), s.outdir);
    // Run from inside /dev, a stream's outputs would land there.
    if (s.outdir.empty() && OutputNames::inDevices(names.residual()))
        throw RunError("Not able to write the outputs of " + s.filename +
                       " into the current folder, which holds devices: give another with -d\n");
    OutputSet outputs(outputList(s, sources, names));

    InputSound sound = input.read([&](long long frames) {
        shape.frames = frames;
        checkMemory(shape);
    });
    checkFinite(sound, s.filename);
    const TransformSettings transform{s.fftsize, s.overlap, s.pad};
    if (s.sounds && rebuildsNothing(sound.channels.front().length(), transform))
        progress.err() << "Note: " << s.filename << " is shorter than one transform of " << s.fftsize
                  << " samples, so every output will be silent; --pad, or a smaller -f, rebuilds it" << std::endl;

    const SeparationSettings settings{transform,
                                      {s.maxiterations, s.criteria, s.tolerance},
                                      s.components,
                                      threads,
                                      s.loss,
                                      std::move(templates),
                                      sourceRows,
                                      s.mask,
                                      s.maskPower,
                                      s.seed,
                                      s.sources,
                                      static_cast<double>(record.samplerate),
                                      {s.continuity, s.sparsity}};
    const int freeOutputs = s.sources > 0 ? s.sources : s.components;
    const std::size_t sounds = s.sounds ? 1 + sources.size() + static_cast<std::size_t>(freeOutputs) : 0;
    FileSink sink(outputs, record, s, sounds, std::move(templateRows), settings,
                  describeRun(argc, argv, s, record, sources, names));
    try {
        separate(std::move(sound.channels), settings, Engine::fast, s.verbose ? &progress.out() : nullptr, sink,
                 progress.observer());
    } catch (const OverflowError&) {
        throw RunError("Not able to process input file " + s.filename +
                       ": the numbers of its separation overflowed (its samples are too large)\n");
    }
    outputs.commit();
    progress.finish(outputs);
    return 0;
}

}  // namespace tessavo
