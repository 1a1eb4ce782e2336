#pragma once
// The names of a run's output files, all made from the input's name.
//
// Sounds put their suffix ("-residual", "-0", "-1", ...) before the
// extension of the input name's last path component, or append it when
// there is none (take, .hidden): song.wav gives song-residual.wav and
// song-0.wav; take.1.wav gives take.1-0.wav. The matrix files append
// "-W.txt" and "-H.txt" (and "-groups.txt") to the whole input name:
// song.wav-W.txt. Grouped sources are "-source0", "-source1", ...
//
// With an output folder, the outputs go there instead of next to the input,
// named the same way from the input's last path component alone:
// music/song.wav with the folder out gives out/song-residual.wav and
// out/song.wav-W.txt.

#include <string>

namespace tessavo {

class OutputNames {
public:
    // folder: where the outputs go; empty for the input's own folder.
    explicit OutputNames(std::string input, const std::string& folder = "");

    // The input name with suffix put before its extension.
    std::string sound(const std::string& suffix) const;
    std::string residual() const { return sound("-residual"); }
    std::string component(int k) const { return sound("-" + std::to_string(k)); }
    std::string source(int s) const { return sound("-" + sourceName(s)); }
    std::string wFile() const { return input_ + "-W.txt"; }
    std::string hFile() const { return input_ + "-H.txt"; }
    std::string groupsFile() const { return input_ + "-groups.txt"; }

    // A grouped source's name, as its output and the groups file give it.
    static std::string sourceName(int s) { return "source" + std::to_string(s); }

private:
    std::string input_;      // the input's name, moved into the output folder
    std::size_t extension_;  // where the extension starts, or npos
};

}  // namespace tessavo
