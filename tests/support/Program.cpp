#include "support/Program.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace tessavo::test {

namespace {

std::string quote(const std::string& word)
{
    std::string q = "'";
    for (char c : word) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

}  // namespace

std::vector<std::string> withOptions(std::vector<std::string> head, const std::vector<std::string>& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

int expectedFrames(int samples, int n, int overlap)
{
    const int hop = n / overlap;
    return (samples / hop + 1) * n / overlap;
}

RunResult runTessavo(const std::vector<std::string>& args, const std::string& dir)
{
    const std::string outFile = dir + "/.stdout";
    const std::string errFile = dir + "/.stderr";
    std::string command = "cd " + quote(dir) + " && " + quote(TESSAVO_BINARY);
    for (const std::string& a : args)
        command += " " + quote(a);
    command += " >" + quote(outFile) + " 2>" + quote(errFile) + " </dev/null";
    const int raw = std::system(command.c_str());
    RunResult r;
    if (WIFEXITED(raw)) {
        r.status = WEXITSTATUS(raw);
        // The shell reports a child killed by a signal as 128 + signal.
        r.signalled = r.status > 128;
    } else {
        r.signalled = true;
        r.status = 128 + WTERMSIG(raw);
    }
    r.out = readFile(outFile);
    r.err = readFile(errFile);
    std::remove(outFile.c_str());
    std::remove(errFile.c_str());
    return r;
}

bool writeSound(const std::string& path, int format, int channels, int rate, const std::vector<float>& samples)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t n = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_write_float(f, samples.data(), n) == n;
    return sf_close(f) == 0 && ok;
}

Sound readSound(const std::string& path)
{
    Sound s;
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &s.info);
    if (!f) {
        s.info = SF_INFO{};
        return s;
    }
    s.samples.resize(static_cast<std::size_t>(s.info.frames * s.info.channels));
    sf_read_float(f, s.samples.data(), static_cast<sf_count_t>(s.samples.size()));
    sf_close(f);
    return s;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string sha256(const std::string& path)
{
    const std::string command = "sha256sum '" + path + "'";
    std::FILE* p = popen(command.c_str(), "r");
    if (!p)
        return "";
    char buffer[65] = {};
    const std::size_t got = std::fread(buffer, 1, 64, p);
    pclose(p);
    return std::string(buffer, got);
}

std::vector<float> testSignal(int frames, int channels, int rate, double amplitude)
{
    std::vector<float> s(static_cast<std::size_t>(frames) * channels);
    const double twoPi = 2.0 * 3.141592653589793;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double click = std::exp(-40.0 * std::fmod(t, 0.25));
        for (int c = 0; c < channels; ++c) {
            const double tone = std::sin(twoPi * (220.0 + 110.0 * c) * t) * 0.6 +
                                std::sin(twoPi * 1375.0 * t) * 0.3 * (c == 0 ? 1.0 : 0.5);
            s[static_cast<std::size_t>(i) * channels + c] =
                static_cast<float>(amplitude * (tone * 0.7 + click * std::sin(twoPi * 3000.0 * t) * 0.3));
        }
    }
    return s;
}

}  // namespace tessavo::test
