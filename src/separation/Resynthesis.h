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
#include "separation/OutputRows.h"
#include "spectral/SampleBuffer.h"
#include "spectral/Stft.h"

#include <memory>
#include <variant>
#include <vector>

namespace tessavo {

// Cosines and sines of a matrix of angles.
struct TrigTable {
    Matrix cos;
    Matrix sin;
};

// Turns angles into their cosines, in place (they become the table's cos),
// and computes the sines into spare's memory, or into a new matrix when
// spare is empty. Throws std::invalid_argument when spare has another shape
// or shares its elements with another handle.
TrigTable takeTrigTable(Matrix&& angles, int threads, Matrix&& spare = Matrix());

// What the resynthesis needs of the input: one phase table per channel and,
// for stereo, the angle between the channels, as angles (their cosine and
// sine taken cell by cell) or as a table of them.
struct InputPhases {
    std::vector<TrigTable> channels;
    std::variant<Matrix, TrigTable> angle;
};

class Resynthesis {
public:
    // One synthesiser per thread, each built like the run's synthesiser.
    Resynthesis(int threads, int overlap, int sampleRate, int windowLength, int fftLength);

    // The signals of several outputs of model (their indices, in the order
    // given), one vector of channel signals per output. The buffers are
    // reused by the next call.
    std::vector<std::vector<SampleBuffer>>& synthesise(const OutputRows& model, const std::vector<int>& outputs,
                                                       const InputPhases& phases);

    // How many outputs one call should take to keep every thread busy.
    int batchSize(int channels) const;

    // Bytes of the synthesisers and the outputs in flight, for outputs of
    // samples frames of channels channels, with bins bins.
    static double memoryBytes(double samples, int channels, int fftLength, int threads);

private:
    std::vector<std::unique_ptr<Stft>> synthesisers_;
    std::vector<std::vector<SampleBuffer>> signals_;
};

}  // namespace tessavo
