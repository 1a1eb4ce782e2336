// One pass of the factorisation loop (updateW, updateH, objective) on
// spectrogram-sized matrices: the fast path with all cores and with one, the
// plain product-by-product path, and the serial floor that the objective's
// single running sum imposes; the same passes for the Kullback-Leibler loss. After the registered benchmarks (select them
// with --benchmark_filter, or none with --benchmark_filter=none) it prints
// the ratios from alternating samples; --rounds=N sets how many (0: none).

#include "factorisation/CellLoss.h"
#include "factorisation/EuclideanLoss.h"
#include "factorisation/FastSchedule.h"
#include "factorisation/ItakuraSaito.h"
#include "factorisation/KlLoss.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/NmfFactoriser.h"
#include "core/VectorVariants.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
    RandomStream random;
    std::unique_ptr<NmfFactoriser> plain;  // refers to v: a Problem never moves once made
};

// Built once per shape and reused, so the plain runs start from factors that
// have converged a little, as in a real run.
Problem& problem(int frames, int bins, int k)
{
    static std::map<std::string, Problem> cache;
    const std::string key = std::to_string(frames) + "x" + std::to_string(bins) + "k" + std::to_string(k);
    auto it = cache.find(key);
    if (it == cache.end()) {
        it = cache.try_emplace(key).first;
        Problem& p = it->second;
        p.v = spectrogramLike(frames, bins);
        p.plain = std::make_unique<NmfFactoriser>(p.v, k, p.random);
    }
    return it->second;
}

// The vector variant the fast passes run (--variant=NAME; the widest this
// processor runs unless given), so that every variant can be timed on one
// machine.
VectorVariant chosenVariant = bestVariant();

const SweepKernels& kernels() { return sweepKernels(chosenVariant); }
const KlKernels& klKernelsChosen() { return klKernels(chosenVariant); }
const IsKernels& isKernelsChosen() { return isKernels(chosenVariant); }

int allCores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void fastPass(benchmark::State& state, int threads)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fastptr = makeFastEuclidean(p.v, p.plain->w(), p.plain->h(), 0, threads, kernels());
    Factoriser& fast = *fastptr;
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
double serialFloor(const Matrix& v, const Matrix& product);

void BM_SerialFloor(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const Matrix product = matmul(p.plain->w(), p.plain->h());
    for (auto _ : state)
        benchmark::DoNotOptimize(serialFloor(p.v, product));
}

void shapes(benchmark::internal::Benchmark* b)
{
    b->Args({1264, 4096, 4})->Args({1264, 4096, 16})->Args({3877, 4096, 10});
    b->Unit(benchmark::kMillisecond);
}

// The losses side by side: one minute of audio at three sizes of K, and the
// three minutes.
void lossShapes(benchmark::internal::Benchmark* b)
{
    b->Args({1264, 4096, 4})->Args({1264, 4096, 10})->Args({1264, 4096, 16})->Args({3877, 4096, 10});
    b->Unit(benchmark::kMillisecond);
}

// The shapes the comparison with the Python peer uses (bench/peer-pass): one
// and three minutes of audio, from few components to many.
void peerShapes(benchmark::internal::Benchmark* b)
{
    for (int frames : {1264, 3792})
        for (int k : {4, 10, 16, 32, 64})
            b->Args({frames, 4096, k});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_SerialFloor)->Apply(shapes);
BENCHMARK(BM_FastPass)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_FastPassOneThread)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_PlainPass)->Apply(shapes)->Iterations(2);

void klPass(benchmark::State& state, int threads)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fastptr = makeFastKl(p.v, p.plain->w(), p.plain->h(), 0, threads, klKernelsChosen());
    Factoriser& fast = *fastptr;
    for (int i = 0; i < 3; ++i)
        fast.step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast.step());
}

void BM_KlPass(benchmark::State& state) { klPass(state, allCores()); }

// The same loss given cell by cell, on the schedule's scalar path for such
// losses: what a new loss runs at before it has vector terms of its own.
struct KlCells {
    static double num(double v, double wh) { return v / (kNmfEpsilon + wh); }
    static double den(double, double) { return 1.0; }
    static double term(double v, double wh) { return klTerm(v, wh); }
};

void BM_KlCellsPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fast = makeFastCells<KlCells>(p.v, p.plain->w(), p.plain->h(), 0, allCores());
    fast->step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast->step());
}

// The Itakura-Saito loss with its vector kernels, and on that same scalar
// path beside it.
void BM_IsPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fast = makeFastIs(p.v, p.plain->w(), p.plain->h(), 0, allCores(), isKernelsChosen());
    for (int i = 0; i < 3; ++i)
        fast->step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast->step());
}

void BM_IsCellsPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fast = makeCellsIs(p.v, p.plain->w(), p.plain->h(), 0, allCores());
    fast->step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast->step());
}
void BM_KlPassOneThread(benchmark::State& state) { klPass(state, 1); }

void BM_PlainKlPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    PlainKl plain(p.v, StartFactors{p.plain->w().clone(), p.plain->h().clone(), 0});
    for (auto _ : state)
        benchmark::DoNotOptimize(plain.step());
}

// Every row of H fixed (fully supervised templates): the H half is left out.
void BM_FixedPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fastptr = makeFastEuclidean(p.v, p.plain->w(), p.plain->h(), p.plain->h().rows(), allCores(), kernels());
    Factoriser& fast = *fastptr;
    for (int i = 0; i < 10; ++i)
        fast.step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast.step());
}

void BM_KlFixedPass(benchmark::State& state)
{
    Problem& p = problem(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                         static_cast<int>(state.range(2)));
    const auto fastptr = makeFastKl(p.v, p.plain->w(), p.plain->h(), p.plain->h().rows(), allCores(), klKernelsChosen());
    Factoriser& fast = *fastptr;
    for (int i = 0; i < 3; ++i)
        fast.step();
    for (auto _ : state)
        benchmark::DoNotOptimize(fast.step());
}

BENCHMARK(BM_FixedPass)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_KlFixedPass)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_KlPass)->Apply(lossShapes)->UseRealTime();
BENCHMARK(BM_KlCellsPass)->Apply(lossShapes)->UseRealTime();
BENCHMARK(BM_IsPass)->Apply(lossShapes)->UseRealTime();
BENCHMARK(BM_IsCellsPass)->Apply(lossShapes)->UseRealTime();
BENCHMARK(BM_FastPass)->Name("BM_PeerFastPass")->Apply(peerShapes)->UseRealTime();
BENCHMARK(BM_KlPass)->Name("BM_PeerKlPass")->Apply(peerShapes)->UseRealTime();
BENCHMARK(BM_KlPassOneThread)->Apply(shapes)->UseRealTime();
BENCHMARK(BM_PlainKlPass)->Apply(shapes)->Iterations(1);

double serialFloor(const Matrix& v, const Matrix& product)
{
    const double* a = v.data();
    const double* q = product.data();
    const int n = v.size();
    double s = 0.0;
    for (int i = 0; i < n; ++i) {
        const double d = a[i] - q[i];
        s = s + d * d;
    }
    return s;
}

template <typename F>
double millisecondsOf(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(f());
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> xs)
{
    std::sort(xs.begin(), xs.end());
    const std::size_t n = xs.size();
    return n % 2 == 1 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2.0;
}

// On a shared virtual machine the speed of memory and of the second core
// drifts by tens of percent from one second to the next. The ratios therefore
// come from samples taken in turn (floor, pass, one-thread pass, floor, ...),
// so that the drift touches all of them alike, and compare medians. Each
// timed pass of the fast path follows an untimed one, as passes do in a run.
void printRatios(int rounds)
{
    std::printf("\nratios from %d rounds of alternating samples, %d threads for the pass (medians, ms)\n",
                rounds, allCores());
    std::printf("%-13s %8s %8s %8s %9s %10s %10s\n", "shape", "floor", "pass", "1 thread", "plain", "pass/floor",
                "plain/pass");
    const int shapes[][3] = {{1264, 4096, 4}, {1264, 4096, 16}, {3877, 4096, 10}};
    for (const auto& shape : shapes) {
        Problem& p = problem(shape[0], shape[1], shape[2]);
        const Matrix product = matmul(p.plain->w(), p.plain->h());
        const auto fastptr = makeFastEuclidean(p.v, p.plain->w(), p.plain->h(), 0, allCores(), kernels());
    Factoriser& fast = *fastptr;
        const auto oneptr = makeFastEuclidean(p.v, p.plain->w(), p.plain->h(), 0, 1, kernels());
    Factoriser& one = *oneptr;
        for (int i = 0; i < 10; ++i) {
            fast.step();
            one.step();
        }
        std::vector<double> floors, passes, singles, plains;
        for (int r = 0; r < rounds; ++r) {
            floors.push_back(millisecondsOf([&] { return serialFloor(p.v, product); }));
            // In the loop one pass follows another and the worker thread is
            // awake; after the floor's few milliseconds it may have gone to
            // sleep, so an untimed pass wakes it first.
            fast.step();
            passes.push_back(millisecondsOf([&] { return fast.step(); }));
            singles.push_back(millisecondsOf([&] { return one.step(); }));
            if (r % 8 == 0)
                plains.push_back(millisecondsOf([&] {
                    p.plain->updateW();
                    p.plain->updateH();
                    return objective(p.v, p.plain->w(), p.plain->h());
                }));
        }
        const double floor = median(floors), pass = median(passes), single = median(singles), plain = median(plains);
        std::printf("%4d/%d/%-3d %8.2f %8.2f %8.2f %9.1f %10.2f %10.1f\n", shape[0], shape[1], shape[2], floor, pass,
                    single, plain, pass / floor, plain / pass);
    }
}

// The machine's rate of independent double multiplications and additions
// (no FMA), per second on every core at once, in the widest vectors the
// program uses here: twelve independent chains per thread.
typedef double Eight __attribute__((vector_size(64)));

// Kind 0: multiplications; 1: additions; 2: a multiplication and an
// addition (a product's step, counted as two operations).
template <typename V, int Lanes, int Kind>
__attribute__((always_inline)) inline double chains(long rounds)
{
    V a[12];
    for (int i = 0; i < 12; ++i)
        for (int l = 0; l < Lanes; ++l)
            a[i][l] = 1.0 + i * 1e-3 + l * 1e-4;
    const V c = a[0] * 0.0 + (Kind != 1 ? 0.9999999 : 1e-9);
    const V d = a[0] * 0.0 + 1e-9;
    for (long r = 0; r < rounds; ++r)
        for (int i = 0; i < 12; ++i)
            a[i] = Kind == 0 ? a[i] * c : Kind == 1 ? a[i] + c : a[i] * c + d;
    double s = 0.0;
    for (int i = 0; i < 12; ++i)
        s += a[i][0];
    return s;
}

typedef double Four __attribute__((vector_size(32)));

template <int Kind>
__attribute__((target("avx512f"))) double chainsAvx512(long rounds)
{
    return chains<Eight, 8, Kind>(rounds);
}

template <int Kind>
__attribute__((target("avx2"))) double chainsAvx2(long rounds)
{
    return chains<Four, 4, Kind>(rounds);
}

typedef double Two __attribute__((vector_size(16)));

template <int Kind>
double chainsOfVariant(long rounds)
{
    switch (chosenVariant) {
    case VectorVariant::avx512: return chainsAvx512<Kind>(rounds);
    case VectorVariant::avx2: return chainsAvx2<Kind>(rounds);
    default: return chains<Two, 2, Kind>(rounds);
    }
}

// Operations per second on allCores() threads at once, in the vectors of the
// variant the passes run.
template <int Kind>
double rate()
{
    const int lanes = chosenVariant == VectorVariant::avx512 ? 8 : chosenVariant == VectorVariant::avx2 ? 4 : 2;
    const long rounds = 20000000;
    std::vector<double> perSecond;
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<std::thread> threads;
        const auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < allCores(); ++t)
            threads.emplace_back([&] {
                benchmark::DoNotOptimize(chainsOfVariant<Kind>(rounds));
            });
        for (std::thread& t : threads)
            t.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        perSecond.push_back(static_cast<double>(rounds) * 12 * lanes * allCores() * (Kind == 2 ? 2 : 1) / seconds);
    }
    return median(perSecond);
}

// A loss that times the calls the schedule makes on its own thread (the
// pass's beginning, the objective's walk and the H half's beginning), the
// part of a pass that no other thread shares besides the schedule's own
// table copies.
class TimedLoss : public FastLoss {
public:
    explicit TimedLoss(std::unique_ptr<FastLoss> loss) : loss_(std::move(loss)) {}
    double serialMs = 0.0;

    void beginPass(const PassFactors& f) override { timed([&] { loss_->beginPass(f); return 0.0; }); }
    void blockTerms(const PassFactors& f, int block, BlockSpace& space) override { loss_->blockTerms(f, block, space); }
    bool followsBlocks() const override { return loss_->followsBlocks(); }
    void followBlock(const PassFactors& f, int thread, int threads, int block) override
    {
        loss_->followBlock(f, thread, threads, block);
    }
    double objective(const PassFactors& f) override { return timed([&] { return loss_->objective(f); }); }
    void beginH(const PassFactors& f, ThreadTeam& team) override { timed([&] { loss_->beginH(f, team); return 0.0; }); }
    void columnTerms(const PassFactors& f, int first, int end, double* num, double* den) override
    {
        loss_->columnTerms(f, first, end, num, den);
    }

private:
    template <typename F>
    double timed(F&& f)
    {
        const auto start = std::chrono::steady_clock::now();
        const double x = f();
        serialMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return x;
    }
    std::unique_ptr<FastLoss> loss_;
};

// The bars of the fast passes, every figure from samples taken in turn in
// one run: the Euclidean pass against the objective's serial chain alone
// (floor) and against the arithmetic bound (the multiplications and
// additions of its products at the machine's rates, measured here, no FMA);
// the KL pass against the Euclidean one; one thread against all; and the
// share of a one-thread pass spent on the calling thread alone.
void printBounds(int rounds)
{
    const double muls = rate<0>(), adds = rate<1>(), mixed = rate<2>();
    std::printf("\nmachine, %d threads, %s vectors, no FMA: %.1f G multiplications/s, %.1f G additions/s, "
                "%.1f G operations/s as multiplication-addition pairs\n",
                allCores(), variantName(chosenVariant), muls / 1e9, adds / 1e9, mixed / 1e9);
    std::printf("medians of %d rounds, ms; eu = Euclidean pass on %d threads, 1t = on one thread\n", rounds,
                allCores());
    std::printf("%-13s %7s %7s %7s %8s %7s %8s %7s %7s %7s %9s\n", "shape", "chain", "arith", "eu", "eu/chain",
                "eu/ari", "kl", "kl/eu", "eu 1t", "eu/1t", "serial %");
    for (int frames : {1264, 3792})
        for (int k : {4, 10, 16, 32, 64}) {
            Problem& p = problem(frames, 4096, k);
            const Matrix product = matmul(p.plain->w(), p.plain->h());
            const Matrix& w = p.plain->w();
            const Matrix& h = p.plain->h();
            const auto fast = makeFastEuclidean(p.v, w, h, 0, allCores(), kernels());
            const auto kl = makeFastKl(p.v, w, h, 0, allCores(), klKernelsChosen());
            auto timedLoss = std::make_unique<TimedLoss>(
                std::make_unique<EuclideanLoss>(p.v.rows(), p.v.cols(), w.cols(), kernels()));
            TimedLoss& timed = *timedLoss;
            FastSchedule one(p.v, w, h, 0, 1, std::move(timedLoss));
            for (int i = 0; i < 5; ++i) {
                fast->step();
                kl->step();
                one.step();
            }
            std::vector<double> floors, passes, kls, singles, serial;
            for (int r = 0; r < rounds; ++r) {
                floors.push_back(millisecondsOf([&] { return serialFloor(p.v, product); }));
                fast->step();  // wakes the team, as the pass before does in a run
                passes.push_back(millisecondsOf([&] { return fast->step(); }));
                kl->step();
                kls.push_back(millisecondsOf([&] { return kl->step(); }));
                timed.serialMs = 0.0;
                singles.push_back(millisecondsOf([&] { return one.step(); }));
                serial.push_back(timed.serialMs);
            }
            // W·H, (W·H)·Hᵀ, V·Hᵀ and Wᵀ·V: F·B·K each; Wᵀ·W and (Wᵀ·W)·H:
            // K²·F and K²·B; the objective: F·B.
            const double f = frames, b = 4096, kk = k;
            const double each = 4 * f * b * kk + kk * kk * (f + b) + f * b;
            // A product's step is a multiplication and an addition.
            const double arithmetic = 2.0 * each / mixed * 1e3;
            const double floor = median(floors), pass = median(passes), klPass = median(kls),
                         single = median(singles);
            std::printf("%4d/%d/%-3d %7.2f %7.2f %7.2f %8.2f %7.2f %8.2f %7.2f %7.2f %7.2f %9.2f\n", frames, 4096, k,
                        floor, arithmetic, pass, pass / floor, pass / arithmetic, klPass, klPass / pass, single,
                        pass / single, 100.0 * median(serial) / single);
        }
}

}  // namespace

// Writes V and the start of the peer shapes as raw doubles (row by row) for
// bench/peer-pass: DIR/v-F.bin, DIR/w-F-K.bin, DIR/h-F-K.bin.
int writeProblems(const std::string& dir)
{
    const auto write = [&](const std::string& name, const Matrix& m) {
        std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
        const bool ok = f && std::fwrite(m.data(), sizeof(double), static_cast<std::size_t>(m.size()), f) ==
                                 static_cast<std::size_t>(m.size());
        if (f)
            std::fclose(f);
        return ok;
    };
    for (int frames : {1264, 3792})
        for (int k : {4, 10, 16, 32, 64}) {
            Problem& p = problem(frames, 4096, k);
            const std::string shape = std::to_string(frames) + "-" + std::to_string(k);
            if ((k == 4 && !write("v-" + std::to_string(frames) + ".bin", p.v)) ||
                !write("w-" + shape + ".bin", p.plain->w()) || !write("h-" + shape + ".bin", p.plain->h())) {
                std::fprintf(stderr, "cannot write the problems into %s\n", dir.c_str());
                return 1;
            }
        }
    return 0;
}

int main(int argc, char** argv)
{
    int rounds = 40;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind("--rounds=", 0) == 0)
            rounds = std::max(0, std::atoi(argv[i] + 9));
        else if (std::string(argv[i]).rfind("--variant=", 0) == 0) {
            const std::string name = argv[i] + 10;
            bool known = false;
            for (VectorVariant v : builtVariants())
                if (name == variantName(v) && runsHere(v)) {
                    chosenVariant = v;
                    known = true;
                }
            if (!known) {
                std::fprintf(stderr, "variant %s is not built or does not run here\n", name.c_str());
                return 1;
            }
        } else if (std::string(argv[i]).rfind("--write-problems=", 0) == 0)
            return writeProblems(argv[i] + 17);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    if (rounds > 0) {
        printRatios(rounds);
        printBounds(std::max(1, rounds / 4));
    }
    return 0;
}
