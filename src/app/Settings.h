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
    double tolerance = 0.0;  // > 0: stop on the relative change instead of criteria
    int fftsize = 4096;     // transform length, derived from the fftsize option
    int windowsize = 4096;  // analysis window length, always equal to fftsize
    int overlap = 4;
    bool verbose = true;
    bool matrixout = false;  // write W and H (also set by factors)
    std::string factors;    // the factor files' form, "text" or "npy", with metadata; empty: -m alone
    bool sounds = true;     // false: the factor files only
    int threads = 0;        // worker threads; 0 means every available core
    Loss loss = Loss::euclidean;
    std::vector<std::string> templates;  // NAME=FILE, in the order given
    MaskMode mask = MaskMode::direct;
    double maskPower = 2.0;
    int precision = 6;      // significant digits of the W and H files
    std::string outdir;     // the folder of every output; empty: the input's own folder
    std::string encoding;   // the outputs' sample encoding by name; empty: the input's
    bool pad = false;       // padded analysis, outputs as long as the input
    int seed = 1;           // the random start's first state
    int sources = 0;        // free components grouped into this many sources; 0: none
    double continuity = 0.0;  // weight of the activations' temporal continuity cost
    double sparsity = 0.0;    // weight of the activations' sparseness cost
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

// One option of the command line, as --help lists it.
struct DeclaredOption {
    std::string flag;                 // the short form without its dash, or ""
    std::string name;                 // the long form without its two dashes
    std::vector<std::string> values;  // the only words it takes, when it takes one of a few
};

// Every option that parseSettings declares, TCLAP's own (--help, --version
// and "--", --ignore_rest) included, in the order --help lists them: what the
// manual page, the README and the shell completion must all describe.
std::vector<DeclaredOption> declaredOptions();

}  // namespace tessavo
