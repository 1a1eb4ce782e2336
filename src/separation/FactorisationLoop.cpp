#include "separation/FactorisationLoop.h"

#include "factorisation/ActivationPenalty.h"
#include "factorisation/FactorStart.h"
#include "factorisation/EuclideanLoss.h"
#include "factorisation/FastSchedule.h"
#include "factorisation/ItakuraSaito.h"
#include "factorisation/KlDivergence.h"
#include "factorisation/KlLoss.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/PlainEuclidean.h"
#include "separation/SeparationError.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

namespace tessavo {

std::unique_ptr<Factoriser> makeFactoriser(Engine engine, Loss loss, const Matrix& v, const Matrix& fixed,
                                           int components, RandomStream& random, int threads,
                                           const ActivationWeights& weights)
{
    try {
        StartFactors start = drawStart(v.rows(), v.cols(), fixed, components, random);
        std::unique_ptr<Penalty> penalty = makeActivationPenalty(loss, v, weights);
        if (engine == Engine::plain) {
            std::unique_ptr<PlainLoss> plain;
            if (loss == Loss::kl)
                plain = std::make_unique<PlainKlLoss>();
            else if (loss == Loss::is)
                return makePlainIs(v, std::move(start), std::move(penalty));
            else
                plain = std::make_unique<PlainEuclidean>();
            return std::make_unique<PlainSchedule>(v, std::move(start), std::move(plain), std::move(penalty));
        }
        if (loss == Loss::kl)
            return makeFastKl(v, start.w, start.h, start.fixedRows, threads, bestKlKernels(), std::move(penalty));
        if (loss == Loss::is)
            return makeFastIs(v, start.w, start.h, start.fixedRows, threads, bestIsKernels(), std::move(penalty));
        return makeFastEuclidean(v, start.w, start.h, start.fixedRows, threads, bestSweepKernels(),
                                 std::move(penalty));
    } catch (const std::length_error&) {
    } catch (const std::bad_alloc&) {
    }
    const long long all = static_cast<long long>(fixed.rows()) + components;
    throw SeparationError("Not able to hold " + std::to_string(all) + " components for " +
                          std::to_string(v.rows()) + " frames and " + std::to_string(v.cols()) +
                          " bins: too many components\n");
}

double factorisationMemory(Loss loss, double frames, double bins, double components, int threads)
{
    const double terms = loss == Loss::kl   ? KlLoss::memoryBytes(frames, bins, components)
                         : loss == Loss::is ? isMemoryBytes(frames, bins, components)
                                            : EuclideanLoss::memoryBytes(frames, bins, components);
    return FastSchedule::memoryBytes(frames, bins, components, threads) + terms +
           (frames * components + components * bins) * 8.0;
}

Factors runLoop(Factoriser& factoriser, const LoopSettings& settings, std::ostream* progress,
                RunObserver* observer)
{
    const auto measured = [&factoriser] {
        const double objective = factoriser.step();
        if (!std::isfinite(objective))
            throw OverflowError();
        return objective;
    };
    const double start = factoriser.step();  // the initial update pair, and the start's objective
    double old = measured();                  // the objective after it
    const int limit = std::max(1, settings.maxiterations);
    if (observer)
        observer->pass({1, limit, old, start, limit == 1});
    for (int i = 1; i < settings.maxiterations; ++i) {
        const double now = measured();
        if (progress)
            *progress << "objective: " << old << std::endl;
        const double change = std::fabs(now - old);
        // A change of exactly 0 ends the relative rule too, where old is 0.
        const bool small = settings.tolerance > 0.0
                               ? change < settings.tolerance * std::fabs(old) || change == 0.0
                               : change < settings.criteria;
        if (observer)
            observer->pass({i + 1, limit, now, old, small || i + 1 == limit});
        if (small) {
            if (progress)
                *progress << "done in " << i << " iterations" << std::endl;
            break;
        }
        old = now;
    }
    return Factors{factoriser.measuredW(), factoriser.measuredH()};
}

}  // namespace tessavo
