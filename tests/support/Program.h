#pragma once
// Runs the built tessavo binary as a user would, and makes and reads real
// sound files with libsndfile.

#include <sndfile.h>

#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tessavo::test {

struct RunResult {
    int status = -1;       // exit status, or 128 + signal number
    bool signalled = false;
    int signal = 0;        // the signal that ended the process (Child only)
    long maxRssKiB = 0;    // its peak resident memory (Child only)
    std::string out;       // standard output
    std::string err;       // standard error
};

// The program under test: the build's tessavo, or the one that the
// environment variable TESSAVO_TEST_BINARY names.
std::string tessavoBinary();

// Small transform sizes for quick runs: transform 512, hop 128, 3 passes.
inline const std::vector<std::string> kSmallRun = {"-f", "256", "-i", "3"};

// head followed by tail (by default the small sizes above).
std::vector<std::string> withOptions(std::vector<std::string> head, const std::vector<std::string>& tail = kSmallRun);

// Samples that the resynthesis of an S-sample input gives: one analysis row
// per hop plus one, times the hop.
int expectedFrames(int samples, int n, int overlap);

// Runs tessavo with args in folder dir.
RunResult runTessavo(const std::vector<std::string>& args, const std::string& dir);

// How a Child is started.
struct Launch {
    Launch(std::vector<std::string> a, std::string d, std::vector<std::pair<int, rlim_t>> l = {})
        : args(std::move(a)), dir(std::move(d)), limits(std::move(l))
    {
    }
    std::vector<std::string> args;  // tessavo's arguments, or with program set the whole command's
    std::string dir;                // where it runs; standard output and error go to files there
    std::vector<std::pair<int, rlim_t>> limits;  // setrlimit(resource, value) in the child only
    std::vector<std::string> program;  // default: the tessavo binary
    bool ownProcessGroup = false;   // a group of its own, led by the child (for signals to a whole job)
    bool closedStdout = false;      // standard output is a pipe whose reader is gone
};

// A process started from the test, held before it runs the program until
// start() (so that the test can, say, move it into a cgroup first). Signal
// dispositions are the defaults in the child. The destructor kills and reaps
// a child that is still running.
//
// The child and every process it starts form its job. wait() returns once
// the whole job has ended, not just the child: a shell killed by Ctrl-C may
// end before the program it started, which is still cleaning up.
class Child {
public:
    explicit Child(const Launch& launch);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    void start();
    // Waits for the end of the child and of every process it started, and
    // collects what the child printed.
    RunResult wait();

private:
    pid_t pid_ = -1;
    int release_ = -1;  // writing end of the pipe the child waits on
    int jobEnd_ = -1;   // reading end of a pipe every process of the job holds open
    std::string outFile_, errFile_;
};

// Runs a Child to its end.
RunResult runChild(const Launch& launch);

struct Sound {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved
};

// Writes interleaved samples in the given format; returns false on failure.
bool writeSound(const std::string& path, int format, int channels, int rate, const std::vector<float>& samples);
// Reads a whole sound file; info.frames is 0 and samples empty when it fails.
Sound readSound(const std::string& path);

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
std::string sha256(const std::string& path);

// A few seconds' worth of deterministic test signal: two tones and a decaying
// click train, scaled to amplitude.
std::vector<float> testSignal(int frames, int channels, int rate, double amplitude = 0.5);

}  // namespace tessavo::test
