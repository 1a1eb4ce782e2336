// The outputs of a run appear all together or not at all, under names that
// nobody can plant a link at, and every terminating signal removes what is
// unfinished and then ends the program by that same signal.

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

constexpr int kRate = 8000;
const std::string kOldResidual = "an earlier x-residual.wav\n";

void writeInput(const std::string& path, int frames = 3 * kRate)
{
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, testSignal(frames, 1, kRate)));
}

// A run that keeps factorising until it is stopped.
std::vector<std::string> endlessRun(const std::string& input)
{
    return {input, "2", "-f", "256", "-i", "100000000", "-c", "0", "-s"};
}

bool isTemporary(const std::string& name)
{
    return name.find(".part-") != std::string::npos;
}

// Waits until dir holds a temporary output file whose name starts with
// prefix, for at most 20 s.
bool waitForTemporary(const std::string& dir, const std::string& prefix = "")
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (isTemporary(name) && name.rfind(prefix, 0) == 0)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

}  // namespace

// Names that cannot become outputs are found before the factorisation (no
// progress line is printed) and the folder is left as it was; names that the
// system takes, however long, work.
TEST(OutputSafety, UnusableOutputNamesAreFoundBeforeTheWork)
{
    struct Case {
        const char* what;
        std::string input;
        std::vector<std::string> options;
        std::string folder;  // made where an output should go
        std::string message;
    };
    const std::string base(246, 'a');  // base.wav fits a file name; base-residual.wav does not
    const Case cases[] = {
        {"component 1 is a folder", "x.wav", {}, "x-1.wav", "Not able to open output file x-1.wav\n" + std::string(std::strerror(EISDIR))},
        {"the H file is a folder", "x.wav", {"-m"}, "x.wav-H.txt",
         "Not able to open output file x.wav-H.txt\n" + std::string(std::strerror(EISDIR))},
        {"names longer than a file name may be", base + ".wav", {}, "",
         "Not able to open output file " + base + "-residual.wav\n" + std::strerror(ENAMETOOLONG)},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        writeInput(dir.file(c.input));
        writeBytes(dir.file("x-residual.wav"), kOldResidual);
        if (!c.folder.empty())
            fs::create_directory(dir.file(c.folder));
        const Snapshot before = snapshot(dir.path());
        std::vector<std::string> args = {c.input, "3", "-f", "256", "-i", "3"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult r = runTessavo(args, dir.path());
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, c.message) << c.what;
        EXPECT_EQ(snapshot(dir.path()), before) << c.what;
    }

    // Output names of 1004 to 1011 bytes, past the sound library's own limit
    // for names it opens.
    ScratchDir dir;
    std::string folder;
    while (folder.size() < 990)
        folder += std::string(200, 'd').substr(0, std::min<std::size_t>(200, 990 - folder.size() - 1)) + "/";
    fs::create_directories(dir.file(folder));
    const std::string input = folder + "abcdefgh.wav";
    ASSERT_EQ(input.size(), 1002u);
    writeInput(dir.file("short.wav"));  // the library opens no longer name from here
    fs::rename(dir.file("short.wav"), dir.file(input));
    const RunResult r = runTessavo({input, "2", "-f", "256", "-i", "3", "-s", "-m"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> written;
    for (const auto& e : fs::directory_iterator(dir.file(folder)))
        written.push_back(e.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"abcdefgh-0.wav", "abcdefgh-1.wav", "abcdefgh-residual.wav",
                                                 "abcdefgh.wav", "abcdefgh.wav-H.txt", "abcdefgh.wav-W.txt"}));
    // The sound library opens no name this long, so the file is checked by
    // its size: a 44-byte header and 16-bit samples.
    EXPECT_EQ(fs::file_size(dir.file(folder + "abcdefgh-residual.wav")), 44u + 2u * expectedFrames(3 * kRate, 512, 4));
}

// Links planted where the temporary files of earlier versions went (the
// output name with ".part-" or ".probe-" and the process number) are never
// followed: their target keeps its bytes, and every output is a file of its
// own, not a link.
TEST(OutputSafety, PlantedLinksAreNotFollowed)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"));
    writeBytes(dir.file("victim.txt"), "nobody may write here\n");
    Child child({{"x.wav", "2", "-f", "256", "-i", "3", "-s", "-m"}, dir.path()});
    const std::string pid = std::to_string(child.pid());
    for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav", "x.wav-W.txt", "x.wav-H.txt"})
        for (const char* kind : {".part-", ".probe-"})
            fs::create_symlink("victim.txt", dir.file(out + std::string(kind) + pid));
    const RunResult r = child.wait();
    ASSERT_EQ(r.status, 0) << r.out;

    EXPECT_EQ(readFile(dir.file("victim.txt")), "nobody may write here\n");
    for (const char* out : {"x-residual.wav", "x-0.wav", "x-1.wav", "x.wav-W.txt", "x.wav-H.txt"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.file(out)))) << out;
        EXPECT_TRUE(fs::is_symlink(dir.file(out + std::string(".part-") + pid))) << out;
    }
    EXPECT_EQ(readSound(dir.file("x-1.wav")).info.frames, expectedFrames(3 * kRate, 512, 4));
}

// Every terminating signal, sent while the run works, removes its unfinished
// files, leaves the earlier ones as they were, and ends the program by that
// signal (not by an exit status that merely reports it).
TEST(OutputSafety, TerminatingSignalsCleanUpAndEndTheProgramByTheSignal)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ,
                    SIGPIPE}) {
        ScratchDir dir;
        writeInput(dir.file("x.wav"));
        writeBytes(dir.file("x-residual.wav"), kOldResidual);
        const Snapshot before = snapshot(dir.path());
        // No core file for the signals whose default action writes one.
        Child child({endlessRun("x.wav"), dir.path(), {{RLIMIT_CORE, 0}}});
        child.start();
        ASSERT_TRUE(waitForTemporary(dir.path())) << strsignal(sig) << ": no temporary file appeared";
        kill(child.pid(), sig);
        const RunResult r = child.wait();
        EXPECT_TRUE(r.signalled) << strsignal(sig) << ": status " << r.status;
        EXPECT_EQ(r.signal, sig) << strsignal(sig);
        EXPECT_EQ(snapshot(dir.path()), before) << strsignal(sig);
    }
}

// A file size limit (ulimit -f) that the outputs pass: a message, no partial
// file, and the end by SIGXFSZ.
TEST(OutputSafety, FileSizeLimitRemovesTheUnfinishedOutput)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"), 10 * kRate);  // outputs of 20 kB each
    writeBytes(dir.file("x-residual.wav"), kOldResidual);
    const Snapshot before = snapshot(dir.path());
    const RunResult r = runChild({{"x.wav", "2", "-f", "256", "-i", "3", "-s"}, dir.path(), {{RLIMIT_FSIZE, 16384}, {RLIMIT_CORE, 0}}});
    EXPECT_TRUE(r.signalled) << r.status;
    EXPECT_EQ(r.signal, SIGXFSZ);
    EXPECT_EQ(r.out, "Not able to write the output files: they exceed the file size limit (ulimit -f)\n");
    EXPECT_EQ(snapshot(dir.path()), before);
}

// A shell loop over several files stops at Ctrl-C, which the terminal sends
// to the whole job, and leaves no temporary once the job has ended. The shell
// usually ends only when its child dies of SIGINT; but a Ctrl-C that comes
// after the shell started the program and before it waits for it ends the
// shell at once, while the program is still removing its temporaries. The
// second shell is held at that moment every time.
TEST(OutputSafety, ControlCStopsAShellLoop)
{
    const std::string loop = "for f in a.wav b.wav; do \"$0\" \"$f\" 2 -f 256 -i 100000000 -c 0 -s; echo \"after $f\"; done";
    const std::vector<std::string> plainShell = {"/bin/bash", "-c", loop, tessavoBinary()};
    const std::vector<std::string> heldShell = {"/usr/bin/env", std::string("LD_PRELOAD=") + TESSAVO_HELD_SHELL,
                                                "/bin/bash", "-c", loop, tessavoBinary()};
    for (const auto& shell : {plainShell, heldShell}) {
        ScratchDir dir;
        writeInput(dir.file("a.wav"));
        writeInput(dir.file("b.wav"));
        Launch job({}, dir.path());
        job.program = shell;
        job.ownProcessGroup = true;
        Child child(job);
        child.start();
        ASSERT_TRUE(waitForTemporary(dir.path())) << shell[0];
        kill(-child.pid(), SIGINT);
        const RunResult r = child.wait();
        EXPECT_TRUE(r.signalled) << shell[0] << ": the loop went on, status " << r.status << ": " << r.out;
        EXPECT_EQ(r.signal, SIGINT) << shell[0];
        EXPECT_EQ(r.out, "") << shell[0];
        EXPECT_EQ(names(snapshot(dir.path())), (std::vector<std::string>{"a.wav", "b.wav"})) << shell[0];
    }
}

// A run killed outright leaves its temporaries; the next run into the same
// folder removes them, and leaves those of a run still at work, and files
// that only look like temporaries, alone.
TEST(OutputSafety, AbandonedTemporariesAreRemovedAndLiveOnesKept)
{
    ScratchDir dir;
    for (const char* input : {"killed.wav", "live.wav", "later.wav"})
        writeInput(dir.file(input));
    writeBytes(dir.file("notes.part-2026"), "mine\n");
    fs::create_symlink("notes.part-2026", dir.file("link.wav.part-ABCDEFGHIJ"));
    {
        Child killed({endlessRun("killed.wav"), dir.path()});
        killed.start();
        ASSERT_TRUE(waitForTemporary(dir.path(), "killed-1"));  // the last one made
        kill(killed.pid(), SIGKILL);
        killed.wait();
    }
    const auto temporaries = [&](const std::string& prefix) {
        int n = 0;
        for (const std::string& name : names(snapshot(dir.path())))
            n += isTemporary(name) && name.rfind(prefix, 0) == 0;
        return n;
    };
    ASSERT_EQ(temporaries("killed-"), 3);
    Child live({endlessRun("live.wav"), dir.path()});
    live.start();
    ASSERT_TRUE(waitForTemporary(dir.path(), "live-1"));

    ASSERT_EQ(runTessavo(withOptions({"later.wav", "2", "-s"}), dir.path()).status, 0);
    EXPECT_EQ(temporaries("killed-"), 0);
    EXPECT_EQ(temporaries("live-"), 3);
    EXPECT_TRUE(fileExists(dir.file("later-1.wav")));
    EXPECT_EQ(readFile(dir.file("notes.part-2026")), "mine\n");
    EXPECT_TRUE(fs::is_symlink(dir.file("link.wav.part-ABCDEFGHIJ")));

    kill(live.pid(), SIGTERM);
    live.wait();
    EXPECT_EQ(temporaries("live-"), 0);
}

// Each output's temporary holds a descriptor while the run lives. Within a
// tight limit of open files the outputs are written one at a time, with the
// bytes of a run without the limit; beyond it the run is refused before the
// work, and nothing is written.
TEST(OutputSafety, OutputsWithinTheLimitOfOpenFiles)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"));
    fs::create_directory(dir.file("free"));
    ASSERT_EQ(runTessavo(withOptions({"x.wav", "20", "-s", "-d", "free"}), dir.path()).status, 0);
    const Snapshot before = snapshot(dir.path());
    const auto limited = [&](const std::string& components) {
        return runChild({withOptions({"x.wav", components, "-s"}), dir.path(), {{RLIMIT_NOFILE, 40}}});
    };
    const RunResult refused = limited("30");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Not able to hold 31 output files open: this process may open 40 files (ulimit -n)\n");
    EXPECT_EQ(snapshot(dir.path()), before);

    ASSERT_EQ(limited("20").status, 0);
    for (const std::string out : {"x-residual.wav", "x-0.wav", "x-19.wav"})
        EXPECT_EQ(sha256(dir.file(out)), sha256(dir.file("free/" + out))) << out;
}

// Standard output read by a program that has gone away (a pipe into head):
// the broken pipe ends the run like any terminating signal, and leaves no
// unfinished file.
TEST(OutputSafety, BrokenPipeOnStandardOutputLeavesNothing)
{
    ScratchDir dir;
    writeInput(dir.file("x.wav"));
    Launch run({"x.wav", "2", "-f", "256", "-i", "100", "-c", "0"}, dir.path());
    run.closedStdout = true;
    const RunResult r = runChild(run);
    EXPECT_TRUE(r.signalled) << r.status;
    EXPECT_EQ(r.signal, SIGPIPE);
    EXPECT_EQ(names(snapshot(dir.path())), std::vector<std::string>{"x.wav"});
}
