#include "separation/Pipeline.h"

#include "factorisation/Random.h"
#include "separation/OutputStage.h"
#include "separation/SeparationError.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

void requireFinite(const Matrix& m)
{
    if (!std::all_of(m.data(), m.data() + m.size(), [](double x) { return std::isfinite(x); }))
        throw OverflowError();
}

void requireFinite(const std::vector<SampleBuffer>& signals)
{
    for (const SampleBuffer& channel : signals)
        if (!std::all_of(channel.data(), channel.data() + channel.length(), [](float x) { return std::isfinite(x); }))
            throw OverflowError();
}

}  // namespace

OutputPlan outputPlan(const SeparationSettings& settings)
{
    OutputPlan plan;
    int row = 0;
    for (int rows : settings.sourceRows) {
        std::vector<int> group;
        for (int r = 0; r < rows; ++r)
            group.push_back(row++);
        plan.groups.push_back(group);
    }
    for (int k = 0; k < settings.components; ++k)
        plan.groups.push_back({row + k});
    plan.mode = settings.mask;
    plan.power = settings.maskPower;
    return plan;
}

void separate(std::vector<SampleBuffer>&& channels, const SeparationSettings& settings, Engine engine,
              std::ostream* progress, SeparationSink& sink)
{
    Spectra spectra = analyse(std::move(channels), settings.transform, engine, settings.threads);
    sink.stepDone("analysis");

    RandomStream random;
    Factors f;
    {
        const auto factoriser = makeFactoriser(engine, settings.loss, spectra.v, settings.templates,
                                               settings.components, random, settings.threads);
        f = runLoop(*factoriser, settings.loop, progress);
    }
    requireFinite(f.w);
    requireFinite(f.h);
    sink.stepDone("factorisation");

    sink.factors(f.w, f.h);
    synthesiseOutputs(spectra, f.w, f.h, outputPlan(settings), settings.transform, engine, settings.threads,
                      [&](int index, const std::vector<SampleBuffer>& signals) {
                          requireFinite(signals);
                          sink.output(index, signals);
                      });
    sink.stepDone("outputs");
}

}  // namespace tessavo
