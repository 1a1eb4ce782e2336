#pragma once
// The first step of a separation: each channel's short-time spectrum, and
// from it the magnitude V that the factorisation splits. A stereo pair folds
// into V = sqrt(L² + R²) and the angle atan2(R, L) between the channels.

#include "core/Matrix.h"
#include "separation/Engine.h"
#include "spectral/SampleBuffer.h"

#include <vector>

namespace tessavo {

// The transform every step uses.
struct TransformSettings {
    int fftLength = 8192;  // also the window length
    int overlap = 4;       // hop = fftLength / overlap
    bool pad = false;      // padded frames and normalised resynthesis (Framing)
};

// What the analysis leaves for the later steps.
struct Spectra {
    Matrix v;                   // frames × bins
    std::vector<Matrix> phases;  // one per channel
    Matrix angle;               // stereo only: atan2(R, L) per cell
};

// Analyses and releases the channels (one or two). The fast engine analyses
// the channels on threads and folds a stereo pair in place.
Spectra analyse(std::vector<SampleBuffer>&& channels, const TransformSettings& t, Engine engine, int threads);

// Rows of the analysis of frames samples (in double, for sizes beyond int).
double analysisRows(double frames, const TransformSettings& t);

// Bytes the analysis holds at its peak for frames samples of channels
// channels, the samples included.
double analysisMemory(double frames, int channels, const TransformSettings& t, int threads);

}  // namespace tessavo
