#pragma once
// The last step of a separation: the residual, then every output of the
// plan, each rebuilt as sound with the input's phases (for stereo, split
// back into left and right by the input's angle).

#include "factorisation/Matrix.h"
#include "separation/Analysis.h"
#include "separation/Engine.h"
#include "separation/OutputPlan.h"
#include "spectral/SampleBuffer.h"

#include <functional>
#include <vector>

namespace tessavo {

// Receives each output's channel signals, in order: index 0 is the
// residual, index g + 1 the plan's group g. The buffers live until the call
// returns.
using OutputDelivery = std::function<void(int index, const std::vector<SampleBuffer>& channels)>;

// Rebuilds the outputs of w and h from spectra, which the step uses up (the
// fast engine turns the phases into their cosines and sines in place; with
// direct reconstruction it gives V's memory to the stereo angle's table once
// the residual is done, with soft masks it turns V and the angle into the
// channels' shares).
void synthesiseOutputs(Spectra& spectra, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       const TransformSettings& t, Engine engine, int threads, const OutputDelivery& deliver);

// Bytes the fast output step holds besides the spectra and the factors.
double outputStageMemory(double samples, int channels, const TransformSettings& t, int threads);

}  // namespace tessavo
