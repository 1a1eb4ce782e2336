#include "separation/SeparationMemory.h"

#include "separation/Analysis.h"
#include "separation/FactorisationLoop.h"
#include "separation/OutputStage.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

// The program itself (code, libraries, stream buffers) beside what is counted.
constexpr double kFixedBytes = 32.0 * (1 << 20);

}  // namespace

MemoryNeed separationMemory(const RunShape& s)
{
    const TransformSettings t{s.fftLength, s.overlap, s.pad};
    const double frames = static_cast<double>(s.frames);
    const double rows = analysisRows(frames, t);
    const double bins = s.fftLength / 2.0;
    const double cells = rows * bins * 8.0;  // one frames × bins matrix

    const double analysing = analysisMemory(frames, s.channels, t, s.threads);
    // Factorising: V and the phases (and the stereo angle) beside the engine.
    const double spectra = (s.channels == 2 ? 4.0 : 2.0) * cells;
    const auto peak = [&](double k) {
        const double factors = (rows * k + k * bins) * 8.0;
        // Writing: the same matrices (soft masks turn V and the angle into
        // the channels' shares in place), the final W and H, and the outputs
        // in flight: the residual and at most one per component.
        const double outputs = outputStageMemory(static_cast<int>(k) + 1, s.channels, t, s.threads);
        return kFixedBytes + std::max({analysing, spectra + factorisationMemory(s.loss, rows, bins, k, s.threads),
                                       spectra + factors + outputs});
    };
    return MemoryNeed{peak(0), peak(s.components)};
}

}  // namespace tessavo
