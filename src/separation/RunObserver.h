#pragma once
// What a separation tells of its course as it goes: the step it is in, each
// pass of the factorisation, each output written. An observer only reads
// values the run has anyway, so watching a run never changes its numbers.

namespace tessavo {

enum class RunPhase { reading, analysing, factorising, grouping, writing };

// One pass of the factorisation loop.
struct PassReport {
    int pass;          // update pairs done so far, 1 to limit
    int limit;         // the most the loop runs (maxiterations, at least 1)
    double objective;  // of the factors after those pairs
    double previous;   // of the factors before the last pair
    bool last;         // the loop stops after this pass
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // A step begins.
    virtual void phase(RunPhase) {}
    virtual void pass(const PassReport&) {}
    // Output written of count is complete (they complete in order, 1 first).
    virtual void outputWritten(int /*written*/, int /*count*/) {}
};

}  // namespace tessavo
