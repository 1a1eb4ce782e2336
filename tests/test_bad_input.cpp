// Hostile input, end to end through the real program: damaged and odd sound
// files, impossible paths, read-only and full file systems, and command-line
// values at the ends of their ranges. Every case ends with status 0 or 1 and
// never a signal, says what went wrong, and a failed run leaves every file
// that was there before byte for byte as it was.

#include "support/Bytes.h"
#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

constexpr int kRate = 8000;
constexpr int kFrames = 2000;
// Bytes of an earlier output that a failed run must not touch.
const std::string kOldResidual = "an earlier x-residual.wav\n";
const std::string kOldText = "an earlier x.wav-W.txt\n";

std::string fmtChunk(int channels)
{
    std::string s = "fmt ";
    put32(s, 16);
    put16(s, 1);  // integer PCM
    put16(s, static_cast<std::uint16_t>(channels));
    put32(s, kRate);
    put32(s, static_cast<std::uint32_t>(kRate * channels * 2));
    put16(s, static_cast<std::uint16_t>(channels * 2));
    put16(s, 16);
    return s;
}

// A 16-bit mono WAV file written by hand, so that its data length field can
// claim something other than the data that follows.
std::string pcm16Wav(int frames, std::uint32_t claimedDataBytes)
{
    const std::vector<float> signal = testSignal(frames, 1, kRate);
    std::string data;
    for (float v : signal)
        put16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0f))));
    std::string s = "RIFF";
    put32(s, static_cast<std::uint32_t>(36 + std::min<std::uint64_t>(claimedDataBytes, 0xFFFFFFFFu - 36)));
    s += "WAVE" + fmtChunk(1) + "data";
    put32(s, claimedDataBytes);
    return s + data;
}

// An RF64 file of 16-bit silence that really is as long as its header says:
// sparse, so it takes no room on disk.
void writeSparseRf64(const std::string& path, int channels, std::uint64_t frames)
{
    const std::uint64_t dataBytes = frames * static_cast<std::uint64_t>(channels) * 2;
    const std::string fmt = fmtChunk(channels);
    std::string s = "RF64";
    put32(s, 0xFFFFFFFFu);
    s += "WAVE";
    s += "ds64";
    put32(s, 28);
    put64(s, 4 + 36 + fmt.size() + 8 + dataBytes);  // RIFF size
    put64(s, dataBytes);
    put64(s, frames);
    put32(s, 0);  // no table
    s += fmt + "data";
    put32(s, 0xFFFFFFFFu);  // the length is in ds64
    writeBytes(path, s);
    fs::resize_file(path, s.size() + dataBytes);
}

void writeFloatWav(const std::string& path, int channels, std::size_t at, float value)
{
    std::vector<float> signal = testSignal(kFrames, channels, kRate);
    signal[at] = value;
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, kRate, signal));
}

void writeInput(const std::string& path, int channels = 1, int frames = kFrames)
{
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, kRate, testSignal(frames, channels, kRate)));
}

// Runs tessavo in dir and checks that it failed with status 1 without
// changing anything there.
RunResult runAndExpectNoChange(const std::vector<std::string>& a, const std::string& dir, const std::string& what)
{
    const Snapshot before = snapshot(dir);
    const RunResult r = runTessavo(a, dir);
    EXPECT_FALSE(r.signalled) << what << ": " << r.err;
    EXPECT_EQ(r.status, 1) << what << ": " << r.out;
    const Snapshot after = snapshot(dir);
    EXPECT_EQ(names(after), names(before)) << what;
    EXPECT_EQ(changed(before, after), std::vector<std::string>{}) << what;
    return r;
}

// Checks an output sound: 16-bit mono WAV of the given length.
void expectOutput(const std::string& path, int frames, const std::string& what)
{
    const Sound s = readSound(path);
    EXPECT_EQ(s.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16) << what << ": " << path;
    EXPECT_EQ(s.info.channels, 1) << what << ": " << path;
    EXPECT_EQ(s.info.frames, frames) << what << ": " << path;
}

// Mounts made by a test live in a mount namespace of the test's own process:
// the tessavo child sees them, nothing else does, and they vanish with the
// process even when a test stops half-way. Returns why that is not possible,
// or "" when it is.
std::string enterPrivateMountNamespace()
{
    if (unshare(CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making mounts private: ") + std::strerror(errno);
    return "";
}

// A mount that is undone on every way out of the test, before the scratch
// folder that holds it is removed.
class Mounted {
public:
    explicit Mounted(std::string target) : target_(std::move(target)) {}
    ~Mounted() { umount2(target_.c_str(), MNT_DETACH); }
    Mounted(const Mounted&) = delete;
    Mounted& operator=(const Mounted&) = delete;

private:
    std::string target_;
};

std::uint64_t freeBlocks(const std::string& dir, std::uint64_t& blockSize)
{
    struct statvfs st {};
    if (statvfs(dir.c_str(), &st) != 0)
        return 0;
    blockSize = st.f_frsize;
    return st.f_bavail;
}

// Fills the file system of dir with a file named filler until exactly
// blocks blocks are free.
void leaveFreeBlocks(const std::string& dir, std::uint64_t blocks)
{
    std::uint64_t blockSize = 0;
    const std::uint64_t now = freeBlocks(dir, blockSize);
    ASSERT_GE(now, blocks);
    writeBytes(dir + "/filler", std::string((now - blocks) * blockSize, 'f'));
    ASSERT_EQ(freeBlocks(dir, blockSize), blocks);
}

}  // namespace

// Input files that cannot be used: each run says why on its first line and
// writes nothing, and the earlier outputs stay as they were.
TEST(BadInput, UnusableInputFilesAreRejectedAndChangeNothing)
{
    struct Case {
        const char* what;
        std::function<void(const ScratchDir&)> make;
        std::string input;
        // The whole output, or its first line when the library's reason follows.
        std::string message;
        bool libraryReasonFollows;
    };
    const std::string notFinite = "Not able to process input file x.wav: it holds samples that are not finite numbers\n";
    const std::string channels = "Not able to process more than 2 channels\n";
    std::vector<Case> cases = {
        {"zero-byte file", [](const ScratchDir& d) { writeBytes(d.file("x.wav"), ""); }, "x.wav",
         "Not able to open input file x.wav\n", true},
        {"plain text named .wav",
         [](const ScratchDir& d) { writeBytes(d.file("x.wav"), "These are notes, not a sound.\n"); }, "x.wav",
         "Not able to open input file x.wav\n", true},
        {"truncated header", [](const ScratchDir& d) { writeBytes(d.file("x.wav"), pcm16Wav(kFrames, 2 * kFrames).substr(0, 30)); },
         "x.wav", "Not able to open input file x.wav\n", true},
        {"3 channels", [](const ScratchDir& d) { writeInput(d.file("x.wav"), 3); }, "x.wav", channels, false},
        {"6 channels", [](const ScratchDir& d) { writeInput(d.file("x.wav"), 6); }, "x.wav", channels, false},
        {"NaN sample", [](const ScratchDir& d) { writeFloatWav(d.file("x.wav"), 1, 700, std::nanf("")); }, "x.wav",
         notFinite, false},
        {"infinite sample",
         [](const ScratchDir& d) { writeFloatWav(d.file("x.wav"), 1, 0, std::numeric_limits<float>::infinity()); },
         "x.wav", notFinite, false},
        {"negative infinite last sample",
         [](const ScratchDir& d) {
             writeFloatWav(d.file("x.wav"), 1, kFrames - 1, -std::numeric_limits<float>::infinity());
         },
         "x.wav", notFinite, false},
        {"NaN in the right channel only",
         [](const ScratchDir& d) { writeFloatWav(d.file("x.wav"), 2, 2 * 333 + 1, std::nanf("")); }, "x.wav",
         notFinite, false},
        // The file is as long as its header says: more frames than a 32-bit
        // count holds, for one and for two channels.
        {"mono file of 2^31 frames", [](const ScratchDir& d) { writeSparseRf64(d.file("x.wav"), 1, 1ull << 31); },
         "x.wav", "Not able to process input file x.wav: more than 2147483647 frames\n", false},
        {"stereo file of 2^30 frames", [](const ScratchDir& d) { writeSparseRf64(d.file("x.wav"), 2, 1ull << 30); },
         "x.wav", "Not able to process input file x.wav: more than 1073741823 frames\n", false},
        {"a folder as the input", [](const ScratchDir& d) { fs::create_directory(d.file("x.wav")); }, "x.wav",
         "Not able to open input file x.wav\n", true},
        // Root reads a file whatever its permission bits say, so these are
        // the unreadable inputs every user meets: a path that goes through a
        // file, and a link whose target is gone.
        {"path through a file", [](const ScratchDir& d) { writeInput(d.file("x.wav")); }, "x.wav/in.wav",
         "Not able to open input file x.wav/in.wav\n", true},
        {"dangling link", [](const ScratchDir& d) { fs::create_symlink("gone.wav", d.file("x.wav")); }, "x.wav",
         "Not able to open input file x.wav\n", true},
    };
    if (geteuid() != 0)
        cases.push_back({"no read permission",
                         [](const ScratchDir& d) {
                             writeInput(d.file("x.wav"));
                             fs::permissions(d.file("x.wav"), fs::perms::none);
                         },
                         "x.wav", "Not able to open input file x.wav\n", true});

    for (const Case& c : cases) {
        ScratchDir dir;
        writeBytes(dir.file("x-residual.wav"), kOldResidual);
        writeBytes(dir.file("x.wav-W.txt"), kOldText);
        c.make(dir);
        const RunResult r = runAndExpectNoChange(withOptions({c.input, "2", "-m"}), dir.path(), c.what);
        if (c.libraryReasonFollows) {
            EXPECT_EQ(r.out.substr(0, c.message.size()), c.message) << c.what;
            EXPECT_GT(r.out.size(), c.message.size()) << c.what << ": no reason given";
        } else {
            EXPECT_EQ(r.out, c.message) << c.what;
        }
    }
}

// Damaged files that the sound library still opens: the run goes through and
// its outputs cover exactly the frames the library reports.
TEST(BadInput, DamagedButReadableFilesGiveConsistentOutputs)
{
    struct Case {
        const char* what;
        std::string bytes;
        int framesRead;
    };
    const std::string whole = pcm16Wav(kFrames, 2 * kFrames);
    const Case cases[] = {
        {"header only", pcm16Wav(0, 0), 0},
        // Cut in the middle of a sample: the half sample is not read.
        {"truncated data", whole.substr(0, 44 + 2 * 1234 + 1), 1234},
        {"data length claims 4 GiB", pcm16Wav(kFrames, 0xFFFFFFF0u), kFrames},
        {"data length claims 2 GiB", pcm16Wav(kFrames, 0x7FFFFFF0u), kFrames},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        writeBytes(dir.file("x.wav"), c.bytes);
        writeBytes(dir.file("x-residual.wav"), kOldResidual);
        ASSERT_EQ(readSound(dir.file("x.wav")).info.frames, c.framesRead) << c.what;

        const RunResult r = runTessavo(withOptions({"x.wav", "2", "-s"}), dir.path());
        EXPECT_FALSE(r.signalled) << c.what;
        ASSERT_EQ(r.status, 0) << c.what << ": " << r.out;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_EQ(names(snapshot(dir.path())),
                  (std::vector<std::string>{"x-0.wav", "x-1.wav", "x-residual.wav", "x.wav"}))
            << c.what;
        for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav"})
            expectOutput(dir.file(out), expectedFrames(c.framesRead, 512, 4), c.what);
        EXPECT_EQ(readFile(dir.file("x.wav")), c.bytes) << c.what;
    }

    // A file without samples separates into silence.
    ScratchDir dir;
    writeBytes(dir.file("x.wav"), pcm16Wav(0, 0));
    ASSERT_EQ(runTessavo(withOptions({"x.wav", "2", "-s"}), dir.path()).status, 0);
    for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav"}) {
        const Sound s = readSound(dir.file(out));
        ASSERT_EQ(s.samples.size(), 128u) << out;
        EXPECT_TRUE(std::all_of(s.samples.begin(), s.samples.end(), [](float v) { return v == 0.0f; })) << out;
    }
}

// Command-line values at the ends of their ranges and just past them.
TEST(BadInput, CommandLineValuesAtTheEndsOfTheirRanges)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;              // exact standard output
        int objectiveLines;           // or, when above 0, this many progress lines
        std::string errContains;      // a phrase of TCLAP's message on standard error
        std::vector<std::string> outputs;  // written besides x.wav, by name
        int n;                        // transform size and overlap of the outputs
        int overlap;
    };
    const auto rejected = [](std::vector<std::string> a, std::string out, std::string err = "") {
        return Case{std::move(a), 1, std::move(out), 0, std::move(err), {}, 0, 0};
    };
    const auto accepted = [](std::vector<std::string> a, std::vector<std::string> outputs, int n = 512,
                             int overlap = 4, int objectiveLines = 0) {
        return Case{std::move(a), 0, "", objectiveLines, "", std::move(outputs), n, overlap};
    };
    const std::vector<std::string> two = {"x-0.wav", "x-1.wav", "x-residual.wav"};
    const Case cases[] = {
        accepted({"x.wav", "0", "-f", "256", "-s"}, {"x-residual.wav"}),
        accepted({"x.wav", "1", "-f", "256", "-s"}, {"x-0.wav", "x-residual.wav"}),
        rejected({"x.wav", "2000000000", "-f", "256"},
                 "Not able to hold 2000000000 components for 16 frames and 256 bins: too many components\n"),
        rejected({"x.wav", "2", "-f", "0"}, "fftsize must be between 1 and 1073741823\n"),
        rejected({"x.wav", "2", "-f", "1"}, "overlap must be between 1 and the transform size 2\n"),
        accepted({"x.wav", "2", "-f", "1", "-o", "2", "-s"}, two, 2, 2),
        accepted({"x.wav", "2", "-f", "1", "-o", "1", "-s"}, two, 2, 1),
        rejected({"x.wav", "2", "-f", "1073741824"}, "fftsize must be between 1 and 1073741823\n"),
        accepted({"x.wav", "2", "-f", "256", "-o", "1", "-s"}, two, 512, 1),
        accepted({"x.wav", "2", "-f", "256", "-o", "512", "-s"}, two, 512, 512),
        rejected({"x.wav", "2", "-f", "256", "-o", "513"}, "overlap must be between 1 and the transform size 512\n"),
        rejected({"x.wav", "2", "-f", "256", "-o", "0"}, "overlap must be between 1 and the transform size 512\n"),
        // One update pair and no progress lines, even without --silent.
        accepted({"x.wav", "2", "-f", "256", "-i", "0"}, two),
        accepted({"x.wav", "2", "-f", "256", "-i", "-7"}, two),
        accepted({"x.wav", "2", "-f", "256", "-i", "-2147483648"}, two),
        // No change is ever below 0: every pass runs and shows its line.
        accepted({"x.wav", "2", "-f", "256", "-i", "3", "-c", "0"}, two, 512, 4, 2),
        accepted({"x.wav", "2", "-f", "256", "-i", "3", "-c", "-1"}, two, 512, 4, 2),
        // TCLAP reads a double with the stream's rules, which know no nan or
        // inf: the command line is rejected before anything is read.
        rejected({"x.wav", "2", "-f", "256", "-c", "nan"}, "", "Couldn't read argument value from string 'nan'"),
        rejected({"x.wav", "2", "-f", "256", "-c", "NaN"}, "", "Couldn't read argument value from string 'NaN'"),
        rejected({"x.wav", "2", "-f", "256", "-c", "inf"}, "", "Couldn't read argument value from string 'inf'"),
        rejected({"x.wav", "2", "-f", "256", "-i", "99999999999"}, "",
                 "Couldn't read argument value from string '99999999999'"),
    };
    for (const Case& c : cases) {
        std::string what;
        for (const std::string& a : c.args)
            what += a + " ";
        ScratchDir dir;
        writeInput(dir.file("x.wav"));
        writeBytes(dir.file("x-residual.wav"), kOldResidual);

        if (c.status != 0) {
            const RunResult r = runAndExpectNoChange(c.args, dir.path(), what);
            EXPECT_EQ(r.out, c.out) << what;
            if (!c.errContains.empty()) {
                EXPECT_NE(r.err.find(c.errContains), std::string::npos) << what << ": " << r.err;
            }
            continue;
        }

        const RunResult r = runTessavo(c.args, dir.path());
        EXPECT_FALSE(r.signalled) << what;
        ASSERT_EQ(r.status, 0) << what << ": " << r.out;
        if (c.objectiveLines > 0) {
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), c.objectiveLines) << what << r.out;
            std::size_t at = 0;
            for (int i = 0; i < c.objectiveLines; ++i, at = r.out.find('\n', at) + 1)
                EXPECT_EQ(r.out.compare(at, 11, "objective: "), 0) << what << r.out;
        } else {
            EXPECT_EQ(r.out, c.out) << what;
        }
        std::vector<std::string> expected = c.outputs;
        expected.push_back("x.wav");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names(snapshot(dir.path())), expected) << what;
        for (const std::string& out : c.outputs)
            expectOutput(dir.file(out), expectedFrames(kFrames, c.n, c.overlap), what);
    }
}

// The largest fftsize gives transform size 2^30, whose tables and window
// alone take more than 10 GiB. The address space of the run is capped at
// 2 GiB so that the case ends the same way on every machine and cannot starve
// the others; the run must then end with the program's own message.
TEST(BadInput, LargestTransformSizeFailsCleanlyWhenMemoryIsShort)
{
    if (kSanitizerShadow)
        GTEST_SKIP() << "the address and thread sanitizers cannot start under an address-space limit, and end "
                        "the process on a failed allocation instead of throwing std::bad_alloc";
    ScratchDir dir;
    writeInput(dir.file("x.wav"));
    writeBytes(dir.file("x-residual.wav"), kOldResidual);

    // The limit is inherited by the shell and the program that runTessavo starts.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    struct rlimit capped = old;
    capped.rlim_cur = std::min<rlim_t>(old.rlim_max, rlim_t{2} << 30);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &capped), 0);
    const RunResult r = runAndExpectNoChange({"x.wav", "2", "-f", "1073741823", "-s"}, dir.path(), "fftsize 2^30-1");
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(r.out, "Not enough memory for this input and these settings\n");
}

// A folder mounted read-only: the run stops before the long work and every
// earlier output stays.
TEST(BadInput, ReadOnlyOutputFolderIsReportedBeforeTheWork)
{
    // Root writes through permission bits, so only a read-only mount makes
    // a folder that nobody can write to.
    const std::string why = enterPrivateMountNamespace();
    if (!why.empty())
        GTEST_SKIP() << "cannot mount a read-only folder here (" << why << ")";

    ScratchDir dir;
    fs::create_directory(dir.file("ro"));
    writeInput(dir.file("ro/x.wav"));
    writeBytes(dir.file("ro/x-residual.wav"), kOldResidual);
    writeBytes(dir.file("ro/x.wav-W.txt"), kOldText);
    const std::string ro = dir.file("ro");
    if (mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mount not permitted: " << std::strerror(errno);
    Mounted bound(ro);
    ASSERT_EQ(mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0)
        << std::strerror(errno);

    for (const char* matrices : {"-s", "-m"}) {
        const RunResult r = runAndExpectNoChange(withOptions({"ro/x.wav", "2", matrices}), dir.path(), matrices);
        EXPECT_EQ(r.out, "Not able to open output file ro/x-residual.wav\n" + std::string(std::strerror(EROFS)))
            << matrices;
    }
}

// A small file system that fills up while the outputs are written: the run
// stops at the output that does not fit, with status 1, and since the
// outputs are renamed into place only once all are complete, every earlier
// file stays as it was and no temporary is left behind.
TEST(BadInput, FullDiskLeavesEveryEarlierFileAsItWas)
{
    const std::string why = enterPrivateMountNamespace();
    if (!why.empty())
        GTEST_SKIP() << "cannot mount a small file system here (" << why << ")";

    // Transform size 512 on 6000 frames: every output is 6016 frames, 12076 bytes.
    constexpr int frames = 6000;
    constexpr std::uint64_t outputBytes = 44 + 2 * 6016;

    struct Case {
        const char* what;
        std::vector<std::string> args;
        // Free blocks left once the input and the earlier files are in place,
        // given the blocks one output takes.
        std::function<std::uint64_t(std::uint64_t)> leaveFree;
        std::string message;  // the whole first line
    };
    const Case cases[] = {
        // The sounds are written together, block by block, so which of them
        // meets the full disk first is not fixed: the message names one.
        {"room for two outputs, not three", withOptions({"small/x.wav", "3", "-s"}),
         [](std::uint64_t one) { return 3 * one - 2; }, ""},
        {"no room for the first output", withOptions({"small/x.wav", "3", "-s"}), [](std::uint64_t one) { return one - 1; },
         ""},
        {"no room at all, matrix text first", withOptions({"small/x.wav", "3", "-s", "-m"}), [](std::uint64_t) { return 0; },
         "Not able to write output file small/x.wav-W.txt\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string small = dir.file("small");
        fs::create_directory(small);
        if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
            GTEST_SKIP() << "tmpfs mount not permitted: " << std::strerror(errno);
        Mounted mounted(small);

        writeInput(small + "/x.wav", 1, frames);
        writeBytes(small + "/x-residual.wav", kOldResidual);
        writeBytes(small + "/x-1.wav", "an earlier x-1.wav\n");
        std::uint64_t blockSize = 0;
        freeBlocks(small, blockSize);
        ASSERT_GT(blockSize, 0u);
        leaveFreeBlocks(small, c.leaveFree((outputBytes + blockSize - 1) / blockSize));

        // Run from the folder above: the captured standard output goes to
        // the folder of the run, which must not be the full one.
        const Snapshot before = snapshot(small);
        const RunResult r = runTessavo(c.args, dir.path());
        EXPECT_FALSE(r.signalled) << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        const std::string first = r.out.substr(0, r.out.find('\n') + 1);
        if (!c.message.empty()) {
            EXPECT_EQ(first, c.message) << c.what << ": " << r.out;
        } else {
            bool known = false;
            for (const char* verb : {"write", "open"})
                for (const char* part : {"residual", "0", "1", "2"})
                    known = known || first == std::string("Not able to ") + verb + " output file small/x-" + part +
                                                  ".wav\n";
            EXPECT_TRUE(known) << c.what << ": " << first;
            EXPECT_NE(r.out.find("No space left on device"), std::string::npos) << c.what << ": " << r.out;
        }

        const Snapshot after = snapshot(small);
        EXPECT_EQ(names(after), names(before)) << c.what;
        EXPECT_EQ(changed(before, after), std::vector<std::string>{}) << c.what;
    }
}
