#pragma once
// Short-time Fourier transform of one channel: samples to a magnitude and a
// phase matrix (frames x bins) and back by windowed overlap-add.
//
// With N the FFT length, L the window length, hop = N / overlap and
// B = N / 2 bins:
// - analyse gives F = S / hop + 1 rows for S samples; row r is the frame
//   starting at r * hop, windowed by one full sine period (type 4), zero-padded
//   to N and scaled by 1/N. Bin 0 carries the DC term as its real part and the
//   Nyquist term as its imaginary part. Rows where no frame starts are zero.
// - synthesise rebuilds trunc(((R * N) / overlap) / ratio) samples; output
//   frame e reads row trunc(e * ratio), is scaled by float(2 / overlap),
//   windowed again and added at e * hop. It stops before the frame that would
//   reach the last L samples and never reads the last row, so with ratio 1
//   an unchanged spectrogram comes back at about unit gain where overlap
//   frames cover a sample.
//
// Accepted arguments: 1 <= overlap <= N, 2 <= L <= N, N a power of two, ratio
// finite and > 0; otherwise the constructor throws InvalidSize. synthesise
// needs a magnitude and a phase matrix of one shape with at most B columns
// (InvalidSize otherwise); sizes whose products leave the int range throw
// std::length_error.
//
// Each call allocates its own work buffers, so the object keeps no state
// between calls, but the FFT scratch is shared: one object must not run two
// calls at the same time.

#include "factorisation/Matrix.h"
#include "spectral/RealFft.h"
#include "spectral/SampleBuffer.h"
#include "spectral/Window.h"

#include <functional>
#include <vector>

namespace tessavo {

class Stft {
public:
    Stft(int overlap, int sampleRate, int windowLength, int fftLength, float ratio);
    Stft(const Stft&) = delete;
    Stft& operator=(const Stft&) = delete;

    // Replaces magnitude and phase by new F x B matrices.
    void analyse(const SampleBuffer& samples, Matrix& magnitude, Matrix& phase);
    // Returns a new buffer, owned by the caller.
    SampleBuffer synthesise(const Matrix& magnitude, const Matrix& phase);

    // Writes the half-complex spectrum (N floats) of one row; positions it
    // leaves alone keep what an earlier row wrote (0.0 at first).
    using SpectrumFill = std::function<void(int row, float* spectrum)>;
    // The same overlap-add as above over rows rows, with each frame's
    // spectrum from fill: for callers that form the spectra in another way
    // with the same numbers.
    SampleBuffer synthesise(int rows, const SpectrumFill& fill);
    // The same into result, whose memory is reused when it already has the
    // output's length: long outputs then cost no fresh pages.
    void synthesiseInto(SampleBuffer& result, int rows, const SpectrumFill& fill);
    // The pieces of that overlap-add, for callers that add the frames
    // themselves: the length of the signal rebuilt from rows rows, the row
    // each output frame reads (frame e starts at e * hop), and one frame from
    // its spectrum (inverse transform, then the window; N floats).
    int synthesisLength(int rows) const;
    std::vector<int> synthesisRows(int rows) const;
    void synthesiseFrame(const float* spectrum, float* frame);
    // The gain that scales every magnitude before resynthesis: float(2 / overlap).
    double synthesisGain() const;

    // Bytes one object of transform length n holds, with a call's work
    // buffers: about 30 per point (FFT tables and scratch, window, buffers).
    static double memoryBytes(int n) { return 30.0 * n; }

    int overlap() const { return overlap_; }
    int sampleRate() const { return sampleRate_; }
    int windowLength() const { return windowLength_; }
    int fftLength() const { return fftLength_; }
    int hop() const { return fftLength_ / overlap_; }
    float ratio() const { return ratio_; }

private:
    RealFft fft_;
    Window window_;
    int overlap_;
    int sampleRate_;
    int windowLength_;
    int fftLength_;
    float ratio_;
};

}  // namespace tessavo
