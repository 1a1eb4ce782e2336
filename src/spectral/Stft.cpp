#include "spectral/Stft.h"

#include "spectral/InvalidSize.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessavo {

namespace {

constexpr int kSineWindow = 4;

// Checks every argument before any member is built, and returns N for the FFT.
int checkedFftLength(int overlap, int windowLength, int fftLength, float ratio)
{
    if (fftLength < 2 || (fftLength & (fftLength - 1)) != 0)
        throw InvalidSize("FFT length " + std::to_string(fftLength) + " is not a power of two >= 2");
    if (overlap < 1 || overlap > fftLength)
        throw InvalidSize("overlap " + std::to_string(overlap) + " is outside 1 .. " +
                          std::to_string(fftLength));
    if (windowLength < 2 || windowLength > fftLength)
        throw InvalidSize("window length " + std::to_string(windowLength) + " is outside 2 .. " +
                          std::to_string(fftLength));
    if (!std::isfinite(ratio) || !(ratio > 0.0f))
        throw InvalidSize("time ratio must be finite and positive");
    return fftLength;
}

void multiplyByWindow(float* frame, const Window& window)
{
    const float* w = window.coefficients();
    const int length = window.length();
    for (int i = 0; i < length; ++i)
        frame[i] = frame[i] * w[i];
}

}  // namespace

Stft::Stft(int overlap, int sampleRate, int windowLength, int fftLength, float ratio)
    : fft_(checkedFftLength(overlap, windowLength, fftLength, ratio)),
      window_(windowLength, kSineWindow),
      overlap_(overlap),
      sampleRate_(sampleRate),
      windowLength_(windowLength),
      fftLength_(fftLength),
      ratio_(ratio)
{
}

void Stft::analyse(const SampleBuffer& samples, Matrix& magnitude, Matrix& phase)
{
    const int n = fftLength_;
    const int length = windowLength_;
    const int hop = n / overlap_;
    const int bins = n / 2;
    const int total = samples.length();
    const int rows = total / hop + 1;

    std::vector<float> frame(static_cast<std::size_t>(n), 0.0f);
    std::vector<float> spectrum(static_cast<std::size_t>(n), 0.0f);
    magnitude = Matrix(rows, bins);
    phase = Matrix(rows, bins);

    const float* in = samples.data();
    int r = 0;
    // 64-bit position: r * hop may pass the int range just after the last frame.
    for (std::int64_t pos = 0; pos < total; pos += hop, ++r) {
        const int start = static_cast<int>(pos);
        const int remaining = total - start;
        if (remaining > length) {
            for (int i = 0; i < length; ++i)
                frame[static_cast<std::size_t>(i)] = in[start + i];
        } else {
            // The last frames run past the end: zero the window span first.
            for (int i = 0; i < length; ++i)
                frame[static_cast<std::size_t>(i)] = 0.0f;
            for (int i = 0; i < remaining; ++i)
                frame[static_cast<std::size_t>(i)] = in[start + i];
        }
        // Positions L .. N-1 are never written and pad every frame with zeros.
        multiplyByWindow(frame.data(), window_);
        fft_.forward(spectrum.data(), frame.data());
        fft_.rescale(spectrum.data());

        double* mag = magnitude[r];
        double* ph = phase[r];
        for (int k = 0; k < bins; ++k) {
            // Bin 0 pairs the DC term with the Nyquist term in its imaginary slot.
            const double re = spectrum[static_cast<std::size_t>(k)];
            const double im = spectrum[static_cast<std::size_t>(bins + k)];
            mag[k] = std::sqrt(re * re + im * im);
            ph[k] = std::atan2(im, re);
        }
    }

    // Rows where no frame starts (the last one when S is a multiple of hop,
    // the only one when S = 0) hold what an all-zero frame gives.
    for (; r < rows; ++r) {
        for (int k = 0; k < bins; ++k) {
            magnitude[r][k] = 0.0;
            phase[r][k] = 0.0;
        }
    }
}

SampleBuffer Stft::synthesise(const Matrix& magnitude, const Matrix& phase)
{
    const int half = fftLength_ / 2;
    const int cols = magnitude.cols();
    if (phase.rows() != magnitude.rows() || phase.cols() != cols)
        throw InvalidSize("magnitude and phase matrices differ in shape");
    if (cols > half)
        throw InvalidSize("spectrogram has more than " + std::to_string(half) + " bins");

    const double gain = synthesisGain();
    return synthesise(magnitude.rows(), [&](int row, float* spectrum) {
        const double* mag = magnitude[row];
        const double* ph = phase[row];
        for (int k = 0; k < cols; ++k) {
            const double a = gain * mag[k];
            spectrum[k] = static_cast<float>(a * std::cos(ph[k]));
            spectrum[half + k] = static_cast<float>(a * std::sin(ph[k]));
        }
    });
}

double Stft::synthesisGain() const
{
    // Rounded to float first: the gain is a float coefficient.
    return static_cast<float>(2.0 / overlap_);
}

SampleBuffer Stft::synthesise(int rows, const SpectrumFill& fill)
{
    SampleBuffer result;
    synthesiseInto(result, rows, fill);
    return result;
}

int Stft::synthesisLength(int rows) const
{
    const std::int64_t q = static_cast<std::int64_t>(rows) * fftLength_ / overlap_;
    const double outLength = std::trunc(static_cast<double>(q) / static_cast<double>(ratio_));
    if (outLength > std::numeric_limits<int>::max())
        throw std::length_error("resynthesised signal would exceed " +
                                std::to_string(std::numeric_limits<int>::max()) + " samples");
    return static_cast<int>(outLength);
}

std::vector<int> Stft::synthesisRows(int rows) const
{
    const std::int64_t total = synthesisLength(rows);
    const int hop = fftLength_ / overlap_;
    const double ratio = ratio_;
    std::vector<int> frames;
    std::int64_t e = 0;
    std::int64_t pos = 0;
    double index = 0.0;  // trunc(e * ratio), kept in double so it cannot overflow
    // Stops before the frame that would reach the last L samples, and never
    // reads the last row.
    while (pos < total - windowLength_ && index + 1.0 < rows) {
        frames.push_back(static_cast<int>(index));
        pos += hop;
        ++e;
        index = std::trunc(static_cast<double>(e) * ratio);
    }
    return frames;
}

void Stft::synthesiseFrame(const float* spectrum, float* frame)
{
    fft_.inverse(spectrum, frame);
    multiplyByWindow(frame, window_);
}

void Stft::synthesiseInto(SampleBuffer& result, int rows, const SpectrumFill& fill)
{
    const int total = synthesisLength(rows);
    const std::vector<int> frames = synthesisRows(rows);
    if (result.length() == total)
        result.clear();
    else
        result = SampleBuffer(total);
    SampleBuffer frame(fftLength_);
    std::vector<float> spectrum(static_cast<std::size_t>(fftLength_), 0.0f);
    const int hop = fftLength_ / overlap_;
    for (std::size_t e = 0; e < frames.size(); ++e) {
        fill(frames[e], spectrum.data());
        synthesiseFrame(spectrum.data(), frame.data());
        frame.addInto(result, static_cast<int>(e) * hop, windowLength_);
    }
}

}  // namespace tessavo
