#include "support/Program.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string tessavoBinary()
{
    // Lets the same tests run against another build, such as an older one.
    const char* other = std::getenv("TESSAVO_TEST_BINARY");
    return other && *other ? other : TESSAVO_BINARY;
}

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
    std::string command = "cd " + quote(dir) + " && " + quote(tessavoBinary());
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

Child::Child(const Launch& launch)
    : outFile_(launch.dir + "/.stdout"), errFile_(launch.dir + "/.stderr")
{
    std::vector<std::string> words = launch.program.empty() ? std::vector<std::string>{tessavoBinary()} : launch.program;
    words.insert(words.end(), launch.args.begin(), launch.args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    int hold[2], job[2], out[2] = {-1, -1};
    if (pipe2(hold, O_CLOEXEC) != 0 || pipe2(job, O_CLOEXEC) != 0 ||
        (launch.closedStdout && pipe2(out, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe");
    const int outFd = launch.closedStdout ? out[1] : open(outFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFd = open(errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (launch.closedStdout)
        close(out[0]);  // nobody will ever read what the child prints

    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec.
        if (launch.ownProcessGroup)
            setpgid(0, 0);
        for (int s = 1; s < NSIG; ++s)
            signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const auto& [resource, value] : launch.limits) {
            const struct rlimit l = {value, value};
            if (setrlimit(static_cast<__rlimit_resource_t>(resource), &l) != 0)
                _exit(120);
        }
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        // Inherited by everything the child starts: the reading end sees the
        // end of the file once the last of them has ended.
        fcntl(job[1], F_SETFD, 0);
        char byte;
        close(hold[1]);
        if (read(hold[0], &byte, 1) != 1)
            _exit(121);
        if (chdir(launch.dir.c_str()) != 0)
            _exit(122);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(hold[0]);
    close(job[1]);
    jobEnd_ = job[0];
    close(outFd);
    close(errFd);
    close(nullFd);
    release_ = hold[1];
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (launch.ownProcessGroup)
        setpgid(pid_, pid_);  // also here, so the group exists once the constructor returns
}

Child::~Child()
{
    if (release_ >= 0)
        close(release_);
    if (jobEnd_ >= 0)
        close(jobEnd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void Child::start()
{
    if (release_ < 0)
        return;
    const char byte = 1;
    if (write(release_, &byte, 1) != 1)
        throw std::runtime_error("cannot start the child");
    close(release_);
    release_ = -1;
}

RunResult Child::wait()
{
    start();
    int raw = 0;
    struct rusage usage {};
    while (wait4(pid_, &raw, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    for (char byte;;) {
        const ssize_t n = read(jobEnd_, &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    close(jobEnd_);
    jobEnd_ = -1;
    RunResult r;
    if (WIFEXITED(raw)) {
        r.status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        r.signalled = true;
        r.signal = WTERMSIG(raw);
        r.status = 128 + r.signal;
    }
    r.maxRssKiB = usage.ru_maxrss;
    r.out = readFile(outFile_);
    r.err = readFile(errFile_);
    std::remove(outFile_.c_str());
    std::remove(errFile_.c_str());
    return r;
}

RunResult runChild(const Launch& launch)
{
    Child child(launch);
    return child.wait();
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
    // In blocks: the Vorbis encoder puts a whole call's samples on the stack.
    bool ok = true;
    const std::size_t block = 16384 * static_cast<std::size_t>(channels);
    for (std::size_t at = 0; at < samples.size() && ok; at += block) {
        const auto n = static_cast<sf_count_t>(std::min(block, samples.size() - at));
        ok = sf_write_float(f, samples.data() + at, n) == n;
    }
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
    const std::size_t block = 16384 * static_cast<std::size_t>(s.info.channels);
    for (std::size_t at = 0; at < s.samples.size(); at += block) {
        const auto n = static_cast<sf_count_t>(std::min(block, s.samples.size() - at));
        if (sf_read_float(f, s.samples.data() + at, n) <= 0)
            break;
    }
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
