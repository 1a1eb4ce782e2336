// One output's resynthesis, stereo, one minute at the default sizes, with
// direct reconstruction and with soft masks: the cost a run pays per output.
// The tables (phases' and stereo angle's cosines and sines, or the soft
// masks' shares) are made once, outside the timing, as in a run.

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

void oneOutput(benchmark::State& state, MaskMode mode)
{
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    Matrix v = filled(kFrames, kBins, 1, 1.0);
    Matrix angle = filled(kFrames, kBins, 6, 1.57);
    const Matrix w = filled(kFrames, kComponents, 2, 1.0);
    const Matrix h = filled(kComponents, kBins, 3, 0.1);
    OutputPlan plan = componentPlan(kComponents);
    plan.mode = mode;
    const bool soft = mode == MaskMode::soft;
    const OutputRows model = soft ? OutputRows(v, angle, w, h, plan, threads) : OutputRows(v, w, h, plan);
    InputPhases phases;
    phases.channels.push_back(takeTrigTable(filled(kFrames, kBins, 4, 6.28), threads));
    phases.channels.push_back(takeTrigTable(filled(kFrames, kBins, 5, 6.28), threads));
    if (!soft)
        phases.angle = takeTrigTable(std::move(angle), threads);
    Resynthesis resynthesis(threads, 4, 44100, 2 * kBins, 2 * kBins);
    const std::vector<int> outputs{3};
    resynthesis.synthesise(model, outputs, phases);
    for (auto _ : state)
        benchmark::DoNotOptimize(resynthesis.synthesise(model, outputs, phases)[0][0].data());
}

void BM_OutputDirect(benchmark::State& state) { oneOutput(state, MaskMode::direct); }
void BM_OutputSoft(benchmark::State& state) { oneOutput(state, MaskMode::soft); }

}  // namespace

BENCHMARK(BM_OutputDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OutputSoft)->Unit(benchmark::kMillisecond)->UseRealTime();
