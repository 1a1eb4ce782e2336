// One pass of the factorisation loop (updateW, updateH, objective) on
// spectrogram-sized matrices: the fast path with all cores and with one, the
// plain product-by-product path, and the serial floor that the objective's
// single running sum imposes. Prints the ratios after the runs.

#include "factorisation/FastNmf.h"
#include "factorisation/NmfFactoriser.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

using namespace tessavo;

namespace {

// A magnitude spectrogram's shape of values: loud low bins, a long quiet
// tail, frame-to-frame level changes.
Matrix spectrogramLike(int frames, int bins)
{
    Matrix v(frames, bins);
    std::uint32_t state = 12345;
    for (int i = 0; i < frames; ++i) {
        const double level = 0.2 + 0.8 * std::fabs(std::sin(i * 0.05));
        for (int j = 0; j < bins; ++j) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 8) / 16777216.0;
            v[i][j] = level * std::exp(-j / 400.0) * noise * 0.05;
        }
    }
    return v;
}

struct Problem {
    Matrix v;
    std::unique_ptr<NmfFactoriser> plain;
};

// Built once per shape and reused, so the plain runs start from factors that
// have converged a little, as in a real run.
Problem& problem(int frames, int bins, int k)
{
    static std::map<std::string, Problem> cache;
    const std::string key = std::to_string(frames) + "x" + std::to_string(bins) + "k" + std::to_string(k);
    auto it = cache.find(key);
    if (it == cache.end()) {
        Problem p;
        p.v = spectrogramLike(frames, bins);
        p.plain = std::make_unique<NmfFactoriser>(p.v, k);
        it = cache.emplace(key, std::move(p)).first;
    }
    return it->second;
}

int allCores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void fastPass(benchmark::State& state, int threads)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    FastNmf fast(p.v, p.plain->w(), p.plain->h(), threads);
    for (int i = 0; i < 10; ++i)
        fast.step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast.step());
}

void BM_FastPass(benchmark::State& state) { fastPass(state, allCores()); }
void BM_FastPassOneThread(benchmark::State& state) { fastPass(state, 1); }

void BM_PlainPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    for (auto _ : state) {
        p.plain->updateW();
        p.plain->updateH();
        benchmark::DoNotOptimize(objective(p.v, p.plain->w(), p.plain->h()));
    }
}

// The objective's one running sum of d × d over every cell, in order, with
// V and W·H already in memory: no pass can be faster than this chain.
void BM_SerialFloor(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const Matrix product = matmul(p.plain->w(), p.plain->h());
    const double* v = p.v.data();
    const double* q = product.data();
    const int n = p.v.size();
    for (auto _ : state) {
        double s = 0.0;
        for (int i = 0; i < n; ++i) {
            const double d = v[i] - q[i];
            s = s + d * d;
        }
        benchmark::DoNotOptimize(s);
    }
}

void shapes(benchmark::internal::Benchmark* b)
{
    b->Args({1264, 4096, 4})->Args({1264, 4096, 16})->Args({3877, 4096, 10});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SerialFloor)->Apply(shapes);
BENCHMARK(BM_FastPass)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_FastPassOneThread)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_PlainPass)->Apply(shapes)->Iterations(2);

// Keeps each run's time per iteration, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nthreads for BM_FastPass: %d\n", allCores());
    for (const char* shape : {"1264/4096/4", "1264/4096/16", "3877/4096/10"}) {
        auto time = [&](const char* name) {
            auto it = reporter.times.find(std::string(name) + "/" + shape);
            if (it == reporter.times.end())
                it = reporter.times.find(std::string(name) + "/" + shape + "/real_time");
            if (it == reporter.times.end())
                it = reporter.times.find(std::string(name) + "/" + shape + "/iterations:2");
            return it == reporter.times.end() ? NAN : it->second;
        };
        const double floor = time("BM_SerialFloor");
        const double fast = time("BM_FastPass");
        const double one = time("BM_FastPassOneThread");
        const double plain = time("BM_PlainPass");
        std::printf("%-13s pass/floor %.2f (one thread %.2f); plain/pass %.1f (one thread %.1f)\n", shape,
                    fast / floor, one / floor, plain / fast, plain / one);
    }
    return 0;
}
