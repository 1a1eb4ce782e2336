#pragma once
// Short-time Fourier transform of one channel: samples to a magnitude and a
// phase matrix (frames x bins) and back by windowed overlap-add.
//
// With N the FFT length, L the window length, hop = N / overlap and
// B = N / 2 bins, row r is the frame starting at sample r * hop - padding
// (Framing), windowed by one full sine period, zero-padded to N and scaled
// by 1/N. Bin 0 carries the DC term as its real part and the Nyquist term as
// its imaginary part.
// - Unpadded (the classic transform): analyse gives F = S / hop + 1 rows for
//   S samples; rows where no frame starts are zero. synthesise rebuilds
//   (R * N) / overlap samples; output frame e reads row e, is scaled by
//   float(2 / overlap), windowed again and added at e * hop. It stops before
//   the frame that would reach the last L samples and never reads the last
//   row, so an unchanged spectrogram comes back at about unit gain where
//   overlap frames cover a sample, and fades in and out at the ends.
// - Padded (overlap >= 3): the frames see (overlap - 1) * hop zeros before
//   the signal and as many after it as its last frame needs. Every row is
//   resynthesised, windowed again, at its own place; each of the S samples
//   of the signal is then the sum of the frames over it divided by the sum of
//   their squared windows, both summed in double precision in frame order.
//   An unchanged spectrogram comes back to float rounding at every sample,
//   the first and last included.
//
// Accepted arguments: 1 <= overlap <= N (3 <= overlap when padded), 2 <= L
// <= N, N a power of two; otherwise the constructor throws InvalidSize.
// synthesise needs a magnitude and a phase matrix of one shape with at most
// B columns (InvalidSize otherwise); sizes whose products leave the int
// range throw std::length_error.
//
// Each call allocates its own work buffers, so the object keeps no state
// between calls, but the FFT scratch is shared: one object must not run two
// calls at the same time.

#include "core/Matrix.h"
#include "spectral/RealFft.h"
#include "spectral/SampleBuffer.h"
#include "spectral/Window.h"

#include <vector>

namespace tessavo {

// The frames a resynthesis adds up, and how.
struct SynthesisFrames {
    std::vector<int> rows;    // the row output frame e reads
    int length = 0;           // samples of the rebuilt signal
    int padding = 0;          // frame e starts at sample e * hop - padding
    bool normalised = false;  // divided by the squared windows, not scaled
    double gain = 1.0;        // scales every magnitude before the inverse transform
};

class Stft {
public:
    // variant: the FFT's vector kernels (every one gives the same bits).
    Stft(int overlap, int windowLength, int fftLength, bool padded = false, VectorVariant variant = bestVariant());
    Stft(const Stft&) = delete;
    Stft& operator=(const Stft&) = delete;

    // Replaces magnitude and phase by new F x B matrices.
    void analyse(const SampleBuffer& samples, Matrix& magnitude, Matrix& phase);
    // Returns a new buffer, owned by the caller: the signal of samples
    // samples (the analysed input's length; an unpadded transform's length
    // follows from the rows instead).
    SampleBuffer synthesise(const Matrix& magnitude, const Matrix& phase, int samples);
    // The unpadded transform's synthesise.
    SampleBuffer synthesise(const Matrix& magnitude, const Matrix& phase);

    // The pieces of that overlap-add, for callers that add the frames
    // themselves: which rows are rebuilt where, from rows rows of the
    // analysis of samples samples; and one frame from its spectrum (inverse
    // transform, then the window; N floats).
    SynthesisFrames synthesisFrames(int rows, int samples) const;
    void synthesiseFrame(const float* spectrum, float* frame);

    // Bytes one object of transform length n holds, with a call's work
    // buffers: about 30 per point (FFT tables and scratch, window, buffers).
    static double memoryBytes(int n) { return 30.0 * n; }

    int overlap() const { return overlap_; }
    int windowLength() const { return windowLength_; }
    int fftLength() const { return fftLength_; }
    int hop() const { return fftLength_ / overlap_; }
    bool padded() const { return padded_; }
    const Window& window() const { return window_; }

private:
    // Adds up the frames whose spectra fill writes (N floats; positions it
    // leaves alone keep what an earlier row wrote, 0.0 at first).
    template <typename Fill>
    SampleBuffer overlapAdd(const SynthesisFrames& frames, const Fill& fill);

    RealFft fft_;
    Window window_;
    int overlap_;
    int windowLength_;
    int fftLength_;
    bool padded_;
};

}  // namespace tessavo
