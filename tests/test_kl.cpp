// The Kullback-Leibler engines: the updates against values worked out by
// hand (in double precision, one operation at a time, in the order the
// header gives), fast against plain bit for bit, and fixed rows of H that no
// pass changes, for either loss.

#include "factorisation/FactorStart.h"
#include "factorisation/KlLoss.h"
#include "factorisation/EuclideanLoss.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/NmfFactoriser.h"

#include "support/Engines.h"
#include "support/Numbers.h"
#include "support/Variants.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>

using namespace tessavo;
using namespace tessavo::test;

namespace {

Matrix fromRows(int rows, int cols, std::initializer_list<double> values)
{
    Matrix m(rows, cols);
    std::copy(values.begin(), values.end(), m.data());
    return m;
}

StartFactors startOf(const Matrix& w, const Matrix& h, int fixedRows)
{
    return StartFactors{w.clone(), h.clone(), fixedRows};
}

}  // namespace

TEST(KlDivergence, OneUpdatePairOnAWorkedCase)
{
    // A zero in V in each row: those cells contribute W·H alone.
    const Matrix v = fromRows(2, 3, {1.0, 2.0, 0.0, 0.5, 0.0, 3.0});
    const Matrix w = fromRows(2, 2, {0.5, 1.0, 2.0, 0.25});
    const Matrix h = fromRows(2, 3, {1.0, 0.5, 0.25, 0.75, 2.0, 1.0});

    EXPECT_EQ(klDivergence(v, w, h), 5.524720194910445);
    PlainKl plain(v, startOf(w, h, 0));
    plain.updateW();
    EXPECT_TRUE(sameBits(plain.w(), fromRows(2, 2, {0.3555555551130864, 0.634074073566288, 1.4040816302075023,
                                                    0.2780952376602993})));
    plain.updateH();
    EXPECT_TRUE(sameBits(plain.h(), fromRows(2, 3, {0.49052175048933194, 0.13974564813142282, 0.9512616820935841,
                                                    0.6981814418554417, 1.922996461322032, 1.4538140537315523})));
    EXPECT_EQ(klDivergence(v, plain.w(), plain.h()), 2.7425078610532845);

    const auto fast = makeFastKl(v, w, h, 0, 2);
    EXPECT_EQ(fast->step(), 5.524720194910445);
    EXPECT_EQ(fast->step(), 2.7425078610532845);
}

TEST(KlDivergence, TermsOfSilentCellsAndEqualCells)
{
    EXPECT_EQ(klTerm(0.0, 0.75), 0.75);
    EXPECT_EQ(klTerm(0.0, 0.0), 0.0);
    // V = W·H: ε inside the logarithm leaves a term of about −V·ε/V.
    EXPECT_NEAR(klTerm(2.0, 2.0), -1e-9, 1e-12);
    // W·H = 0 where V > 0: finite, thanks to ε.
    EXPECT_TRUE(std::isfinite(klTerm(1.0, 0.0)));
}

class KlVariant : public EachVariant {};
TESSAVO_FOR_EACH_VARIANT(KlVariant);

// Blocks of eight rows and short last blocks, chunks of 256 columns and
// short ones, K on both sides of the specialised counts, fixed rows from
// none to all.
TEST_P(KlVariant, FastEngineGivesThePlainBits)
{
    struct Shape {
        int frames, bins, components, fixed;
    };
    const Shape shapes[] = {{1, 7, 2, 0}, {23, 1, 3, 1}, {9, 16, 0, 0}, {12, 33, 4, 2}, {31, 45, 5, 5}, {40, 130, 6, 0},
                            {17, 70, 8, 3}, {10, 300, 1, 0}, {9, 520, 9, 4}, {16, 257, 16, 16}};
    for (const Shape& s : shapes) {
        const Matrix v = magnitudes(s.frames, s.bins, static_cast<std::uint32_t>(s.frames * 7 + s.bins));
        const Matrix fixed = filledMatrix(s.fixed, s.bins, 3, 2.0, 0.0);
        for (int threads : {1, 2, 3, 4, 8}) {
            SCOPED_TRACE(::testing::Message() << s.frames << "x" << s.bins << " K=" << s.components << " fixed "
                                              << s.fixed << " threads=" << threads);
            RandomStream random;
            StartFactors start = drawStart(s.frames, s.bins, fixed, s.components - s.fixed, random);
            const auto fast = makeFastKl(v, start.w, start.h, start.fixedRows, threads, klKernels(GetParam()));
            PlainKl plain(v, std::move(start));
            EXPECT_TRUE(sameSteps(*fast, plain, 6));
        }
    }
}

// Quotients outside the normal range (subnormal, from V's tiniest values)
// take the lane-by-lane logarithm; the bits stay the plain ones.
TEST_P(KlVariant, SubnormalQuotientsKeepThePlainBits)
{
    Matrix v = magnitudes(16, 40, 9);
    for (int i = 0; i < 16; i += 3)
        for (int j = i % 5; j < 40; j += 7)
            v[i][j] = j % 2 == 0 ? 4.9406564584124654e-324 : 1e-310;
    RandomStream random;
    StartFactors start = drawStart(16, 40, Matrix(), 3, random);
    const auto fast = makeFastKl(v, start.w, start.h, 0, 2, klKernels(GetParam()));
    PlainKl plain(v, std::move(start));
    EXPECT_TRUE(sameSteps(*fast, plain, 4));
}

TEST(KlDivergence, NeverGrowsFromOnePassToTheNext)
{
    const Matrix v = magnitudes(30, 40, 5);
    RandomStream random;
    const StartFactors start = drawStart(30, 40, Matrix(), 4, random);
    const auto kl = makeFastKl(v, start.w, start.h, 0, 2);
    double last = kl->step();
    for (int pass = 0; pass < 50; ++pass) {
        const double now = kl->step();
        EXPECT_LE(now, last * (1 + 1e-12)) << "pass " << pass;
        last = now;
    }
}

TEST(FixedRows, NoPassChangesThemForEitherLossOrEngine)
{
    const int frames = 19, bins = 21, fixedRows = 2, free = 2;
    const Matrix v = magnitudes(frames, bins, 11);
    const Matrix fixed = filledMatrix(fixedRows, bins, 12, 1.0, 0.0);
    const auto make = [&](int engine) -> std::unique_ptr<Factoriser> {
        RandomStream random;
        StartFactors start = drawStart(frames, bins, fixed, free, random);
        switch (engine) {
        case 0: return std::make_unique<NmfFactoriser>(v, std::move(start));
        case 1: return makeFastEuclidean(v, start.w, start.h, start.fixedRows, 2);
        case 2: return std::make_unique<PlainKl>(v, std::move(start));
        default: return makeFastKl(v, start.w, start.h, start.fixedRows, 2);
        }
    };
    for (int engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine);
        const auto f = make(engine);
        const Matrix startH = f->measuredH();
        for (int pass = 0; pass < 300; ++pass)
            f->step();
        const Matrix h = f->measuredH();
        for (int k = 0; k < fixedRows + free; ++k) {
            bool same = true;
            for (int j = 0; j < bins; ++j)
                same = same && bits(h[k][j]) == bits(startH[k][j]);
            EXPECT_EQ(same, k < fixedRows) << "row " << k;  // the free rows do change
        }
    }
}

TEST(FixedRows, EuclideanFastEngineGivesThePlainBitsWithThem)
{
    // Some rows fixed (all fixed: SweepVariant.AllRowsOfHFixedGiveThePlainBits).
    const Matrix v = magnitudes(37, 50, 21);
    const Matrix fixed = filledMatrix(3, 50, 22, 1.0, 0.0);
    for (int threads : {1, 2, 3, 4, 8}) {
        RandomStream random;
        StartFactors start = drawStart(37, 50, fixed, 2, random);
        const auto fast = makeFastEuclidean(v, start.w, start.h, start.fixedRows, threads);
        NmfFactoriser plain(v, std::move(start));
        EXPECT_TRUE(sameSteps(*fast, plain, 6)) << threads << " threads";
    }
}

TEST(FactorStart, DrawsAllOfWThenTheFreeRowsOfH)
{
    const Matrix fixed = filledMatrix(2, 5, 1);
    RandomStream a, b;
    const StartFactors unsupervised = drawStart(4, 5, Matrix(), 3, a);
    const StartFactors supervised = drawStart(4, 5, fixed, 1, b);
    // Without templates: the plain factoriser's start, W then H.
    RandomStream c;
    const Matrix v = filledMatrix(4, 5, 2);
    const NmfFactoriser nmf(v, 3, c);
    EXPECT_TRUE(sameBits(unsupervised.w, nmf.w()));
    EXPECT_TRUE(sameBits(unsupervised.h, nmf.h()));
    // With two templates and one free component: W is 4 × 3, the same
    // draws; the free row of H is the first row an unsupervised start draws.
    EXPECT_TRUE(sameBits(supervised.w, unsupervised.w));
    EXPECT_EQ(supervised.fixedRows, 2);
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(bits(supervised.h[0][j]), bits(fixed[0][j]));
        EXPECT_EQ(bits(supervised.h[1][j]), bits(fixed[1][j]));
        EXPECT_EQ(bits(supervised.h[2][j]), bits(unsupervised.h[0][j]));
    }
    EXPECT_THROW(drawStart(4, 6, fixed, 1, b), std::invalid_argument);
    EXPECT_THROW(drawStart(4, 5, fixed, -1, b), std::invalid_argument);
}
