#pragma once
// NAME-factors.json: what a reader of the W and H files needs to know and
// the files themselves do not say: the time of each W row, the frequency
// of each H column, which rows make which output, and how the run was made.

#include "spectral/Framing.h"

#include <string>
#include <vector>

namespace tessavo {

struct FactorMetadata {
    std::vector<std::string> commandLine;
    std::string input;     // as given; "-" for standard input
    int sampleRate = 0;
    int channels = 0;
    Framing framing;       // transform (and window) length, hop, padding
    std::string loss;      // the option's word: euclidean, kl, is
    std::string mask;      // direct, soft
    double maskPower = 2.0;
    int components = 0;    // the free components asked for
    int rows = 0;          // H's rows: template rows, then the free ones
    int frames = 0;        // W's rows
    std::string format;    // npy or text
    std::string wFile;     // the matrix files' names beside the metadata
    std::string hFile;
    // Every sound output but the residual, in output order, with its H rows.
    struct Source {
        std::string name;
        std::vector<int> rows;
    };
    std::vector<Source> sources;
};

// The JSON text, one key per line. Row r of W starts at
// (r * hop - padding) / rate seconds and column j of H lies at
// j * rate / transform length Hz; each number is written in the shortest
// form that reads back as the same double.
std::string factorsJson(const FactorMetadata& m);

}  // namespace tessavo
