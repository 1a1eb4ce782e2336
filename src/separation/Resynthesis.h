#pragma once
// The outputs' resynthesis, fast and with the same numbers as forming each
// output's magnitude matrix, splitting it by the stereo angle and calling
// Stft::synthesise with the input's phases.
//
// Several outputs are rebuilt together, a block of frames at a time: the
// cosines and sines of the block's phases (and stereo angle) are computed
// once for all of them, each output's magnitude is formed row by row as
// the synthesis needs it, and its samples go to its stream as soon as they
// are complete. No output is ever held whole, and no table of cosines
// beside the input's own matrices is kept. The channels of the outputs are
// shared by the threads.

#include "core/Matrix.h"
#include "separation/OutputRows.h"
#include "separation/SignalStream.h"
#include "spectral/Stft.h"

#include <memory>
#include <vector>

namespace tessavo {

// What the resynthesis reads of the input: each channel's phases and, for a
// stereo input rebuilt directly, the angle between the channels. All of one
// shape, frames × bins.
struct InputPhases {
    std::vector<const Matrix*> channels;
    const Matrix* angle = nullptr;
};

class Resynthesis {
public:
    // Up to threads synthesisers, each built like the run's synthesiser.
    Resynthesis(int threads, int overlap, int windowLength, int fftLength, bool padded = false,
                VectorVariant variant = bestVariant());

    // Rebuilds outputs[i] of model into streams[i], for every i, then
    // finishes the streams in order on the calling thread. samples: the
    // analysed input's length. The stereo angle splits the outputs when the
    // model's reconstruction is direct and the input stereo.
    void synthesise(const OutputRows& model, const std::vector<int>& outputs, const InputPhases& phases,
                    int samples, const std::vector<SignalStream*>& streams);

    // The length in samples of every output rebuilt from rows frames of the
    // analysis of samples samples.
    int signalLength(int rows, int samples) const
    {
        return synthesisers_.front()->synthesisFrames(rows, samples).length;
    }

    // Bytes held while outputs outputs of channels channels are rebuilt
    // together with threads threads.
    static double memoryBytes(int outputs, int channels, int fftLength, int overlap, int threads, bool padded);

private:
    std::vector<std::unique_ptr<Stft>> synthesisers_;
};

}  // namespace tessavo
