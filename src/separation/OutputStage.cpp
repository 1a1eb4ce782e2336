#include "separation/OutputStage.h"

#include "separation/OutputRows.h"
#include "separation/Recombination.h"
#include "separation/Resynthesis.h"
#include "spectral/Stft.h"

#include <algorithm>

namespace tessavo {

namespace {

void synthesisePlain(Spectra& s, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                     const TransformSettings& t, const OutputDelivery& deliver)
{
    Stft synthesiser(t.overlap, t.sampleRate, t.fftLength, t.fftLength, 1.0f);
    const bool soft = plan.mode == MaskMode::soft;
    const std::vector<Matrix> shares = soft ? softShares(s.v, s.angle, w, h, plan) : std::vector<Matrix>();
    const int outputs = 1 + static_cast<int>(plan.groups.size());
    for (int o = 0; o < outputs; ++o) {
        std::vector<SampleBuffer> signals;
        if (soft) {
            for (std::size_t c = 0; c < s.phases.size(); ++c)
                signals.push_back(synthesiser.synthesise(softMagnitude(w, h, plan, o, shares[c]), s.phases[c]));
        } else {
            const Matrix x = directMagnitude(s.v, w, h, plan, o);
            if (s.phases.size() == 1) {
                signals.push_back(synthesiser.synthesise(x, s.phases[0]));
            } else {
                signals.push_back(synthesiser.synthesise(splitLeft(x, s.angle), s.phases[0]));
                signals.push_back(synthesiser.synthesise(splitRight(x, s.angle), s.phases[1]));
            }
        }
        deliver(o, signals);
    }
}

// Every output is rebuilt with the same phases, so their cosines and sines
// are computed once; outputs go in batches that keep every thread busy.
void synthesiseFast(Spectra& s, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                    const TransformSettings& t, int threads, const OutputDelivery& deliver)
{
    const int channels = static_cast<int>(s.phases.size());
    const bool soft = plan.mode == MaskMode::soft;
    // Soft masks turn V and the stereo angle into the channels' shares in
    // place; direct reconstruction keeps them.
    const OutputRows model = soft ? OutputRows(s.v, s.angle, w, h, plan, threads) : OutputRows(s.v, w, h, plan);
    InputPhases phases;
    for (Matrix& p : s.phases)
        phases.channels.push_back(takeTrigTable(std::move(p), threads));
    s.phases.clear();
    if (!soft)
        phases.angle = std::move(s.angle);

    Resynthesis resynthesis(threads, t.overlap, t.sampleRate, t.fftLength, t.fftLength);
    const int batch = resynthesis.batchSize(channels);
    for (int first = 0; first < model.count(); first += batch) {
        std::vector<int> outputs;
        for (int o = first; o < std::min(first + batch, model.count()); ++o)
            outputs.push_back(o);
        const std::vector<std::vector<SampleBuffer>>& signals = resynthesis.synthesise(model, outputs, phases);
        for (std::size_t o = 0; o < outputs.size(); ++o)
            deliver(outputs[o], signals[o]);
        if (first == 0 && channels == 2 && !soft) {
            // Only the residual needs V; its memory goes to the angle's table.
            Matrix angles = std::move(std::get<Matrix>(phases.angle));
            phases.angle = takeTrigTable(std::move(angles), threads, std::move(s.v));
        }
    }
}

}  // namespace

void synthesiseOutputs(Spectra& spectra, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       const TransformSettings& t, Engine engine, int threads, const OutputDelivery& deliver)
{
    if (engine == Engine::plain)
        synthesisePlain(spectra, w, h, plan, t, deliver);
    else
        synthesiseFast(spectra, w, h, plan, t, threads, deliver);
}

double outputStageMemory(double samples, int channels, const TransformSettings& t, int threads)
{
    // Either reconstruction works in the input's own tables: soft masks
    // turn V and the angle into the channels' shares in place.
    return Resynthesis::memoryBytes(samples, channels, t.fftLength, threads);
}

}  // namespace tessavo
