// The Itakura-Saito loss as the program wires it: the floored divergence,
// plain = fast bit for bit, a falling objective, zero cells and level, a run.

#include "factorisation/ActivationPenalty.h"
#include "factorisation/ItakuraSaito.h"
#include "separation/FactorisationLoop.h"

#include "support/Engines.h"
#include "support/Numbers.h"
#include "support/Program.h"
#include "support/TestFiles.h"
#include "support/Variants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

using namespace tessavo;
using namespace tessavo::test;

namespace {

std::unique_ptr<Factoriser> engine(Engine kind, const Matrix& v, const Matrix& fixed = Matrix(), int threads = 2)
{
    RandomStream random;
    return makeFactoriser(kind, Loss::is, v, fixed, 3, random, threads);
}

// magnitudes() (a zero row and column) with its first frames silent, scaled.
Matrix withSilence(int silent, double scale = 1.0)
{
    Matrix v = magnitudes(24, 40, 17);
    for (int i = 0; i < silent; ++i)
        std::fill(v[i], v[i] + 40, 0.0);
    v *= Matrix(24, 40, scale);
    return v;
}

}  // namespace

// The first objective, written out with the C library's log.
TEST(ItakuraSaito, ObjectiveIsTheFlooredDivergence)
{
    const Matrix v = withSilence(2);
    RandomStream random;
    const StartFactors start = drawStart(24, 40, Matrix(), 3, random);
    const Matrix p = matmul(start.w, start.h);
    double mean = 0.0, expected = 0.0;
    for (int c = 0; c < 24 * 40; ++c)
        mean += v.data()[c] / (24 * 40);
    for (int c = 0; c < 24 * 40; ++c) {
        const double q = std::max(v.data()[c], 1e-6 * mean) / (1e-9 + p.data()[c]);
        expected += q - std::log(q) - 1.0;
    }
    for (Engine kind : {Engine::plain, Engine::fast})
        EXPECT_NEAR(engine(kind, v)->step(), expected, 1e-10 * expected);
}

// The program's fast engine (the best variant's kernels), and FastCells'
// scalar terms, which the kernels must match.
TEST(ItakuraSaito, FastEngineGivesThePlainBitsAndAFallingObjective)
{
    const Matrix v = withSilence(2);
    for (int fixedRows : {0, 2})
        for (int threads : {1, 2, 3, 8})
            EXPECT_TRUE(sameSteps(*engine(Engine::fast, v, filledMatrix(fixedRows, 40, 42), threads),
                                  *engine(Engine::plain, v, filledMatrix(fixedRows, 40, 42)), 5))
                << "fixed rows " << fixedRows << ", " << threads << " threads";
    RandomStream random;
    StartFactors start = drawStart(24, 40, Matrix(), 3, random);
    const auto cells = makeCellsIs(v, start.w, start.h, 0, 2);
    EXPECT_TRUE(sameSteps(*cells, *makePlainIs(v, std::move(start)), 5));
    const auto is = engine(Engine::fast, v);
    double last = is->step();
    for (int pass = 0; pass < 60; ++pass) {
        const double now = is->step();
        EXPECT_LE(now, last * (1 + 1e-12)) << "pass " << pass;
        last = now;
    }
}

class IsVariant : public EachVariant {};
TESSAVO_FOR_EACH_VARIANT(IsVariant);

// Each kernel path (K up to 4 fused, more in chunks; bins past a chunk and
// not in whole vectors; a short last block), silent rows and cells, with
// and without a penalty, which the schedule adds to the kernels' sums.
TEST_P(IsVariant, VectorEngineGivesThePlainBits)
{
    struct Shape {
        int frames, bins, components;
    };
    const Shape shapes[] = {{9, 21, 3}, {23, 300, 4}, {17, 70, 8}, {12, 45, 6}};
    const ActivationWeights penalties[] = {{}, {0.3, 0.2}};
    for (const Shape& s : shapes) {
        Matrix v = magnitudes(s.frames, s.bins, static_cast<std::uint32_t>(s.frames * 7 + s.bins));
        std::fill(v[1], v[1] + s.bins, 0.0);
        for (int c = 0; c < s.frames * s.bins; c += 5)
            v.data()[c] = 0.0;
        for (const ActivationWeights& weights : penalties)
            for (int fixedRows : {0, 2})
                for (int threads : {1, 2, 3, 8}) {
                    SCOPED_TRACE(::testing::Message() << s.frames << "x" << s.bins << " K=" << s.components
                                                      << " fixed " << fixedRows << " penalty " << weights.continuity
                                                      << " threads " << threads);
                    RandomStream random;
                    StartFactors start =
                        drawStart(s.frames, s.bins, filledMatrix(fixedRows, s.bins, 42), s.components - fixedRows, random);
                    const auto fast = makeFastIs(v, start.w, start.h, start.fixedRows, threads, isKernels(GetParam()),
                                                 makeActivationPenalty(Loss::is, v, weights));
                    const auto plain = makePlainIs(v, std::move(start), makeActivationPenalty(Loss::is, v, weights));
                    EXPECT_TRUE(sameSteps(*fast, *plain, 5));
                }
    }
}

// Silence (and an all-zero V) keeps everything finite. V × 4 gives W·H × 4
// and the objective of V, at a level where ε (absolute) is far below δ.
TEST(ItakuraSaito, ZeroCellsAreFlooredInProportionToV)
{
    for (const Matrix& v : {withSilence(6), Matrix(8, 16, 0.0)}) {
        const auto is = engine(Engine::fast, v);
        for (int pass = 0; pass < 40; ++pass)
            ASSERT_TRUE(std::isfinite(is->step())) << "pass " << pass;
        const Matrix p = matmul(is->measuredW(), is->measuredH());
        EXPECT_TRUE(std::all_of(p.data(), p.data() + p.rows() * p.cols(), [](double x) { return std::isfinite(x); }));
    }
    const Matrix v = withSilence(6, 1024.0), louder = withSilence(6, 4096.0);
    EXPECT_EQ(isFloor(louder), 4.0 * isFloor(v));
    const auto quiet = engine(Engine::fast, v), loud = engine(Engine::fast, louder);
    for (int pass = 0; pass < 39; ++pass)
        quiet->step(), loud->step();
    const double objective = quiet->step();
    EXPECT_NEAR(loud->step(), objective, 1e-6 * objective);
    const Matrix a = matmul(quiet->measuredW(), quiet->measuredH());
    const Matrix b = matmul(loud->measuredW(), loud->measuredH());
    const double scale = *std::max_element(b.data(), b.data() + 24 * 40);
    for (int c = 0; c < 24 * 40; ++c)
        ASSERT_NEAR(b.data()[c], 4.0 * a.data()[c], 1e-5 * scale) << "cell " << c;
}

// The program on a real recording: IS falls pass by pass, and is not KL.
TEST(ItakuraSaito, WholeRunOnARecording)
{
    ScratchDir dir;
    std::filesystem::copy_file(std::string(TESSAVO_SOURCE_DIR) + "/examples/mixture.wav", dir.file("m.wav"));
    std::string w[2];
    for (int run : {0, 1}) {
        const RunResult r = runTessavo(
            {"m.wav", "3", "-f", "1024", "-i", "25", "-c", "0", "-m", "--loss", run ? "kl" : "is"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        std::vector<double> objective;
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("objective: ", 0) == 0)
                objective.push_back(std::stod(line.substr(11)));
        ASSERT_EQ(objective.size(), 24u) << r.out;
        EXPECT_TRUE(std::is_sorted(objective.rbegin(), objective.rend())) << r.out;
        w[run] = readFile(dir.file("m.wav-W.txt"));
    }
    EXPECT_FALSE(w[0].empty());
    EXPECT_NE(w[0], w[1]);
}
