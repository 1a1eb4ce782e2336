#pragma once
// The last step of a separation: the residual, then every output of the
// plan, each rebuilt as sound with the input's phases (for stereo, split
// back into left and right by the input's angle).

#include "core/Matrix.h"
#include "separation/Analysis.h"
#include "separation/Engine.h"
#include "separation/OutputPlan.h"
#include "separation/SignalStream.h"

#include <functional>
#include <memory>

namespace tessavo {

// Opens the stream of output index (0 the residual, g + 1 the plan's group
// g), of channels channels and frames samples each.
using OutputOpener = std::function<std::unique_ptr<SignalStream>(int index, int channels, int frames)>;

// Whether the transform rebuilds no sample at all of an input of samples
// samples: unpadded, one shorter than a transform gives silent outputs.
bool rebuildsNothing(int samples, const TransformSettings& t);

// At most this many outputs are rebuilt at once.
constexpr int kOutputsAtOnce = 64;

// Rebuilds the outputs of w and h from the spectra of an input of samples
// samples into the streams open() gives, outputs in order, up to atOnce of
// them open together. The spectra are used up: with soft masks the fast
// engine turns V and the angle into the channels' shares in place.
void synthesiseOutputs(Spectra&& spectra, int samples, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       const TransformSettings& t, Engine engine, int threads, int atOnce,
                       const OutputOpener& open);

// Bytes the fast output step holds besides the spectra and the factors,
// for outputs outputs of channels channels.
double outputStageMemory(int outputs, int channels, const TransformSettings& t, int threads);

}  // namespace tessavo
