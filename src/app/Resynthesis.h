#pragma once
// The outputs' resynthesis, fast and with the same numbers as forming each
// output's magnitude matrix, splitting it by the stereo angle and calling
// Stft::synthesise with the input's phases.
//
// Every output is rebuilt with the same phases and, for stereo, the same
// angle, so their cosines and sines are computed once and kept in place of
// the angles. An output's magnitude is formed row by row as the synthesis
// needs it, never as a whole matrix. Channels, and for mono whole outputs,
// are resynthesised on separate threads.

#include "factorisation/Matrix.h"
#include "spectral/SampleBuffer.h"
#include "spectral/Stft.h"

#include <memory>
#include <vector>

namespace tessavo {

// Cosines and sines of a matrix of angles.
struct TrigTable {
    Matrix cos;
    Matrix sin;
};

// Replaces the elements of angles (a handle nobody else shares) by their
// cosines, which become the table's cos, and computes the sines, into spare
// when it is an unshared matrix of the same shape (its memory is reused).
TrigTable takeTrigTable(Matrix& angles, int threads, Matrix spare = Matrix());

// One output's magnitude: component k of W·H, or the residual V − W·H.
struct OutputSource {
    const Matrix* v;  // needed for the residual only
    const Matrix* w;
    const Matrix* h;
    int component;  // -1 for the residual
};

// What the resynthesis needs of the input: one phase table per channel and,
// for stereo, the angle between the channels, as angles or as a table.
struct InputPhases {
    std::vector<TrigTable> channels;
    Matrix angle;          // stereo, until it is tabulated
    TrigTable angleTable;  // stereo, afterwards
};

class Resynthesis {
public:
    // One synthesiser per thread, each built like the run's synthesiser.
    Resynthesis(int threads, int overlap, int sampleRate, int windowLength, int fftLength);

    // The signals of several outputs, one vector of channel signals per
    // output, in the order given. The buffers are reused by the next call.
    std::vector<std::vector<SampleBuffer>>& synthesise(const std::vector<OutputSource>& outputs,
                                                       const InputPhases& phases);

    // How many outputs one call should take to keep every thread busy.
    int batchSize(int channels) const;

private:
    std::vector<std::unique_ptr<Stft>> synthesisers_;
    std::vector<std::vector<SampleBuffer>> signals_;
};

}  // namespace tessavo
