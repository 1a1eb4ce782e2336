#include "separation/Pipeline.h"

#include "factorisation/Random.h"
#include "grouping/SourceGrouping.h"
#include "separation/OutputStage.h"
#include "separation/SeparationError.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace tessavo {

namespace {

void requireFinite(const Matrix& m)
{
    if (!std::all_of(m.data(), m.data() + m.size(), [](double x) { return std::isfinite(x); }))
        throw OverflowError();
}

// Passes an output's samples on once they are known to be finite, and tells
// the observer (when there is one) as each output is complete.
class FiniteStream : public SignalStream {
public:
    FiniteStream(std::unique_ptr<SignalStream> to, int channels, RunObserver* observer, int index, int outputs)
        : to_(std::move(to)), channels_(channels), observer_(observer), index_(index), outputs_(outputs)
    {
    }
    void write(const float* const* channels, int frames) override
    {
        for (int c = 0; c < channels_; ++c)
            if (!std::all_of(channels[c], channels[c] + frames, [](float x) { return std::isfinite(x); }))
                throw OverflowError();
        to_->write(channels, frames);
    }
    void finish() override
    {
        to_->finish();
        if (observer_)
            observer_->outputWritten(index_ + 1, outputs_);
    }

private:
    std::unique_ptr<SignalStream> to_;
    int channels_;
    RunObserver* observer_;
    int index_;
    int outputs_;
};

// Gathers an output whole for a WholeOutputSink.
class GatheringStream : public SignalStream {
public:
    GatheringStream(WholeOutputSink& sink, int index, int channels, int frames) : sink_(sink), index_(index)
    {
        for (int c = 0; c < channels; ++c)
            signals_.emplace_back(frames);
    }
    void write(const float* const* channels, int frames) override
    {
        for (std::size_t c = 0; c < signals_.size(); ++c)
            std::copy(channels[c], channels[c] + frames, signals_[c].data() + filled_);
        filled_ += frames;
    }
    void finish() override { sink_.output(index_, signals_); }

private:
    WholeOutputSink& sink_;
    int index_;
    std::vector<SampleBuffer> signals_;
    int filled_ = 0;
};

}  // namespace

std::unique_ptr<SignalStream> WholeOutputSink::openOutput(int index, int channels, int frames)
{
    return std::make_unique<GatheringStream>(*this, index, channels, frames);
}

OutputPlan outputPlan(const SeparationSettings& settings, const std::vector<int>& sourceOf)
{
    OutputPlan plan;
    int row = 0;
    for (int rows : settings.sourceRows) {
        std::vector<int> group;
        for (int r = 0; r < rows; ++r)
            group.push_back(row++);
        plan.groups.push_back(group);
    }
    if (sourceOf.empty()) {
        for (int k = 0; k < settings.components; ++k)
            plan.groups.push_back({row + k});
    } else {
        for (int s = 0; s < settings.sources; ++s) {
            std::vector<int> group;
            for (int k = 0; k < settings.components; ++k)
                if (sourceOf[static_cast<std::size_t>(k)] == s)
                    group.push_back(row + k);
            plan.groups.push_back(group);
        }
    }
    plan.mode = settings.mask;
    plan.power = settings.maskPower;
    return plan;
}

void separate(std::vector<SampleBuffer>&& channels, const SeparationSettings& settings, Engine engine,
              std::ostream* progress, SeparationSink& sink, RunObserver* observer)
{
    const auto begin = [observer](RunPhase p) {
        if (observer)
            observer->phase(p);
    };
    begin(RunPhase::analysing);
    const int samples = channels.empty() ? 0 : channels.front().length();
    Spectra spectra = analyse(std::move(channels), settings.transform, engine, settings.threads);
    sink.stepDone("analysis");

    begin(RunPhase::factorising);
    RandomStream random(static_cast<std::uint32_t>(settings.seed));
    Factors f;
    {
        const auto factoriser = makeFactoriser(engine, settings.loss, spectra.v, settings.templates,
                                               settings.components, random, settings.threads, settings.penalties);
        f = runLoop(*factoriser, settings.loop, progress, observer);
    }
    requireFinite(f.w);
    requireFinite(f.h);
    sink.stepDone("factorisation");

    std::vector<int> sourceOf;
    if (settings.sources > 0) {
        begin(RunPhase::grouping);
        const FeatureSource described{f.w, f.h, spectra.v, spectra.angle,
                                      settings.sampleRate / settings.transform.fftLength};
        sourceOf = groupComponents(described, settings.templates.rows(), settings.sources);
    }
    begin(RunPhase::writing);
    sink.factors(f.w, f.h);
    sink.groups(sourceOf);
    const OutputPlan plan = outputPlan(settings, sourceOf);
    const int outputs = 1 + static_cast<int>(plan.groups.size());
    if (sink.wantsSounds())
        synthesiseOutputs(std::move(spectra), samples, f.w, f.h, plan, settings.transform, engine,
                          settings.threads, sink.outputsAtOnce(), [&](int index, int count, int frames) {
                              return std::make_unique<FiniteStream>(sink.openOutput(index, count, frames), count,
                                                                    observer, index, outputs);
                          });
    sink.stepDone("outputs");
}

}  // namespace tessavo
