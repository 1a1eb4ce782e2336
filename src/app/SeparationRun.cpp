#include "app/SeparationRun.h"

#include "app/MatrixFiles.h"
#include "app/MemoryBudget.h"
#include "app/OutputSet.h"
#include "app/Parallel.h"
#include "app/Resynthesis.h"
#include "app/RunError.h"
#include "app/Settings.h"
#include "app/SoundFile.h"
#include "factorisation/FastNmf.h"
#include "factorisation/Matrix.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/Recombination.h"
#include "spectral/Stft.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tessavo {

namespace {

// The input's magnitudes: V, and the phases (and stereo angle) that every
// output is rebuilt with.
struct Analysis {
    Matrix v;
    InputPhases phases;
};

std::string overflowMessage(const std::string& filename)
{
    return "Not able to process input file " + filename +
           ": the numbers of its separation overflowed (its samples are too large)\n";
}

void checkFinite(const InputSound& input, const std::string& filename)
{
    for (const SampleBuffer& channel : input.channels) {
        const float* s = channel.data();
        for (int i = 0; i < channel.length(); ++i)
            if (!std::isfinite(s[i]))
                throw RunError("Not able to process input file " + filename +
                               ": it holds samples that are not finite numbers\n");
    }
}

void checkFinite(const Matrix& m, const std::string& filename)
{
    if (!std::all_of(m.data(), m.data() + m.size(), [](double x) { return std::isfinite(x); }))
        throw RunError(overflowMessage(filename));
}

void checkFinite(const std::vector<SampleBuffer>& signals, const std::string& filename)
{
    for (const SampleBuffer& channel : signals)
        if (!std::all_of(channel.data(), channel.data() + channel.length(), [](float x) { return std::isfinite(x); }))
            throw RunError(overflowMessage(filename));
}

// The names of every output, sounds first (the residual, then component 0,
// 1, ...), then with matrixout the W and H files.
std::vector<std::string> outputNames(const Settings& s, std::size_t dot)
{
    std::vector<std::string> names{outputName(s.filename, dot, "-residual")};
    for (int k = 0; k < s.components; ++k)
        names.push_back(outputName(s.filename, dot, "-" + std::to_string(k)));
    if (s.matrixout) {
        names.push_back(wFileName(s.filename));
        names.push_back(hFileName(s.filename));
    }
    return names;
}

// Analyses each channel (stereo: both at once), then folds a stereo pair
// into V and the angle in place. The phases become their cosine and sine
// tables straight away, since every output needs them.
Analysis analyseInput(InputSound& input, const Settings& s, int threads)
{
    const int channels = static_cast<int>(input.channels.size());
    const int workers = std::min(threads, channels);
    std::vector<Matrix> magnitudes(static_cast<std::size_t>(channels));
    std::vector<Matrix> phases(static_cast<std::size_t>(channels));
    parallelTasks(workers, [&](int t) {
        Stft analyser(s.overlap, input.info.samplerate, s.windowsize, s.fftsize, 1.0f);
        for (int c = t; c < channels; c += workers) {
            const auto i = static_cast<std::size_t>(c);
            analyser.analyse(input.channels[i], magnitudes[i], phases[i]);
        }
    });
    input.channels.clear();

    Analysis a;
    if (channels == 2) {
        Matrix& left = magnitudes[0];
        Matrix& right = magnitudes[1];
        parallelRows(left.rows(), threads, [&](int first, int end) { foldStereoInPlace(left, right, first, end); });
        a.v = left;
        a.phases.angle = right;
    } else {
        a.v = magnitudes[0];
    }
    magnitudes.clear();
    for (Matrix& p : phases)
        a.phases.channels.push_back(takeTrigTable(p, threads));
    return a;
}

// The random start, drawn from the process-wide stream: W first, then H.
FastNmf makeFactoriser(const Matrix& v, int components, int threads)
{
    try {
        NmfFactoriser start(v, components);
        return FastNmf(v, start.w(), start.h(), threads);
    } catch (const std::length_error&) {
    } catch (const std::bad_alloc&) {
    }
    throw RunError("Not able to hold " + std::to_string(components) + " components for " +
                   std::to_string(v.rows()) + " frames and " + std::to_string(v.cols()) +
                   " bins: too many components\n");
}

// Applies the initial update pair, then passes until the objective changes by
// less than criteria or maxiterations update pairs have run. Returns the
// final W and H.
//
// The fast path computes each objective together with the next update pair,
// so it always runs one pair ahead; the factors that the last objective
// belongs to are its previous ones.
std::pair<Matrix, Matrix> factorise(const Matrix& v, const Settings& s, int threads)
{
    FastNmf nmf = makeFactoriser(v, s.components, threads);
    nmf.step();               // the initial update pair
    double old = nmf.step();  // objective after it
    if (!std::isfinite(old))
        throw RunError(overflowMessage(s.filename));
    for (int i = 1; i < s.maxiterations; ++i) {
        const double now = nmf.step();
        if (!std::isfinite(now))
            throw RunError(overflowMessage(s.filename));
        if (s.verbose)
            std::cout << "objective: " << old << std::endl;
        // Strict, on the absolute change: a NaN change never stops the loop.
        if (std::fabs(now - old) < s.criteria) {
            if (s.verbose)
                std::cout << "done in " << i << " iterations" << std::endl;
            break;
        }
        old = now;
    }
    return {nmf.previousW(), nmf.previousH()};
}

// The residual, then every component, each rebuilt with the input's phases
// and written to its place in outputs (the residual first, component k at
// k + 1). Outputs are resynthesised in batches that keep every thread busy.
void writeOutputs(Analysis& a, const Matrix& w, const Matrix& h, const Settings& s, const SF_INFO& record,
                  int threads, OutputSet& outputs)
{
    const int channels = static_cast<int>(a.phases.channels.size());
    Resynthesis resynthesis(threads, s.overlap, record.samplerate, s.windowsize, s.fftsize);
    const int batch = resynthesis.batchSize(channels);
    for (int first = -1; first < s.components; first += batch) {
        std::vector<OutputSource> sources;
        for (int k = first; k < std::min(first + batch, s.components); ++k)
            sources.push_back(OutputSource{&a.v, &w, &h, k});
        const std::vector<std::vector<SampleBuffer>>& signals = resynthesis.synthesise(sources, a.phases);
        for (std::size_t o = 0; o < sources.size(); ++o) {
            checkFinite(signals[o], s.filename);
            writeSound(outputs[static_cast<std::size_t>(sources[o].component + 1)], record, signals[o]);
        }
        if (first < 0) {
            // Only the residual needs V; its memory goes to the angle's table.
            Matrix spare = std::move(a.v);
            if (channels == 2)
                a.phases.angleTable = takeTrigTable(a.phases.angle, threads, std::move(spare));
        }
    }
}

}  // namespace

int runSeparation(int argc, const char* const* argv)
{
    Settings s;
    parseSettings(argc, argv, s);
    const std::size_t dot = dotPosition(s.filename);
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
    OutputSet outputs(outputNames(s, dot));

    InputSound sound = input.read([&](long long frames) {
        shape.frames = frames;
        checkMemory(shape);
    });
    checkFinite(sound, s.filename);
    Analysis a = analyseInput(sound, s, threads);
    const auto [w, h] = factorise(a.v, s, threads);
    checkFinite(w, s.filename);
    checkFinite(h, s.filename);

    if (s.matrixout) {
        const std::size_t first = static_cast<std::size_t>(s.components) + 1;
        writeMatrix(outputs[first], w);
        writeMatrix(outputs[first + 1], h);
    }
    writeOutputs(a, w, h, s, record, threads, outputs);
    outputs.commit();
    return 0;
}

}  // namespace tessavo
