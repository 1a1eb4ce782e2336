#include "separation/FactorisationLoop.h"

#include "factorisation/FastNmf.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/PlainEuclidean.h"
#include "separation/SeparationError.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

namespace tessavo {

std::unique_ptr<Factoriser> makeFactoriser(Engine engine, const Matrix& v, int components, RandomStream& random,
                                           int threads)
{
    try {
        if (engine == Engine::plain)
            return std::make_unique<PlainEuclidean>(v, components, random);
        // The fast engine starts from the plain start: the same draws.
        const NmfFactoriser start(v, components, random);
        return std::make_unique<FastNmf>(v, start.w(), start.h(), threads);
    } catch (const std::length_error&) {
    } catch (const std::bad_alloc&) {
    }
    throw SeparationError("Not able to hold " + std::to_string(components) + " components for " +
                          std::to_string(v.rows()) + " frames and " + std::to_string(v.cols()) +
                          " bins: too many components\n");
}

double factorisationMemory(double frames, double bins, double components)
{
    return FastNmf::memoryBytes(frames, bins, components) + (frames * components + components * bins) * 8.0;
}

Factors runLoop(Factoriser& factoriser, const LoopSettings& settings, std::ostream* progress)
{
    const auto measured = [&factoriser] {
        const double objective = factoriser.step();
        if (!std::isfinite(objective))
            throw OverflowError();
        return objective;
    };
    factoriser.step();          // the initial update pair
    double old = measured();    // the objective after it
    for (int i = 1; i < settings.maxiterations; ++i) {
        const double now = measured();
        if (progress)
            *progress << "objective: " << old << std::endl;
        if (std::fabs(now - old) < settings.criteria) {
            if (progress)
                *progress << "done in " << i << " iterations" << std::endl;
            break;
        }
        old = now;
    }
    return Factors{factoriser.measuredW(), factoriser.measuredH()};
}

}  // namespace tessavo
