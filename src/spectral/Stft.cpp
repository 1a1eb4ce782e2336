#include "spectral/Stft.h"

#include "spectral/Framing.h"
#include "spectral/InvalidSize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessavo {

namespace {

// Checks every argument before any member is built, and returns N for the FFT.
int checkedFftLength(int overlap, int windowLength, int fftLength, bool padded)
{
    if (fftLength < 2 || (fftLength & (fftLength - 1)) != 0)
        throw InvalidSize("FFT length " + std::to_string(fftLength) + " is not a power of two >= 2");
    if (overlap < 1 || overlap > fftLength)
        throw InvalidSize("overlap " + std::to_string(overlap) + " is outside 1 .. " +
                          std::to_string(fftLength));
    if (windowLength < 2 || windowLength > fftLength)
        throw InvalidSize("window length " + std::to_string(windowLength) + " is outside 2 .. " +
                          std::to_string(fftLength));
    // The squared full-period sine windows of overlap frames add up to
    // about overlap / 2 at every sample only from 3 frames on: with 1 or 2
    // they vanish together where the window crosses zero.
    if (padded && overlap < 3)
        throw InvalidSize("a padded transform needs overlap 3 or more");
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

Stft::Stft(int overlap, int windowLength, int fftLength, bool padded, VectorVariant variant)
    : fft_(checkedFftLength(overlap, windowLength, fftLength, padded), variant),
      window_(windowLength),
      overlap_(overlap),
      windowLength_(windowLength),
      fftLength_(fftLength),
      padded_(padded)
{
}

void Stft::analyse(const SampleBuffer& samples, Matrix& magnitude, Matrix& phase)
{
    const Framing framing{fftLength_, overlap_, padded_};
    const int n = fftLength_;
    const int length = windowLength_;
    const int bins = n / 2;
    const int total = samples.length();
    const long long rows = framing.rows(total);
    if (rows > std::numeric_limits<int>::max())
        throw std::length_error("the analysis would exceed " + std::to_string(std::numeric_limits<int>::max()) +
                                " rows");

    std::vector<float> frame(static_cast<std::size_t>(n), 0.0f);
    std::vector<float> spectrum(static_cast<std::size_t>(n), 0.0f);
    magnitude = Matrix(static_cast<int>(rows), bins);
    phase = Matrix(static_cast<int>(rows), bins);

    const float* in = samples.data();
    int r = 0;
    // 64-bit positions: a frame may start before the first sample, and
    // r * hop may pass the int range just after the last frame.
    for (long long start = framing.start(0); r < rows && start < total; start += framing.hop(), ++r) {
        // The samples under the window, zeros where the frame runs past
        // either end of the signal.
        const long long first = std::max<long long>(0, start);
        const long long end = std::min<long long>(total, start + length);
        std::fill(frame.begin(), frame.begin() + length, 0.0f);
        for (long long i = first; i < end; ++i)
            frame[static_cast<std::size_t>(i - start)] = in[i];
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

    // Unpadded, rows where no frame starts (the last one when S is a
    // multiple of hop, the only one when S = 0) hold what an all-zero frame
    // gives.
    for (; r < rows; ++r) {
        for (int k = 0; k < bins; ++k) {
            magnitude[r][k] = 0.0;
            phase[r][k] = 0.0;
        }
    }
}

SampleBuffer Stft::synthesise(const Matrix& magnitude, const Matrix& phase)
{
    if (padded_)
        throw InvalidSize("a padded transform resynthesises the input's own length: give it");
    return synthesise(magnitude, phase, 0);
}

SampleBuffer Stft::synthesise(const Matrix& magnitude, const Matrix& phase, int samples)
{
    const int half = fftLength_ / 2;
    const int cols = magnitude.cols();
    if (phase.rows() != magnitude.rows() || phase.cols() != cols)
        throw InvalidSize("magnitude and phase matrices differ in shape");
    if (cols > half)
        throw InvalidSize("spectrogram has more than " + std::to_string(half) + " bins");

    const SynthesisFrames frames = synthesisFrames(magnitude.rows(), samples);
    const double gain = frames.gain;
    return overlapAdd(frames, [&](int row, float* spectrum) {
        const double* mag = magnitude[row];
        const double* ph = phase[row];
        for (int k = 0; k < cols; ++k) {
            const double a = gain * mag[k];
            spectrum[k] = static_cast<float>(a * std::cos(ph[k]));
            spectrum[half + k] = static_cast<float>(a * std::sin(ph[k]));
        }
    });
}

SynthesisFrames Stft::synthesisFrames(int rows, int samples) const
{
    SynthesisFrames frames;
    if (padded_) {
        for (int r = 0; r < rows; ++r)
            frames.rows.push_back(r);
        frames.length = samples;
        frames.padding = Framing{fftLength_, overlap_, true}.padding();
        frames.normalised = true;
        frames.gain = 1.0;
        return frames;
    }
    const std::int64_t total = static_cast<std::int64_t>(rows) * fftLength_ / overlap_;
    if (total > std::numeric_limits<int>::max())
        throw std::length_error("resynthesised signal would exceed " +
                                std::to_string(std::numeric_limits<int>::max()) + " samples");
    frames.length = static_cast<int>(total);
    const int hop = fftLength_ / overlap_;
    // Stops before the frame that would reach the last L samples, and never
    // reads the last row.
    for (std::int64_t e = 0; e * hop < total - windowLength_ && e + 1 < rows; ++e)
        frames.rows.push_back(static_cast<int>(e));
    // Rounded to float first: the gain is a float coefficient.
    frames.gain = static_cast<float>(2.0 / overlap_);
    return frames;
}

void Stft::synthesiseFrame(const float* spectrum, float* frame)
{
    fft_.inverse(spectrum, frame);
    multiplyByWindow(frame, window_);
}

template <typename Fill>
SampleBuffer Stft::overlapAdd(const SynthesisFrames& frames, const Fill& fill)
{
    SampleBuffer result(frames.length);
    SampleBuffer frame(fftLength_);
    std::vector<float> spectrum(static_cast<std::size_t>(fftLength_), 0.0f);
    const int hop = fftLength_ / overlap_;
    const int count = static_cast<int>(frames.rows.size());
    if (!frames.normalised) {
        for (int e = 0; e < count; ++e) {
            fill(frames.rows[static_cast<std::size_t>(e)], spectrum.data());
            synthesiseFrame(spectrum.data(), frame.data());
            frame.addInto(result, e * hop, windowLength_);
        }
        return result;
    }
    // The frames and their squared windows, summed over the whole span the
    // frames cover; position i is sample i - padding.
    const std::size_t span = count == 0 ? 0 : static_cast<std::size_t>(count - 1) * hop + windowLength_;
    std::vector<double> sum(span, 0.0), weight(span, 0.0);
    const float* w = window_.coefficients();
    for (int e = 0; e < count; ++e) {
        fill(frames.rows[static_cast<std::size_t>(e)], spectrum.data());
        synthesiseFrame(spectrum.data(), frame.data());
        const std::size_t at = static_cast<std::size_t>(e) * hop;
        for (int i = 0; i < windowLength_; ++i) {
            sum[at + i] = sum[at + i] + static_cast<double>(frame[i]);
            weight[at + i] = weight[at + i] + static_cast<double>(w[i]) * static_cast<double>(w[i]);
        }
    }
    for (int t = 0; t < frames.length; ++t) {
        const std::size_t i = static_cast<std::size_t>(t) + frames.padding;
        result[t] = i < span && weight[i] > 0.0 ? static_cast<float>(sum[i] / weight[i]) : 0.0f;
    }
    return result;
}

}  // namespace tessavo
