#include "separation/OutputStage.h"

#include "separation/Recombination.h"
#include "separation/Resynthesis.h"
#include "spectral/Stft.h"

#include <algorithm>

namespace tessavo {

namespace {

void synthesisePlain(Spectra& s, const Matrix& w, const Matrix& h, const TransformSettings& t,
                     const OutputDelivery& deliver)
{
    Stft synthesiser(t.overlap, t.sampleRate, t.fftLength, t.fftLength, 1.0f);
    for (int k = -1; k < w.cols(); ++k) {
        const Matrix x = k < 0 ? residualMagnitude(s.v, w, h) : componentMagnitude(w, h, k);
        std::vector<SampleBuffer> signals;
        if (s.phases.size() == 1) {
            signals.push_back(synthesiser.synthesise(x, s.phases[0]));
        } else {
            signals.push_back(synthesiser.synthesise(splitLeft(x, s.angle), s.phases[0]));
            signals.push_back(synthesiser.synthesise(splitRight(x, s.angle), s.phases[1]));
        }
        deliver(k + 1, signals);
    }
}

// Every output is rebuilt with the same phases, so their cosines and sines
// are computed once; outputs go in batches that keep every thread busy.
void synthesiseFast(Spectra& s, const Matrix& w, const Matrix& h, const TransformSettings& t, int threads,
                    const OutputDelivery& deliver)
{
    const int channels = static_cast<int>(s.phases.size());
    InputPhases phases;
    for (Matrix& p : s.phases)
        phases.channels.push_back(takeTrigTable(std::move(p), threads));
    s.phases.clear();
    phases.angle = std::move(s.angle);

    Resynthesis resynthesis(threads, t.overlap, t.sampleRate, t.fftLength, t.fftLength);
    const int batch = resynthesis.batchSize(channels);
    const int components = w.cols();
    for (int first = -1; first < components; first += batch) {
        std::vector<OutputSource> sources;
        for (int k = first; k < std::min(first + batch, components); ++k)
            sources.push_back(OutputSource{&s.v, &w, &h, k});
        const std::vector<std::vector<SampleBuffer>>& signals = resynthesis.synthesise(sources, phases);
        for (std::size_t o = 0; o < sources.size(); ++o)
            deliver(sources[o].component + 1, signals[o]);
        if (first < 0 && channels == 2) {
            // Only the residual needs V; its memory goes to the angle's table.
            Matrix angles = std::move(std::get<Matrix>(phases.angle));
            phases.angle = takeTrigTable(std::move(angles), threads, std::move(s.v));
        }
    }
}

}  // namespace

void synthesiseOutputs(Spectra& spectra, const Matrix& w, const Matrix& h, const TransformSettings& t, Engine engine,
                       int threads, const OutputDelivery& deliver)
{
    if (engine == Engine::plain)
        synthesisePlain(spectra, w, h, t, deliver);
    else
        synthesiseFast(spectra, w, h, t, threads, deliver);
}

}  // namespace tessavo
