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
//
// Standard input ("-") and streams in /dev or /proc (/dev/stdin, the
// /dev/fd/63 of a process substitution) are named by inputName: "stdin" or
// the stream's last path component, with the container's extension, in
// the current folder, so that no output lands in /dev or starts with '-'.

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
    // The W and H files, as text (".txt") or NumPy's format (".npy").
    std::string wFile(const std::string& extension = ".txt") const { return input_ + "-W" + extension; }
    std::string hFile(const std::string& extension = ".txt") const { return input_ + "-H" + extension; }
    std::string groupsFile() const { return input_ + "-groups.txt"; }
    std::string factorsFile() const { return input_ + "-factors.json"; }

    // A grouped source's name, as its output and the groups file give it.
    static std::string sourceName(int s) { return "source" + std::to_string(s); }

    // The name the outputs of input are made from: input itself, or for a
    // stream, its name in the current folder with extension (no dot).
    static std::string inputName(const std::string& input, const std::string& extension);
    // Whether name's folder is /dev or /proc, or lies in them, once links
    // are followed (in /dev, "stdin" is /dev/stdin).
    static bool inDevices(const std::string& name);

private:
    std::string input_;      // the input's name, moved into the output folder
    std::size_t extension_;  // where the extension starts, or npos
};

}  // namespace tessavo
