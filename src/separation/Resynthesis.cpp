#include "separation/Resynthesis.h"

#include "factorisation/Parallel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tessavo {

namespace {

// Each output in flight holds its whole signal: at most two at a time, so
// that memory does not grow with the number of cores.
constexpr int maxOutputsInFlight = 2;
// No more synthesisers than the largest batch can use (two outputs of two
// channels).
constexpr int maxSynthesisers = 4;

}  // namespace

TrigTable takeTrigTable(Matrix&& angles, int threads, Matrix&& spare)
{
    if (spare.size() > 0 && (spare.rows() != angles.rows() || spare.cols() != angles.cols()))
        throw std::invalid_argument("takeTrigTable: the spare matrix has another shape");
    if (spare.shareCount() > 1)
        throw std::invalid_argument("takeTrigTable: the spare matrix is shared");
    TrigTable table;
    table.sin = spare.size() > 0 ? std::move(spare) : Matrix(angles.rows(), angles.cols());
    table.cos = std::move(angles);
    const int cols = table.cos.cols();
    parallelRows(table.cos.rows(), threads, [&](int first, int end) {
        for (int i = first; i < end; ++i) {
            double* c = table.cos[i];
            double* s = table.sin[i];
            for (int j = 0; j < cols; ++j) {
                const double a = c[j];
                s[j] = std::sin(a);
                c[j] = std::cos(a);
            }
        }
    });
    return table;
}

namespace {

// One channel of one output: the magnitude row, its share for this channel
// (cos or sin of the stereo angle times the magnitude), then the spectrum
// a·cos φ, a·sin φ with a = gain × share.
void synthesiseChannel(Stft& stft, const OutputRows& model, int output, const InputPhases& phases, int channel,
                       SampleBuffer& result)
{
    const TrigTable& phase = phases.channels[static_cast<std::size_t>(channel)];
    const bool stereo = phases.channels.size() == 2;
    const TrigTable* table = std::get_if<TrigTable>(&phases.angle);
    const int bins = model.bins();
    const int half = stft.fftLength() / 2;
    const double gain = stft.synthesisGain();
    std::vector<double> row(static_cast<std::size_t>(bins));

    stft.synthesiseInto(result, phase.cos.rows(), [&](int r, float* spectrum) {
        double* m = row.data();
        model.row(output, r, channel, m);
        if (stereo && !model.perChannel()) {
            if (table) {
                const double* share = channel == 0 ? table->cos[r] : table->sin[r];
                for (int j = 0; j < bins; ++j)
                    m[j] = share[j] * m[j];
            } else {
                const double* angle = std::get<Matrix>(phases.angle)[r];
                for (int j = 0; j < bins; ++j)
                    m[j] = (channel == 0 ? std::cos(angle[j]) : std::sin(angle[j])) * m[j];
            }
        }
        const double* c = phase.cos[r];
        const double* s = phase.sin[r];
        for (int j = 0; j < bins; ++j) {
            const double a = gain * m[j];
            spectrum[j] = static_cast<float>(a * c[j]);
            spectrum[half + j] = static_cast<float>(a * s[j]);
        }
    });
}

}  // namespace

Resynthesis::Resynthesis(int threads, int overlap, int sampleRate, int windowLength, int fftLength)
{
    for (int t = 0; t < std::clamp(threads, 1, maxSynthesisers); ++t)
        synthesisers_.push_back(std::make_unique<Stft>(overlap, sampleRate, windowLength, fftLength, 1.0f));
}

double Resynthesis::memoryBytes(double samples, int channels, int fftLength, int threads)
{
    return maxOutputsInFlight * samples * channels * 4.0 +
           std::clamp(threads, 1, maxSynthesisers) * (Stft::memoryBytes(fftLength) + fftLength / 2.0 * 16.0);
}

int Resynthesis::batchSize(int channels) const
{
    const int threads = static_cast<int>(synthesisers_.size());
    return std::clamp(threads / std::max(1, channels), 1, maxOutputsInFlight);
}

std::vector<std::vector<SampleBuffer>>& Resynthesis::synthesise(const OutputRows& model,
                                                                const std::vector<int>& outputs,
                                                                const InputPhases& phases)
{
    const int channels = static_cast<int>(phases.channels.size());
    const int tasks = static_cast<int>(outputs.size()) * channels;
    signals_.resize(outputs.size());
    for (std::vector<SampleBuffer>& output : signals_)
        output.resize(static_cast<std::size_t>(channels));
    // Task t is channel t % channels of output t / channels; each thread
    // takes every threads-th task with its own synthesiser.
    const int threads = std::min(tasks, static_cast<int>(synthesisers_.size()));
    parallelTasks(threads, [&](int thread) {
        for (int t = thread; t < tasks; t += threads) {
            const auto output = static_cast<std::size_t>(t / channels);
            const auto channel = static_cast<std::size_t>(t % channels);
            synthesiseChannel(*synthesisers_[static_cast<std::size_t>(thread)], model, outputs[output], phases,
                              t % channels, signals_[output][channel]);
        }
    });
    return signals_;
}

}  // namespace tessavo
