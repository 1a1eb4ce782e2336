// A penalty added through the schedules' hook: both schedules add its terms
// to the same elements with the same values, for either loss, any thread
// count and fixed rows of H, and its objective joins the loss's.

#include "factorisation/EuclideanLoss.h"
#include "factorisation/FactorStart.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/KlLoss.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/PlainEuclidean.h"

#include "support/Engines.h"
#include "support/Numbers.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

// Each activation drawn towards its neighbours in time, scaled by its
// column's mean square (a state beginPass makes), and H pulled towards
// zero: each term reads a different element than the one it updates.
class Smoothing : public Penalty {
public:
    void beginPass(const Matrix& w, const Matrix&) override
    {
        scale_.assign(static_cast<std::size_t>(w.cols()), 0.0);
        for (int i = 0; i < w.rows(); ++i)
            for (int k = 0; k < w.cols(); ++k)
                scale_[k] = scale_[k] + w[i][k] * w[i][k];
        for (double& s : scale_)
            s = 0.5 / (1e-9 + s);
    }
    void weightTerms(const Matrix& w, int i, int k, double& num, double& den) const override
    {
        const double before = i > 0 ? w[i - 1][k] : w[i][k];
        const double after = i + 1 < w.rows() ? w[i + 1][k] : w[i][k];
        num = num + scale_[k] * (before + after);
        den = den + scale_[k] * 2.0 * w[i][k];
    }
    void spectraTerms(const Matrix& h, int k, int j, double&, double& den) const override
    {
        den = den + 0.01 * (1.0 + h[k][j]);
    }
    double objective(const Matrix& w, const Matrix& h) const override
    {
        double sum = 0.0;
        for (int i = 1; i < w.rows(); ++i)
            for (int k = 0; k < w.cols(); ++k)
                sum = sum + (w[i][k] - w[i - 1][k]) * (w[i][k] - w[i - 1][k]) * scale_[k];
        for (int k = 0; k < h.rows(); ++k)
            for (int j = 0; j < h.cols(); ++j)
                sum = sum + 0.01 * h[k][j];
        return sum;
    }

private:
    std::vector<double> scale_;
};

}  // namespace

TEST(Penalty, BothSchedulesAddItAlikeForEitherLossThreadCountAndFixedRows)
{
    const int frames = 29, bins = 70;
    const Matrix v = magnitudes(frames, bins, 31);
    for (bool kl : {false, true})
        for (int fixedRows : {0, 2}) {
            const Matrix fixed = fixedRows ? filledMatrix(fixedRows, bins, 32) : Matrix();
            const auto start = [&] {
                RandomStream random;
                return drawStart(frames, bins, fixed, 3, random);
            };
            const auto plain = [&](bool penalised) -> std::unique_ptr<PlainSchedule> {
                std::unique_ptr<PlainLoss> loss;
                if (kl)
                    loss = std::make_unique<PlainKlLoss>();
                else
                    loss = std::make_unique<PlainEuclidean>();
                return std::make_unique<PlainSchedule>(v, start(), std::move(loss),
                                                       penalised ? std::make_unique<Smoothing>() : nullptr);
            };
            SCOPED_TRACE(::testing::Message() << (kl ? "kl" : "euclidean") << ", fixed rows " << fixedRows);
            // The penalty's objective joins the loss's (for the distance, as
            // twice its part under the root), and it changes the updates.
            const StartFactors s = start();
            Smoothing alone;
            alone.beginPass(s.w, s.h);
            const double loss = kl ? klDivergence(v, s.w, s.h) : objective(v, s.w, s.h);
            const auto penalised = plain(true);
            const auto free = plain(false);
            const double penalty = alone.objective(s.w, s.h);
            EXPECT_TRUE(sameBits(penalised->step(), kl ? loss + penalty : penalisedDistance(loss, penalty)));
            free->step();
            penalised->step();
            free->step();
            EXPECT_FALSE(sameBits(penalised->measuredW(), free->measuredW()));
            EXPECT_FALSE(sameBits(penalised->measuredH(), free->measuredH()));
            for (int threads : {1, 2, 3, 8}) {
                StartFactors f = start();
                const auto fast = kl ? makeFastKl(v, f.w, f.h, f.fixedRows, threads, bestKlKernels(),
                                                  std::make_unique<Smoothing>())
                                     : makeFastEuclidean(v, f.w, f.h, f.fixedRows, threads, bestSweepKernels(),
                                                         std::make_unique<Smoothing>());
                EXPECT_TRUE(sameSteps(*fast, *plain(true), 5)) << threads << " threads";
            }
        }
}
