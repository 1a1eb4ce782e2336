// The separation done the plain way, one whole-matrix step after another,
// single-threaded: the reference that the program's fast paths must match
// bit for bit, and the baseline their speed is measured against.
//
// Usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA
// (the transform size is the power of two above FFTSIZE, as in tessavo).
// Without --huge-pages the process gets ordinary 4 KiB pages only, as a
// plain implementation does where huge pages are given on request; with it,
// the big arrays are offered huge pages as in tessavo.
// Writes FILE's outputs with the suffix "-plain" added before each suffix,
// for example song-plain-residual.wav, and prints the progress lines.

#include "app/RunError.h"
#include "app/Settings.h"
#include "app/SoundFile.h"
#include "factorisation/NmfFactoriser.h"
#include "factorisation/Recombination.h"
#include "spectral/Stft.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>

#include <sys/prctl.h>

using namespace tessavo;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--huge-pages") {
        --argc;
        ++argv;
    } else {
        prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    }
    if (argc != 7) {
        std::cerr << "usage: tessavo_plain [--huge-pages] FILE COMPONENTS FFTSIZE OVERLAP MAXITERATIONS CRITERIA\n";
        return 2;
    }
    try {
        const std::string filename = argv[1];
        const int components = std::atoi(argv[2]);
        const int n = transformSize(std::atoi(argv[3]));
        const int overlap = std::atoi(argv[4]);
        const int maxiterations = std::atoi(argv[5]);
        const double criteria = std::atof(argv[6]);
        const std::size_t dot = dotPosition(filename);

        auto start = Clock::now();
        InputSound input = readSoundFile(filename);
        const SF_INFO record = input.info;
        Stft analyser(overlap, record.samplerate, n, n, 1.0f);
        Stft synthesiser(overlap, record.samplerate, n, n, 1.0f);
        Matrix v, theta;
        std::vector<Matrix> phases(input.channels.size());
        if (input.channels.size() == 1) {
            analyser.analyse(input.channels[0], v, phases[0]);
        } else {
            Matrix l, r;
            analyser.analyse(input.channels[0], l, phases[0]);
            analyser.analyse(input.channels[1], r, phases[1]);
            v = stereoMagnitude(l, r);
            theta = stereoAngle(l, r);
        }
        input.channels.clear();
        std::cerr << "read and analysis: " << seconds(start) << " s\n";

        start = Clock::now();
        NmfFactoriser nmf(v, components);
        nmf.updateW();
        nmf.updateH();
        double old = objective(v, nmf.w(), nmf.h());
        for (int i = 1; i < maxiterations; ++i) {
            nmf.updateW();
            nmf.updateH();
            const double now = objective(v, nmf.w(), nmf.h());
            std::cout << "objective: " << old << std::endl;
            if (std::fabs(now - old) < criteria) {
                std::cout << "done in " << i << " iterations" << std::endl;
                break;
            }
            old = now;
        }
        const Matrix w = nmf.w();
        const Matrix h = nmf.h();
        std::cerr << "factorisation: " << seconds(start) << " s\n";

        start = Clock::now();
        double synthesis = 0.0, writing = 0.0;
        for (int k = -1; k < components; ++k) {
            auto t = Clock::now();
            const Matrix x = k < 0 ? residualMagnitude(v, w, h) : componentMagnitude(w, h, k);
            std::vector<SampleBuffer> signals;
            if (phases.size() == 1) {
                signals.push_back(synthesiser.synthesise(x, phases[0]));
            } else {
                signals.push_back(synthesiser.synthesise(splitLeft(x, theta), phases[0]));
                signals.push_back(synthesiser.synthesise(splitRight(x, theta), phases[1]));
            }
            synthesis += seconds(t);
            t = Clock::now();
            const std::string suffix = k < 0 ? "-plain-residual" : "-plain-" + std::to_string(k);
            writeSoundFile(outputName(filename, dot, suffix), record, signals);
            writing += seconds(t);
        }
        std::cerr << "outputs: " << seconds(start) << " s (resynthesis " << synthesis << " s, writing " << writing
                  << " s)\n";
    } catch (const RunError& e) {
        std::cout << e.what() << std::flush;
        return 1;
    }
    return 0;
}
