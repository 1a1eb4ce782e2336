#include "separation/OutputStage.h"

#include "separation/OutputRows.h"
#include "separation/Recombination.h"
#include "separation/Resynthesis.h"
#include "spectral/Stft.h"

#include <algorithm>

namespace tessavo {

namespace {

// Bytes the sound library may hold for each output file open at once.
constexpr double kStreamBytes = 1 << 20;

// Each output formed whole, then handed over in one piece.
void synthesisePlain(Spectra& s, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                     const TransformSettings& t, const OutputOpener& open)
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
        const float* channels[2] = {signals[0].data(), signals.size() > 1 ? signals[1].data() : nullptr};
        const std::unique_ptr<SignalStream> stream =
            open(o, static_cast<int>(signals.size()), signals[0].length());
        stream->write(channels, signals[0].length());
        stream->finish();
    }
}

// Outputs rebuilt together, a block of frames at a time, each written as it
// goes.
void synthesiseFast(Spectra& s, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                    const TransformSettings& t, int threads, int atOnce, const OutputOpener& open)
{
    const int channels = static_cast<int>(s.phases.size());
    const bool soft = plan.mode == MaskMode::soft;
    // Soft masks turn V and the stereo angle into the channels' shares in
    // place; direct reconstruction keeps them.
    const OutputRows model = soft ? OutputRows(s.v, s.angle, w, h, plan, threads) : OutputRows(s.v, w, h, plan);
    InputPhases phases;
    for (const Matrix& p : s.phases)
        phases.channels.push_back(&p);
    if (channels == 2 && !soft)
        phases.angle = &s.angle;

    Resynthesis resynthesis(threads, t.overlap, t.sampleRate, t.fftLength, t.fftLength);
    const int length = resynthesis.signalLength(s.phases.front().rows());
    const int group = std::max(1, atOnce);
    for (int first = 0; first < model.count(); first += group) {
        std::vector<int> outputs;
        std::vector<std::unique_ptr<SignalStream>> owned;
        std::vector<SignalStream*> streams;
        for (int o = first; o < std::min(first + group, model.count()); ++o) {
            outputs.push_back(o);
            owned.push_back(open(o, channels, length));
            streams.push_back(owned.back().get());
        }
        resynthesis.synthesise(model, outputs, phases, streams);
    }
}

}  // namespace

void synthesiseOutputs(Spectra& spectra, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       const TransformSettings& t, Engine engine, int threads, int atOnce,
                       const OutputOpener& open)
{
    if (engine == Engine::plain)
        synthesisePlain(spectra, w, h, plan, t, open);
    else
        synthesiseFast(spectra, w, h, plan, t, threads, atOnce, open);
}

double outputStageMemory(int outputs, int channels, const TransformSettings& t, int threads)
{
    // Either reconstruction works in the input's own matrices: soft masks
    // turn V and the angle into the channels' shares in place.
    const int atOnce = std::clamp(outputs, 1, kOutputsAtOnce);
    return Resynthesis::memoryBytes(atOnce, channels, t.fftLength, t.overlap, threads) + atOnce * kStreamBytes;
}

}  // namespace tessavo
