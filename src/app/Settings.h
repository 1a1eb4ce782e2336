#pragma once
// The run's settings, taken from the command line only.

#include "factorisation/Loss.h"
#include "separation/OutputPlan.h"

#include <string>
#include <vector>

namespace tessavo {

struct Settings {
    std::string filename;
    int components = 10;
    int maxiterations = 1000;
    double criteria = 0.001;
    int fftsize = 4096;     // transform length, derived from the fftsize option
    int windowsize = 4096;  // analysis window length, always equal to fftsize
    int overlap = 4;
    bool verbose = true;
    bool matrixout = false;
    int threads = 0;        // worker threads; 0 means every available core
    Loss loss = Loss::euclidean;
    std::vector<std::string> templates;  // NAME=FILE, in the order given
    MaskMode mask = MaskMode::direct;
    double maskPower = 2.0;
    int precision = 6;      // significant digits of the W and H files
};

// Largest --maskpower: beyond it the powers of ordinary magnitudes overflow.
constexpr double maxMaskPower = 10.0;
// Significant digits of a double: 17 reads back exactly.
constexpr int maxPrecision = 17;

// Largest accepted fftsize option value: its transform size must fit an int.
constexpr int maxFftsizeOption = (1 << 30) - 1;

// The smallest power of two strictly above the fftsize option value v
// (1 <= v <= maxFftsizeOption): 4096 gives 8192, 4097 gives 8192.
int transformSize(int v);

// What a command line that TCLAP cannot parse, or --help and --version, does.
enum class ParseFailure {
    // TCLAP prints its message and ends the process: the program's behaviour.
    exitProcess,
    // TCLAP::ArgException or TCLAP::ExitException reaches the caller, for a
    // caller that must outlive any command line (the command-line fuzzer).
    throwException,
};

// Declares the command line, parses argv and fills settings. TCLAP itself
// ends the process on a parse error (status 1) and after help or version
// output (status 0), unless onFailure asks for the exception instead. Values
// outside their accepted ranges throw RunError with a one-line message naming
// the option and its range.
void parseSettings(int argc, const char* const* argv, Settings& settings,
                   ParseFailure onFailure = ParseFailure::exitProcess);

}  // namespace tessavo
