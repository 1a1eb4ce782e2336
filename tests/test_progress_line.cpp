// The progress line on standard error: its text, and the whole program under
// a pseudo-terminal (util-linux's script), where it must show the passes and
// name the outputs, and never change or garble standard output.

#include "app/ProgressLine.h"

#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tessavo;
using namespace tessavo::test;

namespace {

// What a terminal shows after bytes: '\r' goes back to the line's start,
// ESC [ K clears to its end, '\n' starts the next line.
std::string screen(const std::string& bytes)
{
    std::string shown, line;
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            column = 0;
        } else if (bytes[i] == '\n') {
            shown += line + "\n";
            line.clear();
            column = 0;
        } else if (bytes.compare(i, 3, "\033[K") == 0) {
            line.resize(std::min(column, line.size()));
            i += 2;
        } else {
            if (column < line.size())
                line[column] = bytes[i];
            else
                line += bytes[i];
            ++column;
        }
    }
    return shown + line;
}

// command run in dir with a pseudo-terminal as its standard streams; returns
// what reached the terminal.
RunResult onTerminal(const std::string& command, const std::string& dir)
{
    Launch job({}, dir);
    job.program = {"/usr/bin/script", "-qec", command, "/dev/null"};
    return runChild(job);
}

std::string command(const std::string& args)
{
    return "'" + tessavoBinary() + "' " + args;
}

std::string withMixture(const ScratchDir& dir)
{
    std::filesystem::copy_file(std::string(TESSAVO_SOURCE_DIR) + "/examples/mixture.wav", dir.file("m.wav"));
    return "m.wav 3 -f 1024 -i 40 -c 0";
}

}  // namespace

TEST(ProgressLine, TextShowsThePassItsChangeAndTheTime)
{
    ProgressState s;
    s.phase = RunPhase::factorising;
    EXPECT_EQ(progressText(s, 0.05), "[0.0 s] factorising");
    s.pass = {37, 1000, 0.126578, 0.128, false};
    EXPECT_EQ(progressText(s, 59.96), "[59.9 s] factorising: pass 37 of 1000, objective 0.126578, change -0.011");
    s.pass = {2, 5, 3.0, 0.0, true};  // no relative change from 0
    EXPECT_EQ(progressText(s, 65.0), "[1:05] factorising: pass 2 of 5, objective 3");
    s.phase = RunPhase::writing;
    EXPECT_EQ(progressText(s, 3725.0), "[1:02:05] rebuilding and writing the outputs");
    s.written = 3;
    s.outputs = 11;
    EXPECT_EQ(progressText(s, 1.0), "[1.0 s] rebuilding and writing the outputs: 3 of 11 written");

    EXPECT_EQ(finalText({"a-residual.wav", "a-0.wav"}, 2.25), "wrote a-residual.wav, a-0.wav in 2.2 s");
    EXPECT_EQ(finalText({"/o/a-residual", "/o/a-0"}, 2.0), "wrote a-residual, a-0 into /o in 2.0 s");
    EXPECT_EQ(finalText({"o/a-residual", "o/a-0", "o/a-1", "o/a-2", "o/a-3"}, 61.0), "wrote 5 files into o in 1:01");
    EXPECT_EQ(finalText({"r", "0", "1", "2", "3"}, 0.0), "wrote 5 files into the current folder in 0.0 s");

    EXPECT_EQ(fitted("abcdef", 4), "abcd");
    EXPECT_EQ(fitted("a\xc3\xa9t\xc3\xa9", 3), "a\xc3\xa9t");  // "été" keeps its letters whole
    EXPECT_EQ(fitted("abc", 80), "abc");
}

// Standard output to a file, standard error on the terminal: passes against
// the limit (the last one always drawn), then one line naming the outputs;
// the file holds exactly what a run without a terminal prints, and the
// outputs are the same bits.
TEST(ProgressLine, TerminalShowsPassesAndTheOutputsWithStandardOutputUnchanged)
{
    ScratchDir withLine, without;
    const std::string args = withMixture(withLine);
    withMixture(without);
    const RunResult shown = onTerminal(command(args + " >out.txt"), withLine.path());
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("factorising: pass 40 of 40, objective "), std::string::npos) << shown.out;
    const std::string kept = screen(shown.out);
    EXPECT_EQ(kept.rfind("wrote m-residual.wav, m-0.wav, m-1.wav, m-2.wav in ", 0), 0u) << kept;
    EXPECT_EQ(kept.find('\n'), kept.size() - 1) << kept;  // that line alone

    const RunResult plain = runTessavo({"m.wav", "3", "-f", "1024", "-i", "40", "-c", "0"}, without.path());
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");  // standard error a file: no progress at all
    EXPECT_EQ(readFile(withLine.file("out.txt")), plain.out);
    for (const char* name : {"m-residual.wav", "m-0.wav", "m-1.wav", "m-2.wav"})
        EXPECT_EQ(sha256(withLine.file(name)), sha256(without.file(name))) << name;
}

// Both streams on one terminal: the screen holds every standard output line
// whole, then the final line; with -s nothing at all reaches the terminal.
TEST(ProgressLine, OneTerminalForBothKeepsEveryLineWholeAndSilentDrawsNothing)
{
    ScratchDir dir;
    withMixture(dir);
    const std::string args = "m.wav 3 -f 1024 -i 40";  // the criteria stops it: "done in" too
    const RunResult plain = runTessavo({"m.wav", "3", "-f", "1024", "-i", "40"}, dir.path());
    ASSERT_NE(plain.out.find("done in"), std::string::npos);
    const RunResult both = onTerminal(command(args), dir.path());
    ASSERT_EQ(both.status, 0) << both.out;
    const std::string kept = screen(both.out);
    EXPECT_EQ(kept.substr(0, plain.out.size()), plain.out);
    EXPECT_EQ(kept.rfind("wrote m-residual.wav, m-0.wav, m-1.wav, m-2.wav in ", plain.out.size()),
              plain.out.size())
        << kept;

    const RunResult silent = onTerminal(command(args + " -s"), dir.path());
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.out, "");
}

// An error, and a signal (the file size limit), leave only their message:
// the line drawn before them is erased first.
TEST(ProgressLine, ErrorsAndSignalsEraseTheLineBeforeTheirMessage)
{
    ScratchDir dir;
    const std::vector<float> huge(8000, 2e37f);
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, huge));
    const RunResult overflow = onTerminal(command("x.wav 2 -f 256 -i 10"), dir.path());
    EXPECT_NE(overflow.out.find("factorising"), std::string::npos) << overflow.out;
    EXPECT_EQ(screen(overflow.out), "Not able to process input file x.wav: the numbers of its separation "
                                    "overflowed (its samples are too large)\n");

    const std::string args = withMixture(dir);
    const RunResult limited = onTerminal("ulimit -c 0; ulimit -f 16; exec " + command(args), dir.path());
    EXPECT_NE(limited.out.find("rebuilding and writing"), std::string::npos) << limited.out;
    const std::string note = "\nNot able to write the output files: they exceed the file size limit (ulimit -f)\n";
    const std::string kept = screen(limited.out);
    EXPECT_EQ(kept.substr(kept.size() - std::min(kept.size(), note.size())), note) << kept;
}
