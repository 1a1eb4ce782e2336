#include "app/SeparationRun.h"

#include "app/MatrixFiles.h"
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

// The input's magnitudes and phases, and for stereo the per-cell balance
// between the channels.
struct Analysis {
    Matrix v;
    Matrix theta;                // stereo only
    std::vector<Matrix> phases;  // one per channel
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

Analysis analyseInput(InputSound& input, Stft& analyser)
{
    Analysis a;
    if (input.channels.size() == 1) {
        Matrix phase;
        analyser.analyse(input.channels[0], a.v, phase);
        a.phases.push_back(phase);
    } else {
        Matrix left, right, phaseL, phaseR;
        analyser.analyse(input.channels[0], left, phaseL);
        analyser.analyse(input.channels[1], right, phaseR);
        input.channels.clear();
        a.v = stereoMagnitude(left, right);
        a.theta = stereoAngle(left, right);
        a.phases = {phaseL, phaseR};
    }
    input.channels.clear();
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
    nmf.step();                  // the initial update pair
    double old = nmf.step();     // objective after it
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

// Resynthesises one magnitude matrix with the input's phases and writes it.
void writeOutput(const Matrix& x, const Analysis& a, Stft& synthesiser, const SF_INFO& record,
                 const std::string& name)
{
    std::vector<SampleBuffer> signals;
    if (a.phases.size() == 1) {
        signals.push_back(synthesiser.synthesise(x, a.phases[0]));
    } else {
        signals.push_back(synthesiser.synthesise(splitLeft(x, a.theta), a.phases[0]));
        signals.push_back(synthesiser.synthesise(splitRight(x, a.theta), a.phases[1]));
    }
    writeSoundFile(name, record, signals);
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

    Stft analyser(s.overlap, record.samplerate, s.windowsize, s.fftsize, 1.0f);
    Stft synthesiser(s.overlap, record.samplerate, s.windowsize, s.fftsize, 1.0f);
    const Analysis a = analyseInput(input, analyser);

    const int threads = s.threads > 0 ? s.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const auto [w, h] = factorise(a.v, s, threads);

    if (s.matrixout)
        writeMatrixFiles(s.filename, w, h);

    writeOutput(residualMagnitude(a.v, w, h), a, synthesiser, record, outputName(s.filename, dot, "-residual"));
    for (int k = 0; k < s.components; ++k)
        writeOutput(componentMagnitude(w, h, k), a, synthesiser, record,
                    outputName(s.filename, dot, "-" + std::to_string(k)));
    return 0;
}

}  // namespace tessavo
