// Writes a long stereo test recording for the whole-run timings: plucked
// notes panned left, a sustained chord panned right, and noise bursts in the
// middle, as 16-bit WAV at 44100 Hz.
//
// Usage: tessavo_make_input FILE SECONDS

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessavo_make_input FILE SECONDS\n");
        return 2;
    }
    const int rate = 44100;
    const long frames = static_cast<long>(std::atof(argv[2]) * rate);
    std::vector<float> out(static_cast<std::size_t>(frames) * 2);
    const double notes[] = {220.0, 246.9, 261.6, 293.7, 329.6, 349.2, 392.0, 440.0};
    const double twoPi = 6.283185307179586;
    std::uint32_t state = 7;
    auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    };
    for (long i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const long beat = static_cast<long>(t * 2.0);
        const double sinceBeat = t - static_cast<double>(beat) / 2.0;
        const double note = std::sin(twoPi * notes[(beat * 5) % 8] * t) * std::exp(-sinceBeat / 0.15);
        const double chord = (std::sin(twoPi * 130.8 * t) + std::sin(twoPi * 164.8 * t)) / 2.0;
        const double sinceBurst = t - std::floor(t * 4.0) / 4.0;
        const double burst = noise() * std::exp(-sinceBurst / 0.01) * 0.15;
        out[static_cast<std::size_t>(2 * i)] = static_cast<float>(0.4 * note + 0.1 * chord + burst);
        out[static_cast<std::size_t>(2 * i + 1)] = static_cast<float>(0.2 * note + 0.25 * chord + burst);
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const bool ok = sf_write_float(f, out.data(), static_cast<sf_count_t>(out.size())) ==
                    static_cast<sf_count_t>(out.size());
    return sf_close(f) == 0 && ok ? 0 : 1;
}
