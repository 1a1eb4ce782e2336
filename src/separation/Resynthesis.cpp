#include "separation/Resynthesis.h"

#include "core/Parallel.h"
#include "spectral/Framing.h"
#include "spectral/OverlapAdd.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>

namespace tessavo {

namespace {

// Frames rebuilt between two hand-overs to the streams: enough that the
// threads meet rarely, few enough that the block's tables stay small.
constexpr int kBlockFrames = 16;
// Synthesisers beyond the tasks of a block would only cost memory.
constexpr int kMaxSynthesisers = 64;

// Cosines and sines of one matrix of angles, for the rows of one block.
struct TrigBlock {
    std::vector<double> cos;
    std::vector<double> sin;
};

void tabulate(const Matrix& angles, const std::vector<int>& rows, int first, int end, int block, TrigBlock& t)
{
    const int bins = angles.cols();
    for (int e = first; e < end; ++e) {
        const double* a = angles[rows[static_cast<std::size_t>(e)]];
        double* c = t.cos.data() + static_cast<std::size_t>(e - block) * bins;
        double* s = t.sin.data() + static_cast<std::size_t>(e - block) * bins;
        for (int j = 0; j < bins; ++j) {
            s[j] = std::sin(a[j]);
            c[j] = std::cos(a[j]);
        }
    }
}

// A thread's working rows.
struct Scratch {
    std::vector<double> magnitude;
    std::vector<float> spectrum;  // every position is written for each frame
    std::vector<float> frame;
};

// One channel of one output in flight.
struct ChannelState {
    OverlapAdd overlap;
    std::vector<float> staged;  // completed samples not yet handed over
    int count = 0;
};

}  // namespace

Resynthesis::Resynthesis(int threads, int overlap, int windowLength, int fftLength, bool padded, VectorVariant variant)
{
    for (int t = 0; t < std::clamp(threads, 1, kMaxSynthesisers); ++t)
        synthesisers_.push_back(std::make_unique<Stft>(overlap, windowLength, fftLength, padded, variant));
}

double Resynthesis::memoryBytes(int outputs, int channels, int fftLength, int overlap, int threads, bool padded)
{
    const double hop = fftLength / overlap;
    const double bins = fftLength / 2.0;
    // Each channel in flight: its pending samples (normalised: sums,
    // weights and the squared window, in double) and its staged ones.
    const double pending = padded ? 24.0 * fftLength : 4.0 * fftLength;
    const double inFlight = outputs * channels * (pending + kBlockFrames * hop * 4.0);
    const double tables = kBlockFrames * bins * 16.0 * (channels + 1);
    const double perThread = Stft::memoryBytes(fftLength) + bins * 8.0 + 2.0 * fftLength * 4.0;
    return inFlight + tables + std::clamp(threads, 1, kMaxSynthesisers) * perThread;
}

void Resynthesis::synthesise(const OutputRows& model, const std::vector<int>& outputs, const InputPhases& phases,
                             int samples, const std::vector<SignalStream*>& streams)
{
    const Stft& first = *synthesisers_.front();
    const int channels = static_cast<int>(phases.channels.size());
    const int rows = phases.channels.front()->rows();
    const int bins = model.bins();
    const int n = first.fftLength();
    const int half = n / 2;
    const int hop = first.hop();
    const SynthesisFrames plan = first.synthesisFrames(rows, samples);
    const double gain = plan.gain;
    const int total = plan.length;
    const std::vector<int>& frameRows = plan.rows;
    const int frames = static_cast<int>(frameRows.size());
    const int count = static_cast<int>(outputs.size());
    const int tasks = count * channels;
    const bool split = model.mode() == MaskMode::direct && channels == 2;

    // Padded with a hop that divides the window and every row there: each
    // sample lies under the same number of frames.
    const bool covered = plan.normalised && first.windowLength() == n && n % hop == 0 &&
                         rows >= Framing{n, first.overlap(), true}.rows(samples);
    const auto overlapAdd = [&] {
        return plan.normalised ? OverlapAdd(first.windowLength(), hop, total, first.window().coefficients(),
                                            plan.padding, covered)
                               : OverlapAdd(first.windowLength(), hop, total);
    };
    std::vector<ChannelState> state;
    for (int t = 0; t < tasks; ++t)
        state.push_back({overlapAdd(), std::vector<float>(static_cast<std::size_t>(kBlockFrames) * hop), 0});
    const auto tableSize = static_cast<std::size_t>(kBlockFrames) * bins;
    std::vector<TrigBlock> phase(static_cast<std::size_t>(channels),
                                 TrigBlock{std::vector<double>(tableSize), std::vector<double>(tableSize)});
    TrigBlock angle{std::vector<double>(split ? tableSize : 0), std::vector<double>(split ? tableSize : 0)};
    const int threads = std::min(tasks, static_cast<int>(synthesisers_.size()));
    std::vector<Scratch> scratch(static_cast<std::size_t>(threads),
                                 Scratch{std::vector<double>(static_cast<std::size_t>(bins)),
                                         std::vector<float>(static_cast<std::size_t>(n), 0.0f),
                                         std::vector<float>(static_cast<std::size_t>(n))});

    // An output's block goes to its stream once all its channels are done.
    const auto handOver = [&](int o) {
        const float* signals[2] = {nullptr, nullptr};
        for (int c = 0; c < channels; ++c)
            signals[c] = state[static_cast<std::size_t>(o * channels + c)].staged.data();
        const int done = state[static_cast<std::size_t>(o * channels)].count;
        if (done > 0)
            streams[static_cast<std::size_t>(o)]->write(signals, done);
        for (int c = 0; c < channels; ++c)
            state[static_cast<std::size_t>(o * channels + c)].count = 0;
    };

    // One channel of one output over frames [block, end): the channel's
    // magnitude row (split by the stereo angle's cos or sin for a stereo
    // input rebuilt directly), then the spectrum a·cos φ, a·sin φ with
    // a = gain × magnitude.
    const auto channelBlock = [&](int thread, int task, int block, int end) {
        const int o = task / channels;
        const int c = task % channels;
        Stft& stft = *synthesisers_[static_cast<std::size_t>(thread)];
        Scratch& work = scratch[static_cast<std::size_t>(thread)];
        ChannelState& s = state[static_cast<std::size_t>(task)];
        const TrigBlock& p = phase[static_cast<std::size_t>(c)];
        double* m = work.magnitude.data();
        float* spectrum = work.spectrum.data();
        for (int e = block; e < end; ++e) {
            const auto offset = static_cast<std::size_t>(e - block) * bins;
            const double* splitRow = split ? (c == 0 ? angle.cos.data() : angle.sin.data()) + offset : nullptr;
            model.row(outputs[static_cast<std::size_t>(o)], frameRows[static_cast<std::size_t>(e)], c, splitRow, m);
            const double* pc = p.cos.data() + offset;
            const double* ps = p.sin.data() + offset;
            for (int j = 0; j < bins; ++j) {
                const double a = gain * m[j];
                spectrum[j] = static_cast<float>(a * pc[j]);
                spectrum[half + j] = static_cast<float>(a * ps[j]);
            }
            stft.synthesiseFrame(spectrum, work.frame.data());
            s.count += s.overlap.add(work.frame.data(), s.staged.data() + s.count);
        }
    };

    std::vector<std::atomic<int>> unfinished(static_cast<std::size_t>(count));
    for (int block = 0; block < frames; block += kBlockFrames) {
        const int end = std::min(frames, block + kBlockFrames);
        parallelRows(end - block, threads, [&](int from, int to) {
            for (int c = 0; c < channels; ++c)
                tabulate(*phases.channels[static_cast<std::size_t>(c)], frameRows, block + from, block + to, block,
                         phase[static_cast<std::size_t>(c)]);
            if (split)
                tabulate(*phases.angle, frameRows, block + from, block + to, block, angle);
        });
        for (std::atomic<int>& u : unfinished)
            u.store(channels, std::memory_order_relaxed);
        std::atomic<int> next{0};
        parallelTasks(threads, [&](int thread) {
            for (int task = next.fetch_add(1); task < tasks; task = next.fetch_add(1)) {
                channelBlock(thread, task, block, end);
                const int o = task / channels;
                if (unfinished[static_cast<std::size_t>(o)].fetch_sub(1, std::memory_order_acq_rel) == 1)
                    handOver(o);
            }
        });
    }

    // The last frames' tails and the silence after them.
    const int capacity = kBlockFrames * hop;
    for (int o = 0; o < count; ++o) {
        for (;;) {
            int done = 0;
            for (int c = 0; c < channels; ++c) {
                ChannelState& s = state[static_cast<std::size_t>(o * channels + c)];
                s.count = done = s.overlap.drain(s.staged.data(), capacity);
            }
            if (done == 0)
                break;
            handOver(o);
        }
        streams[static_cast<std::size_t>(o)]->finish();
    }
}

}  // namespace tessavo
