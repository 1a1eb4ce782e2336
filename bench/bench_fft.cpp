// The real FFT at three lengths (8192 is the program's default): the fast
// transforms, which compute several butterflies per vector, against the
// plain scalar ones that give the same bits. Times are per transform.

#include "spectral/RealFft.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<float> signal(int n)
{
    std::vector<float> x(static_cast<std::size_t>(n));
    std::uint32_t state = 2024;
    for (float& v : x) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>((state >> 8) * 0x1p-23 - 1.0);
    }
    return x;
}

template <bool kFast>
void forwardRun(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    tessavo::RealFft fft(n);
    const std::vector<float> x = signal(n);
    std::vector<float> f(static_cast<std::size_t>(n));
    for (auto _ : state) {
        if (kFast)
            fft.forward(f.data(), x.data());
        else
            fft.forwardPlain(f.data(), x.data());
        benchmark::DoNotOptimize(f.data());
        benchmark::ClobberMemory();
    }
}

template <bool kFast>
void inverseRun(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    tessavo::RealFft fft(n);
    const std::vector<float> x = signal(n);
    std::vector<float> f(static_cast<std::size_t>(n)), y(static_cast<std::size_t>(n));
    fft.forwardPlain(f.data(), x.data());
    for (auto _ : state) {
        if (kFast)
            fft.inverse(f.data(), y.data());
        else
            fft.inversePlain(f.data(), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
}

void BM_FftForwardFast(benchmark::State& state) { forwardRun<true>(state); }
void BM_FftForwardPlain(benchmark::State& state) { forwardRun<false>(state); }
void BM_FftInverseFast(benchmark::State& state) { inverseRun<true>(state); }
void BM_FftInversePlain(benchmark::State& state) { inverseRun<false>(state); }

void lengths(benchmark::internal::Benchmark* b)
{
    b->Arg(1024)->Arg(8192)->Arg(32768);
    b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_FftForwardFast)->Apply(lengths);
BENCHMARK(BM_FftForwardPlain)->Apply(lengths);
BENCHMARK(BM_FftInverseFast)->Apply(lengths);
BENCHMARK(BM_FftInversePlain)->Apply(lengths);
