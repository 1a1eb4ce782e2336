#include "separation/Analysis.h"

#include "core/Parallel.h"
#include "separation/Recombination.h"
#include "spectral/Framing.h"
#include "spectral/Stft.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

Spectra analysePlain(std::vector<SampleBuffer>& channels, const TransformSettings& t)
{
    Stft analyser(t.overlap, t.fftLength, t.fftLength, t.pad);
    Spectra s;
    s.phases.resize(channels.size());
    if (channels.size() == 1) {
        analyser.analyse(channels[0], s.v, s.phases[0]);
    } else {
        Matrix left, right;
        analyser.analyse(channels[0], left, s.phases[0]);
        analyser.analyse(channels[1], right, s.phases[1]);
        s.v = stereoMagnitude(left, right);
        s.angle = stereoAngle(left, right);
    }
    return s;
}

Spectra analyseFast(std::vector<SampleBuffer>& channels, const TransformSettings& t, int threads)
{
    const int count = static_cast<int>(channels.size());
    const int workers = std::min(threads, count);
    std::vector<Matrix> magnitudes(channels.size());
    Spectra s;
    s.phases.resize(channels.size());
    parallelTasks(workers, [&](int w) {
        Stft analyser(t.overlap, t.fftLength, t.fftLength, t.pad);
        for (int c = w; c < count; c += workers) {
            const auto i = static_cast<std::size_t>(c);
            analyser.analyse(channels[i], magnitudes[i], s.phases[i]);
        }
    });
    channels.clear();
    if (count == 2) {
        // The same numbers as stereoMagnitude and stereoAngle, in the two
        // channels' own memory.
        Matrix& left = magnitudes[0];
        Matrix& right = magnitudes[1];
        parallelRows(left.rows(), threads, [&](int first, int end) { foldStereoInPlace(left, right, first, end); });
        s.angle = std::move(right);
    }
    s.v = std::move(magnitudes[0]);
    return s;
}

}  // namespace

Spectra analyse(std::vector<SampleBuffer>&& channels, const TransformSettings& t, Engine engine, int threads)
{
    Spectra s = engine == Engine::plain ? analysePlain(channels, t) : analyseFast(channels, t, threads);
    channels.clear();
    return s;
}

double analysisRows(double frames, const TransformSettings& t)
{
    const double hop = t.fftLength / t.overlap;
    const double padding = Framing{t.fftLength, t.overlap, t.pad}.padding();
    return t.pad ? std::floor((frames + padding - 1) / hop) + 1 : std::floor(frames / hop) + 1;
}

double analysisMemory(double frames, int channels, const TransformSettings& t, int threads)
{
    const double cells = analysisRows(frames, t) * (t.fftLength / 2.0) * 8.0;
    // The samples, and each channel's magnitude and phase as they are filled.
    return frames * channels * 4.0 + 2.0 * channels * cells + std::min(threads, channels) * Stft::memoryBytes(t.fftLength);
}

}  // namespace tessavo
