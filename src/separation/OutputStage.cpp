#include "separation/OutputStage.h"

#include "separation/OutputRows.h"
#include "separation/Recombination.h"
#include "separation/Resynthesis.h"
#include "spectral/Framing.h"
#include "spectral/Stft.h"

#include <algorithm>

namespace tessavo {

namespace {

// Bytes the sound library may hold for each output file open at once.
constexpr double kStreamBytes = 1 << 20;

// Each output formed whole, then handed over in one piece.
void synthesisePlain(const Spectra& s, int samples, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                     const TransformSettings& t, const OutputOpener& open)
{
    Stft synthesiser(t.overlap, t.fftLength, t.fftLength, t.pad);
    const bool stereo = s.phases.size() == 2;
    const std::vector<Matrix> shares =
        plan.mode == MaskMode::soft ? softShares(s.v, s.angle, w, h, plan) : std::vector<Matrix>();
    const int outputs = 1 + static_cast<int>(plan.groups.size());
    for (int o = 0; o < outputs; ++o) {
        std::vector<SampleBuffer> signals;
        switch (plan.mode) {
        case MaskMode::soft:
            for (std::size_t c = 0; c < s.phases.size(); ++c)
                signals.push_back(
                    synthesiser.synthesise(softMagnitude(w, h, plan, o, shares[c]), s.phases[c], samples));
            break;
        case MaskMode::direct: {
            const Matrix x = directMagnitude(s.v, w, h, plan, o);
            if (!stereo) {
                signals.push_back(synthesiser.synthesise(x, s.phases[0], samples));
            } else {
                signals.push_back(synthesiser.synthesise(splitLeft(x, s.angle), s.phases[0], samples));
                signals.push_back(synthesiser.synthesise(splitRight(x, s.angle), s.phases[1], samples));
            }
            break;
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
void synthesiseFast(Spectra&& s, int samples, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                    const TransformSettings& t, int threads, int atOnce, const OutputOpener& open)
{
    const int channels = static_cast<int>(s.phases.size());
    InputPhases phases;
    for (const Matrix& p : s.phases)
        phases.channels.push_back(&p);
    if (channels == 2 && plan.mode == MaskMode::direct)
        phases.angle = &s.angle;
    const OutputRows model = plan.mode == MaskMode::soft
                                 ? OutputRows::soft(std::move(s.v), std::move(s.angle), w, h, plan, threads)
                                 : OutputRows::direct(s.v, w, h, plan);

    Resynthesis resynthesis(threads, t.overlap, t.fftLength, t.fftLength, t.pad);
    const int length = resynthesis.signalLength(s.phases.front().rows(), samples);
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
        resynthesis.synthesise(model, outputs, phases, samples, streams);
    }
}

}  // namespace

void synthesiseOutputs(Spectra&& spectra, int samples, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       const TransformSettings& t, Engine engine, int threads, int atOnce,
                       const OutputOpener& open)
{
    if (engine == Engine::plain)
        synthesisePlain(spectra, samples, w, h, plan, t, open);
    else
        synthesiseFast(std::move(spectra), samples, w, h, plan, t, threads, atOnce, open);
}

bool rebuildsNothing(int samples, const TransformSettings& t)
{
    if (t.pad)
        return false;
    // Stft's first frame is rebuilt when the signal is longer than a window
    // and the analysis has more than one row.
    const long long rows = Framing{t.fftLength, t.overlap, false}.rows(samples);
    const long long length = rows * t.fftLength / t.overlap;
    return !(length > t.fftLength && rows > 1);
}

double outputStageMemory(int outputs, int channels, const TransformSettings& t, int threads)
{
    // Either reconstruction works in the input's own matrices: soft masks
    // turn V and the angle into the channels' shares in place.
    const int atOnce = std::clamp(outputs, 1, kOutputsAtOnce);
    return Resynthesis::memoryBytes(atOnce, channels, t.fftLength, t.overlap, threads, t.pad) + atOnce * kStreamBytes;
}

}  // namespace tessavo
