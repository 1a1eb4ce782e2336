#pragma once
// A whole separation, written once: analysis, factorisation with its
// progress lines, then the residual and every component rebuilt as sound.
// The program, the plain reference run and the fuzz target all call it; the
// engine decides how each step computes, never what.

#include "factorisation/Loss.h"
#include "core/Matrix.h"
#include "separation/Analysis.h"
#include "separation/Engine.h"
#include "separation/FactorisationLoop.h"
#include "separation/OutputPlan.h"
#include "separation/OutputStage.h"
#include "separation/RunObserver.h"
#include "separation/SignalStream.h"
#include "spectral/SampleBuffer.h"

#include <memory>
#include <ostream>
#include <vector>

namespace tessavo {

struct SeparationSettings {
    TransformSettings transform;
    LoopSettings loop;
    int components = 10;  // free components, besides the templates
    int threads = 1;
    Loss loss = Loss::euclidean;
    // Fixed rows of H (templates × bins, or empty), and how many of them
    // each named source takes, in order: source s has the next sourceRows[s].
    Matrix templates;
    std::vector<int> sourceRows;
    MaskMode mask = MaskMode::direct;
    double maskPower = 2.0;
    int seed = 1;  // the random start's first state
    // With sources > 0 the free components are grouped into that many
    // sources, which replace them among the outputs; the grouping reads
    // pitches, so it needs the input's sample rate.
    int sources = 0;
    double sampleRate = 44100.0;
    ActivationWeights penalties;  // the continuity and sparseness options
};

// The outputs of a separation after its residual: the named sources, each
// the sum of its templates' components, then each free component alone, or
// with sourceOf (each free component's source) each source's components.
OutputPlan outputPlan(const SeparationSettings& settings, const std::vector<int>& sourceOf = {});

// Where the results of a separation go.
class SeparationSink {
public:
    virtual ~SeparationSink() = default;
    // The final factors, before any output is formed.
    virtual void factors(const Matrix& w, const Matrix& h) = 0;
    // With sources, each free component's source, before any output.
    virtual void groups(const std::vector<int>& /*sourceOf*/) {}
    // False: the run ends with the factors and groups, rebuilding no sound.
    virtual bool wantsSounds() const { return true; }
    // The stream of one output: index 0 the residual, then the named
    // sources in order, then the free components; channels signals of
    // frames samples each. Several may be open at once, each written from
    // one thread at a time; they are finished in index order.
    virtual std::unique_ptr<SignalStream> openOutput(int index, int channels, int frames) = 0;
    // How many outputs may be open at once (at most kOutputsAtOnce count).
    virtual int outputsAtOnce() const { return kOutputsAtOnce; }
    // Called as each step ends ("analysis", "factorisation", "outputs").
    virtual void stepDone(const char* /*step*/) {}
};

// A sink that takes each output whole, once its stream is finished.
class WholeOutputSink : public SeparationSink {
public:
    std::unique_ptr<SignalStream> openOutput(int index, int channels, int frames) override;
    // One output's channel signals; called on the separating thread.
    virtual void output(int index, const std::vector<SampleBuffer>& channels) = 0;
};

// Separates the channels (one or two, released as soon as they are
// analysed). The random start comes from a stream of the run's own, from
// state 1, as drawStart says. progress receives the loop's lines, or nothing when null. The observer,
// when not null, is told of each step as it begins (from analysing on), of
// every pass and of every output written. Throws OverflowError when the
// numbers stop being finite, before the sink receives anything non-finite,
// and SeparationError for too many components.
void separate(std::vector<SampleBuffer>&& channels, const SeparationSettings& settings, Engine engine,
              std::ostream* progress, SeparationSink& sink, RunObserver* observer = nullptr);

}  // namespace tessavo
