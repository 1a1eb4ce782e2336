// --outdir: every output goes into one folder, named from the input's last
// path component; a folder that cannot take them stops the run before the
// work, and nothing is written anywhere.

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

constexpr int kRate = 8000;
constexpr int kFrames = 6000;

void writeInput(const std::string& path, int channels = 1)
{
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, channels, kRate, testSignal(kFrames, channels, kRate)));
}

const std::vector<std::string> kOutputs = {"song-0.wav", "song-1.wav", "song-residual.wav", "song.wav-H.txt",
                                           "song.wav-W.txt"};

// A folder that nobody may create files in, for as long as it lives: a
// read-only bind mount in a mount namespace of this process (root writes
// through permission bits), or without root the permission bits alone.
class UnwritableFolder {
public:
    explicit UnwritableFolder(std::string path) : path_(std::move(path))
    {
        fs::create_directory(path_);
        if (geteuid() != 0) {
            chmod(path_.c_str(), 0555);
            ready_ = true;
            return;
        }
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why_ = std::string("no mount namespace: ") + std::strerror(errno);
            return;
        }
        if (mount(path_.c_str(), path_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            why_ = std::string("no bind mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            why_ = std::string("no read-only remount: ") + std::strerror(errno);
            return;
        }
        ready_ = true;
    }
    ~UnwritableFolder()
    {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
        chmod(path_.c_str(), 0755);
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

    bool ready() const { return ready_; }
    const std::string& why() const { return why_; }
    // The system's reason for refusing a new file there.
    std::string reason() const { return std::strerror(geteuid() != 0 ? EACCES : EROFS); }

private:
    std::string path_;
    std::string why_;
    bool mounted_ = false;
    bool ready_ = false;
};

}  // namespace

// The outputs land in the folder, under the names they would have next to
// the input, with the same bytes; the input's folder gets nothing. The
// folder's name may end in a slash or be absolute, and the input's name may
// start with a dash after "--".
TEST(OutputFolder, OutputsGoIntoTheFolderWithTheirUsualNamesAndBytes)
{
    ScratchDir dir;
    fs::create_directories(dir.file("in put/deeper"));
    fs::create_directory(dir.file("beside"));
    writeInput(dir.file("in put/deeper/song.wav"), 2);
    fs::copy_file(dir.file("in put/deeper/song.wav"), dir.file("beside/song.wav"));
    ASSERT_EQ(runTessavo(withOptions({"beside/song.wav", "2", "-m", "-s"}), dir.path()).status, 0);

    struct Form {
        std::string flag, value, folder;
    };
    const Form forms[] = {{"-d", "out", "out"}, {"--outdir", "out//", "out"}, {"--outdir", dir.file("abs"), "abs"}};
    for (const Form& form : forms) {
        fs::remove_all(dir.file(form.folder));
        fs::create_directory(dir.file(form.folder));
        const RunResult r =
            runTessavo(withOptions({"in put/deeper/song.wav", "2", "-m", "-s", form.flag, form.value}), dir.path());
        ASSERT_EQ(r.status, 0) << form.value << ": " << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(listing(dir.file(form.folder)), kOutputs) << form.value;
        EXPECT_EQ(listing(dir.file("in put/deeper")), std::vector<std::string>{"song.wav"}) << form.value;
        for (const std::string& name : kOutputs)
            EXPECT_TRUE(readFile(dir.file(form.folder + "/" + name)) == readFile(dir.file("beside/" + name)))
                << form.value << ": " << name << " differs from the run without a folder";
    }

    // A name that starts with a dash, given after "--", keeps it.
    writeInput(dir.file("-x.wav"));
    fs::create_directory(dir.file("dash"));
    const RunResult dash = runTessavo({"-d", "dash", "-f", "256", "-i", "3", "-s", "--", "-x.wav", "1"}, dir.path());
    ASSERT_EQ(dash.status, 0) << dash.out << dash.err;
    EXPECT_EQ(listing(dir.file("dash")), (std::vector<std::string>{"-x-0.wav", "-x-residual.wav"}));
}

// Standard input ("-") and a stream in /dev are named "stdin" with the
// container's extension, in the current folder or the output folder; a
// pipe is read whole, so FLAC arrives too. Run from inside /dev, a stream's
// outputs would land there: refused.
TEST(OutputFolder, StreamsAreNamedStdinWithTheirContainersExtension)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("song.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, kRate,
                           testSignal(kFrames, 1, kRate)));
    fs::create_directory(dir.file("out"));
    const auto shell = [&](const std::string& command) {
        Launch job({}, dir.path());
        job.program = {"/bin/bash", "-c", command, tessavoBinary()};
        return runChild(job);
    };
    RunResult r = shell("cat song.flac | \"$0\" - 1 -f 256 -i 3 -s -m");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = shell("cat song.flac | \"$0\" /dev/stdin 1 -d out -f 256 -i 3 -s -m");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> names{"stdin-0.flac", "stdin-residual.flac", "stdin.flac-H.txt",
                                         "stdin.flac-W.txt"};
    EXPECT_EQ(listing(dir.file("out")), names);
    EXPECT_EQ(readSound(dir.file("out/stdin-residual.flac")).info.frames, expectedFrames(kFrames, 512, 4));
    for (const std::string& name : names)
        EXPECT_TRUE(fs::exists(dir.file(name))) << name;

    r = shell("cd /dev && \"$0\" stdin 1 -f 256 -i 3 -s < \"$OLDPWD/song.flac\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Not able to write the outputs of stdin into the current folder, which holds devices: "
                     "give another with -d\n");
    EXPECT_FALSE(fs::exists("/dev/stdin-residual.flac"));

    // A terminal on standard input is no sound; the run says so at once.
    r = shell("script -qec \"'$0' - 1\" /dev/null");
    EXPECT_NE(r.out.find("Standard input is a terminal, not a sound: pipe one in, as in tessavo - 1 < song.wav"),
              std::string::npos)
        << r.out;
}

// A folder that is missing, is a file, or cannot be written to, and an empty
// folder name: one message before the work (no progress line), status 1,
// and nothing written in any folder.
TEST(OutputFolder, UnusableFoldersStopTheRunBeforeTheWork)
{
    ScratchDir dir;
    writeInput(dir.file("song.wav"));
    writeBytes(dir.file("afile"), "not a folder\n");
    writeBytes(dir.file("song-residual.wav"), "an earlier residual\n");
    struct Case {
        std::string folder;
        std::string message;
    };
    const Case cases[] = {
        {"missing", "Not able to use output folder missing\n" + std::string(std::strerror(ENOENT))},
        {"missing/deeper/", "Not able to use output folder missing/deeper/\n" + std::string(std::strerror(ENOENT))},
        {"afile", "Not able to use output folder afile\n" + std::string(std::strerror(ENOTDIR))},
        {"afile/", "Not able to use output folder afile/\n" + std::string(std::strerror(ENOTDIR))},
        {"", "outdir must name a folder\n"},
    };
    const Snapshot before = snapshot(dir.path());
    for (const Case& c : cases) {
        for (const char* flag : {"-d", "--outdir"}) {
            const RunResult r = runTessavo({"song.wav", "2", "-m", "-f", "256", "-i", "3", flag, c.folder}, dir.path());
            EXPECT_EQ(r.status, 1) << c.folder;
            EXPECT_EQ(r.out, c.message) << c.folder;
            EXPECT_EQ(snapshot(dir.path()), before) << c.folder;
        }
    }

    // A folder where one output's name is taken by a folder: found before
    // the work as it is next to the input.
    fs::create_directories(dir.file("out/song-1.wav"));
    const RunResult taken = runTessavo({"song.wav", "2", "-f", "256", "-i", "3", "-d", "out"}, dir.path());
    EXPECT_EQ(taken.status, 1);
    EXPECT_EQ(taken.out, "Not able to open output file out/song-1.wav\n" + std::string(std::strerror(EISDIR)));
    EXPECT_EQ(listing(dir.file("out")), std::vector<std::string>{"song-1.wav"});
}

TEST(OutputFolder, AFolderNobodyMayWriteToStopsTheRunBeforeTheWork)
{
    ScratchDir dir;
    writeInput(dir.file("song.wav"));
    UnwritableFolder locked(dir.file("locked"));
    if (!locked.ready())
        GTEST_SKIP() << "cannot make a folder that root cannot write to here (" << locked.why() << ")";
    const Snapshot before = snapshot(dir.path());
    for (const char* matrices : {"-s", "-m"}) {
        const RunResult r = runTessavo({"song.wav", "2", matrices, "-f", "256", "-i", "3", "-d", "locked"}, dir.path());
        EXPECT_EQ(r.status, 1) << matrices;
        EXPECT_EQ(r.out, "Not able to use output folder locked\n" + locked.reason()) << matrices;
        EXPECT_EQ(snapshot(dir.path()), before) << matrices;
    }
}
