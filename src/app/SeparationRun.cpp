#include "app/SeparationRun.h"

#include "app/MatrixFiles.h"
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

// Reports, before the long work, an input format that cannot be written back
// and an output folder that cannot be written to.
void checkOutputsPossible(const Settings& s, std::size_t dot, const SF_INFO& record)
{
    SF_INFO probe = record;
    if (!sf_format_check(&probe))
        throw RunError("Not able to write output files in the format of input file " + s.filename + "\n");

    const std::string first = outputName(s.filename, dot, "-residual");
    const std::string probeName = first + ".probe-" + std::to_string(static_cast<long>(getpid()));
    std::FILE* f = std::fopen(probeName.c_str(), "w");
    if (!f) {
        const std::string reason = std::strerror(errno);
        throw RunError("Not able to open output file " + first + "\n" + reason);
    }
    std::fclose(f);
    std::remove(probeName.c_str());
}

// Refuses, before any work, settings whose transform tables and spectrogram
// matrices cannot fit in this machine's memory, rather than failing (or being
// killed) part-way through.
void checkMemory(const Settings& s, const InputSound& input, int threads)
{
    const double n = s.fftsize;
    const int channels = static_cast<int>(input.channels.size());
    const double rows = static_cast<double>(input.info.frames / (s.fftsize / s.overlap) + 1);
    // Each transform object holds about 30 bytes per point (tables, window,
    // scratch and work buffers); there is one per analysing and per
    // resynthesising thread (at most four of those).
    const double transforms = 30.0 * n * (std::min(threads, channels) + std::min(threads, 4));
    // At most six frames × bins matrices for stereo (V, the angle, two phase
    // tables of two matrices each), three for mono.
    const double matrices = rows * (n / 2) * 8.0 * (channels == 2 ? 6 : 3);
    const double available = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    if (transforms + matrices > available)
        throw RunError("Not enough memory for this input and these settings\n");
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
    for (int i = 1; i < s.maxiterations; ++i) {
        const double now = nmf.step();
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
// and written in that order. Outputs are resynthesised in batches that keep
// every thread busy; a failed write stops the run before any later output.
void writeOutputs(Analysis& a, const Matrix& w, const Matrix& h, const Settings& s, std::size_t dot,
                  const SF_INFO& record, int threads)
{
    const int channels = static_cast<int>(a.phases.channels.size());
    Resynthesis resynthesis(threads, s.overlap, record.samplerate, s.windowsize, s.fftsize);
    const int batch = resynthesis.batchSize(channels);
    SampleBuffer interleaved;
    for (int first = -1; first < s.components; first += batch) {
        std::vector<OutputSource> sources;
        for (int k = first; k < std::min(first + batch, s.components); ++k)
            sources.push_back(OutputSource{&a.v, &w, &h, k});
        const std::vector<std::vector<SampleBuffer>>& signals = resynthesis.synthesise(sources, a.phases);
        for (std::size_t o = 0; o < sources.size(); ++o) {
            const int k = sources[o].component;
            const std::string suffix = k < 0 ? "-residual" : "-" + std::to_string(k);
            writeSoundFile(outputName(s.filename, dot, suffix), record, signals[o], &interleaved);
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

    InputSound input = readSoundFile(s.filename);
    const SF_INFO record = input.info;
    checkOutputsPossible(s, dot, record);
    checkFinite(input, s.filename);

    const int threads =
        s.threads > 0 ? s.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    checkMemory(s, input, threads);
    Analysis a = analyseInput(input, s, threads);
    const auto [w, h] = factorise(a.v, s, threads);

    if (s.matrixout)
        writeMatrixFiles(s.filename, w, h);
    writeOutputs(a, w, h, s, dot, record, threads);
    return 0;
}

}  // namespace tessavo
