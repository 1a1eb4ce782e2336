// Outputs' resynthesis, stereo, one minute at the default sizes, with direct
// reconstruction and with soft masks: one output alone, and ten rebuilt
// together as a run rebuilds them (the block's cosines and sines shared).
// The soft masks' shares are made once, outside the timing, as in a run.

#include "separation/OutputPlan.h"
#include "separation/OutputRows.h"
#include "separation/Resynthesis.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <thread>

using namespace tessavo;

namespace {

constexpr int kFrames = 1264, kBins = 4096, kComponents = 10;

Matrix filled(int rows, int cols, std::uint32_t seed, double scale)
{
    Matrix m(rows, cols);
    for (int i = 0; i < m.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        m.data()[i] = scale * static_cast<double>(seed >> 8) / 16777216.0;
    }
    return m;
}

// Discards the samples, as a writer that costs nothing would.
class Discard : public SignalStream {
public:
    void write(const float* const* channels, int frames) override
    {
        benchmark::DoNotOptimize(channels[0][frames - 1]);
    }
    void finish() override {}
};

// outputs outputs rebuilt together, as a run rebuilds them; padded: the
// padded transform, each sample divided by its squared windows.
void someOutputs(benchmark::State& state, MaskMode mode, bool padded = false)
{
    const int outputs = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    Matrix v = filled(kFrames, kBins, 1, 1.0);
    Matrix angle = filled(kFrames, kBins, 6, 1.57);
    const Matrix w = filled(kFrames, kComponents, 2, 1.0);
    const Matrix h = filled(kComponents, kBins, 3, 0.1);
    OutputPlan plan = componentPlan(kComponents);
    plan.mode = mode;
    const bool soft = mode == MaskMode::soft;
    const OutputRows model = soft ? OutputRows::soft(std::move(v), Matrix(angle.clone()), w, h, plan, threads)
                                  : OutputRows::direct(v, w, h, plan);
    const Matrix left = filled(kFrames, kBins, 4, 6.28), right = filled(kFrames, kBins, 5, 6.28);
    InputPhases phases;
    phases.channels = {&left, &right};
    if (!soft)
        phases.angle = &angle;
    Resynthesis resynthesis(threads, 4, 2 * kBins, 2 * kBins, padded);
    // The input length whose padded analysis has kFrames rows.
    const int hop = 2 * kBins / 4;
    const int samples = (kFrames - 1) * hop - 3 * hop + 1;
    std::vector<Discard> sinks(static_cast<std::size_t>(outputs));
    std::vector<int> list;
    std::vector<SignalStream*> streams;
    for (int o = 0; o < outputs; ++o) {
        list.push_back(1 + o);
        streams.push_back(&sinks[static_cast<std::size_t>(o)]);
    }
    for (auto _ : state)
        resynthesis.synthesise(model, list, phases, samples, streams);
    state.counters["per output ms"] =
        benchmark::Counter(1e3 / outputs, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_OutputDirect(benchmark::State& state) { someOutputs(state, MaskMode::direct); }
void BM_OutputSoft(benchmark::State& state) { someOutputs(state, MaskMode::soft); }
void BM_OutputDirectPadded(benchmark::State& state) { someOutputs(state, MaskMode::direct, true); }
void BM_OutputSoftPadded(benchmark::State& state) { someOutputs(state, MaskMode::soft, true); }

}  // namespace

BENCHMARK(BM_OutputDirect)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OutputSoft)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OutputDirectPadded)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OutputSoftPadded)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
