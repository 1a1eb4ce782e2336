#pragma once
// How much memory a separation holds at its peak, from the input's length
// and the settings, before anything big is allocated: the sum of what each
// step says it holds, step by step.

#include "factorisation/Loss.h"
#include "separation/OutputPlan.h"

namespace tessavo {

// What the separation's size depends on.
struct RunShape {
    long long frames = 0;  // per channel
    int channels = 1;
    int fftLength = 0;     // transform length
    int overlap = 1;
    int components = 0;    // fixed and free together
    int threads = 1;
    Loss loss = Loss::euclidean;
    MaskMode mask = MaskMode::direct;
    bool pad = false;
};

struct MemoryNeed {
    double withoutFactors = 0;  // bytes at the peak of a run with no components
    double total = 0;           // bytes at the peak of this run
};

// The peak of the fast separation's largest allocations, with what the
// program itself (code, libraries, buffers) takes.
MemoryNeed separationMemory(const RunShape& shape);

}  // namespace tessavo
