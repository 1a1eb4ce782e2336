// Runs that meet the machine's limits: memory (physical, a cgroup's, an
// address-space limit), threads the system will not give, and numbers too
// large for the arithmetic. Each ends with the program's own message, or
// goes through, but is never killed.

#include "app/MemoryBudget.h"

#include "support/Bytes.h"
#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessavo;
using namespace tessavo::test;

namespace {

constexpr const char* kNoAddressLimit =
    "the address and thread sanitizers reserve terabytes of address space and cannot start under a limit";

constexpr rlim_t kGiB = rlim_t{1} << 30;

// The header of a 16-bit WAV file at 8000 Hz whose data chunk claims
// dataBytes.
std::string wavHeader(int channels, std::uint32_t dataBytes)
{
    std::string s = "RIFF";
    put32(s, dataBytes > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : 36 + dataBytes);
    s += "WAVEfmt ";
    put32(s, 16);
    put16(s, 1);
    put16(s, static_cast<unsigned>(channels));
    put32(s, 8000);
    put32(s, static_cast<std::uint32_t>(8000 * channels * 2));
    put16(s, static_cast<unsigned>(channels * 2));
    put16(s, 16);
    s += "data";
    put32(s, dataBytes);
    return s;
}

void writeInput(const std::string& path, int channels, int frames, int rate = 8000, int format = SF_FORMAT_PCM_16,
                double amplitude = 0.5)
{
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | format, channels, rate, testSignal(frames, channels, rate, amplitude)));
}

// A cgroup (v1 or v2) of one controller for one child, removed again at the
// end. Where the machine does not allow one, why() says so.
class Cgroup {
public:
    Cgroup(const std::string& controller, const std::map<std::string, std::string>& settings)
    {
        static std::atomic<int> count{0};
        const std::string name = "tessavo-test-" + std::to_string(getpid()) + "-" + std::to_string(count++);
        const std::string v1 = "/sys/fs/cgroup/" + controller;
        const bool isV1 = fs::exists(v1 + "/cgroup.procs");
        path_ = (isV1 ? v1 : std::string("/sys/fs/cgroup")) + "/" + name;
        if (mkdir(path_.c_str(), 0755) != 0) {
            why_ = "cannot make a cgroup at " + path_ + ": " + std::strerror(errno);
            path_.clear();
            return;
        }
        for (const auto& [file, value] : settings) {
            std::ofstream out(path_ + "/" + file);
            out << value;
            out.close();
            if (!out && file.find("memsw") == std::string::npos) {
                why_ = "cannot set " + file + " in " + path_;
                return;
            }
        }
    }
    ~Cgroup()
    {
        if (!path_.empty())
            rmdir(path_.c_str());
    }
    Cgroup(const Cgroup&) = delete;
    Cgroup& operator=(const Cgroup&) = delete;

    const std::string& why() const { return why_; }
    bool add(pid_t pid) const
    {
        std::ofstream out(path_ + "/cgroup.procs");
        out << pid;
        out.close();
        return static_cast<bool>(out);
    }

private:
    std::string path_, why_;
};

// Runs tessavo in a memory cgroup of limit bytes.
RunResult runInMemoryCgroup(const Launch& launch, const std::string& limit, std::string& why)
{
    // v1 wants the limit before the limit with swap; v2 has one file.
    Cgroup group("memory", {{"memory.limit_in_bytes", limit}, {"memory.memsw.limit_in_bytes", limit}});
    Cgroup* g = &group;
    std::unique_ptr<Cgroup> v2;
    if (!group.why().empty() || !fs::exists("/sys/fs/cgroup/memory/cgroup.procs")) {
        v2 = std::make_unique<Cgroup>("memory", std::map<std::string, std::string>{{"memory.max", limit}});
        g = v2.get();
    }
    if (!g->why().empty()) {
        why = g->why();
        return {};
    }
    Child child(launch);
    if (!g->add(child.pid())) {
        why = "cannot move a process into the cgroup";
        return {};
    }
    return child.wait();
}

}  // namespace

// The cgroup limit is found in v1 and v2 layouts, along the whole path up
// to the mount's root, and "max" or v1's huge number means none.
TEST(Resources, CgroupLimitIsTheLeastAlongThePath)
{
    static std::map<std::string, std::string> files;
    const auto read = [](const std::string& path) { return files.count(path) ? files[path] : std::string(); };

    files = {{"/sys/fs/cgroup/user/job/memory.max", "max\n"}, {"/sys/fs/cgroup/user/memory.max", "1073741824\n"}};
    const std::string v2 = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
    EXPECT_EQ(cgroupMemoryLimit(v2, "0::/user/job\n", read), 1073741824.0);
    EXPECT_LT(cgroupMemoryLimit(v2, "0::/\n", read), 0);

    // v1 inside a container: the mount's root is the container's own cgroup.
    files = {{"/sys/fs/cgroup/memory/memory.limit_in_bytes", "536870912\n"},
             {"/sys/fs/cgroup/memory/inner/memory.limit_in_bytes", "9223372036854771712\n"}};
    const std::string v1 =
        "25 20 0:22 /outer /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
        "26 20 0:23 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n";
    EXPECT_EQ(cgroupMemoryLimit(v1, "5:cpu:/\n4:memory:/outer/inner\n", read), 536870912.0);
    EXPECT_LT(cgroupMemoryLimit(v1, "4:memory:/elsewhere\n", read), 0);
    EXPECT_LT(cgroupMemoryLimit("", "", read), 0);
}

// What the run will hold grows with the input's length, the component count
// and the channels, and the factors are told apart from the rest.
TEST(Resources, MemoryNeedFollowsTheRunsShape)
{
    const RunShape mono{44100 * 180, 1, 8192, 4, 10, 2};
    RunShape stereo = mono;
    stereo.channels = 2;
    RunShape many = mono;
    many.components = 20000;
    const MemoryNeed m = separationMemory(mono), s = separationMemory(stereo), k = separationMemory(many);
    // Three minutes: 3876 frames of 4096 bins, 127 MB a matrix; V and the
    // phases for mono, V, the angle and two phases for stereo, with the
    // samples (32 MB a channel) beside them while the analysis runs.
    EXPECT_GT(m.total, 2 * 127e6 + 31e6);
    EXPECT_LT(m.total, 2 * 127e6 + 31e6 + 100e6);
    EXPECT_GT(s.total, 4 * 127e6 + 63e6);
    EXPECT_LT(s.total, 4 * 127e6 + 63e6 + 150e6);
    EXPECT_EQ(k.withoutFactors, m.withoutFactors);
    // 20000 components: seven K × B tables of 655 MB each.
    EXPECT_GT(k.total - k.withoutFactors, 7 * 655e6);
}

// An input far too large for the memory is refused from its header, before
// its samples are read: a 16-bit mono WAV of 200 million frames (400 MB,
// sparse) under an address-space limit of 1 GiB. Earlier versions read it
// all (800 MB of samples) before they looked.
TEST(Resources, HugeInputIsRefusedBeforeItIsRead)
{
    if (kSanitizerShadow)
        GTEST_SKIP() << kNoAddressLimit;
    ScratchDir dir;
    const std::uint64_t frames = 200'000'000;
    writeBytes(dir.file("x.wav"), wavHeader(1, static_cast<std::uint32_t>(2 * frames)));
    fs::resize_file(dir.file("x.wav"), 44 + 2 * frames);
    const Snapshot before = snapshot(dir.path());
    const RunResult r = runChild({{"x.wav", "3"}, dir.path(), {{RLIMIT_AS, kGiB}}});
    EXPECT_FALSE(r.signalled) << strsignal(r.signal);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Not enough memory for this input and these settings\n");
    EXPECT_LT(r.maxRssKiB, 100 * 1024) << "the samples were read first";
    EXPECT_EQ(snapshot(dir.path()), before);
}

// A stream (a FIFO) whose header claims 2 GiB of samples but delivers 2000
// frames: nothing is held for the claim, and the run separates what came.
// Earlier versions allocated the claimed 8 GB of floats.
TEST(Resources, StreamWithALyingHeaderHoldsOnlyWhatArrives)
{
    if (kSanitizerShadow)
        GTEST_SKIP() << kNoAddressLimit;
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.file("x.wav").c_str(), 0644), 0);
    std::string bytes = wavHeader(1, 0x7FFFFFF0u);
    for (float v : testSignal(2000, 1, 8000))
        put16(bytes, static_cast<unsigned>(static_cast<std::int16_t>(std::lround(v * 32767.0f))));
    std::thread feeder([&] {
        std::ofstream(dir.file("x.wav"), std::ios::binary) << bytes;  // opening waits for the reader
    });
    const RunResult r = runChild({{"x.wav", "2", "-f", "256", "-i", "3", "-s"}, dir.path(), {{RLIMIT_AS, kGiB}}});
    feeder.join();
    EXPECT_FALSE(r.signalled) << strsignal(r.signal);
    ASSERT_EQ(r.status, 0) << r.out;
    for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav"})
        EXPECT_EQ(readSound(dir.file(out)).info.frames, expectedFrames(2000, 512, 4)) << out;
}

// A stream of unknown length is checked as it grows: a long one is stopped
// with the message as soon as the run could not hold it, here under an
// address-space limit of 512 MiB.
TEST(Resources, LongStreamIsStoppedAsItGrows)
{
    if (kSanitizerShadow)
        GTEST_SKIP() << kNoAddressLimit;
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.file("x.wav").c_str(), 0644), 0);
    std::atomic<long long> sent{0};
    std::thread feeder([&] {
        // Whatever the reader leaves unread: a write to a closed FIFO fails
        // with EPIPE (SIGPIPE is ignored here) and the feeder stops.
        struct sigaction ignore {}, old {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &old);
        const int fd = open(dir.file("x.wav").c_str(), O_WRONLY);
        std::string block = wavHeader(2, 0xFFFFFFF0u);
        for (float v : testSignal(65536, 2, 8000))
            put16(block, static_cast<unsigned>(static_cast<std::int16_t>(std::lround(v * 32767.0f))));
        for (int i = 0; fd >= 0 && i < 1000; ++i) {
            if (write(fd, block.data(), block.size()) < 0)
                break;
            sent += 65536;
            block.erase(0, i == 0 ? 44 : 0);
        }
        if (fd >= 0)
            close(fd);
        sigaction(SIGPIPE, &old, nullptr);
    });
    const RunResult r = runChild({{"x.wav", "2", "-s"}, dir.path(), {{RLIMIT_AS, kGiB / 2}}});
    feeder.join();
    EXPECT_FALSE(r.signalled) << strsignal(r.signal);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Not enough memory for this input and these settings\n");
    EXPECT_LT(sent.load(), 1000 * 65536LL) << "the whole stream was read";
    EXPECT_GT(sent.load(), 1'000'000) << "refused before a sample was read";
    EXPECT_EQ(names(snapshot(dir.path())), std::vector<std::string>{"x.wav"});
}

// In a memory cgroup of 256 MiB (the limit the kernel enforces by killing
// without a word): too many components and too long an input get their
// messages before the work, and a run that fits goes through.
TEST(Resources, MemoryCgroupLimitIsRespected)
{
    struct Case {
        const char* what;
        int channels, seconds;
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {"20000 components on 3 s", 1, 3, {"x.wav", "20000", "-s"}, 1,
         "Not able to hold 20000 components for 65 frames and 4096 bins: too many components\n"},
        {"90 s of stereo", 2, 90, {"x.wav", "3", "-s", "-i", "2"}, 1, "Not enough memory for this input and these settings\n"},
        {"3 s of stereo", 2, 3, {"x.wav", "3", "-s", "-i", "20"}, 0, ""},
    };
    for (const Case& c : cases) {
        // The sanitizers' shadow memory would not fit the run that does.
        if (c.status == 0 && kSanitizerShadow)
            continue;
        ScratchDir dir;
        writeInput(dir.file("x.wav"), c.channels, 44100 * c.seconds, 44100);
        std::string why;
        const RunResult r = runInMemoryCgroup({c.args, dir.path()}, std::to_string(256 << 20), why);
        if (!why.empty())
            GTEST_SKIP() << why;
        EXPECT_FALSE(r.signalled) << c.what << ": killed by " << strsignal(r.signal);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
    }
}

// Threads the system will not give: the run falls back to those it got,
// with the same bits as one thread. -t 10000 under a 4 GiB address space
// (each thread's stack takes 8 MiB of it), and -t 50 where a cgroup allows
// 16 tasks. Earlier versions aborted ("terminate called without an active
// exception").
TEST(Resources, ThreadsThatCannotBeMadeAreDoneWithout)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"), 2, 10 * 8000);  // 626 analysis frames at -f 256
    const std::vector<std::string> run = {"x.wav", "3", "-f", "256", "-i", "5", "-s", "-m"};
    const auto outputs = [&] {
        std::string all;
        for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav", "x-2.wav", "x.wav-W.txt", "x.wav-H.txt"})
            all += readFile(dir.file(out)) + "|";
        return all;
    };
    ASSERT_EQ(runTessavo(withOptions(run, {"-t", "1"}), dir.path()).status, 0);
    const std::string oneThread = outputs();

    if (!kSanitizerShadow) {
        const RunResult r = runChild({withOptions(run, {"-t", "10000"}), dir.path(), {{RLIMIT_AS, 4 * kGiB}}});
        EXPECT_FALSE(r.signalled) << strsignal(r.signal) << ": " << r.err;
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(outputs(), oneThread);
    }

    Cgroup tasks("pids", {{"pids.max", "16"}});
    if (!tasks.why().empty())
        GTEST_SKIP() << tasks.why();
    Child child({withOptions(run, {"-t", "50"}), dir.path()});
    ASSERT_TRUE(tasks.add(child.pid()));
    const RunResult r = child.wait();
    EXPECT_FALSE(r.signalled) << strsignal(r.signal) << ": " << r.err;
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(outputs(), oneThread);
}

// Finite samples near the float maximum overflow in the arithmetic: the run
// stops with a message before any output appears, instead of writing
// infinities and NaNs and reporting success.
TEST(Resources, OverflowingArithmeticIsAnErrorNotAnOutput)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"), 1, 8000, 8000, SF_FORMAT_FLOAT, 2e37);
    writeBytes(dir.file("x-residual.wav"), "an earlier x-residual.wav\n");
    const Snapshot before = snapshot(dir.path());
    const RunResult r = runTessavo({"x.wav", "2", "-f", "256", "-i", "10", "-s", "-m"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Not able to process input file x.wav: the numbers of its separation overflowed (its samples are too large)\n");
    EXPECT_EQ(snapshot(dir.path()), before);
}
