// Losses given cell by cell: the Kullback-Leibler divergence in that form
// gives the hand-written KL engines' bits through both schedules, and a
// loss whose denominators vary from cell to cell gives the same bits
// through both, for any thread count and with fixed rows of H.

#include "factorisation/CellLoss.h"
#include "factorisation/FactorStart.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/PlainSchedule.h"

#include "support/Engines.h"
#include "support/Numbers.h"

#include <gtest/gtest.h>

using namespace tessavo;
using namespace tessavo::test;

namespace {

struct KlCells {
    static double num(double v, double wh) { return v / (kNmfEpsilon + wh); }
    static double den(double, double) { return 1.0; }
    static double term(double v, double wh) { return klTerm(v, wh); }
};

// Euclidean numerators and denominators cell by cell, with a plain square
// as the objective's term.
struct SquareCells {
    static double num(double v, double) { return v; }
    static double den(double, double wh) { return wh; }
    static double term(double v, double wh) { return (v - wh) * (v - wh); }
};

template <class P>
void expectBothSchedulesAgree(bool againstKl)
{
    const int frames = 27, bins = 45;
    Matrix v = magnitudes(frames, bins, 41);
    v[3][7] = 0.0;  // a silent cell
    for (int fixedRows : {0, 2}) {
        const Matrix fixed = fixedRows ? filledMatrix(fixedRows, bins, 42) : Matrix();
        const auto start = [&] {
            RandomStream random;
            return drawStart(frames, bins, fixed, 3, random);
        };
        const auto reference = [&]() -> std::unique_ptr<Factoriser> {
            if (againstKl)
                return std::make_unique<PlainKl>(v, start());
            return std::make_unique<PlainSchedule>(v, start(), std::make_unique<PlainCells<P>>());
        };
        if (againstKl) {
            PlainSchedule plain(v, start(), std::make_unique<PlainCells<P>>());
            EXPECT_TRUE(sameSteps(plain, *reference(), 5)) << "fixed rows " << fixedRows;
        }
        for (int threads : {1, 2, 3, 8}) {
            StartFactors s = start();
            const auto fast = makeFastCells<P>(v, s.w, s.h, s.fixedRows, threads);
            EXPECT_TRUE(sameSteps(*fast, *reference(), 5)) << "fixed rows " << fixedRows << ", " << threads
                                                           << " threads";
        }
    }
}

}  // namespace

TEST(CellLoss, KlInCellsGivesTheKlEnginesBits) { expectBothSchedulesAgree<KlCells>(true); }

TEST(CellLoss, BothSchedulesAgreeWhereDenominatorsVaryByCell) { expectBothSchedulesAgree<SquareCells>(false); }
