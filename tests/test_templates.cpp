// Fixed templates: every kind of bad template input refused with one line
// and status 1 before the work, with nothing written; H files that the
// program writes read back as templates, exactly with --precision 17; named
// sources get their own outputs.

#include "app/RunError.h"
#include "app/TemplateFiles.h"

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tessavo;
using namespace tessavo::test;

namespace {

// The RunError message of loading options for bins, or "" when it loads.
std::string loadError(const std::vector<std::string>& options, int bins)
{
    try {
        loadTemplates(options, bins);
    } catch (const RunError& e) {
        return e.what();
    }
    return "";
}

// A good template file of rows × bins values.
std::string goodText(int rows, int bins)
{
    std::string text = std::to_string(rows) + " " + std::to_string(bins) + "\n";
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < bins; ++j)
            text += std::to_string(0.25 * (r + 1) + j) + " ";
        text += "\n";
    }
    return text;
}

// An .npy file as np.save writes one (version 1.0), made here without the
// program's writer: header dict, then the values as they lie in memory.
std::string npy(const std::string& dict, const std::vector<double>& values, char version = 1)
{
    std::string header = dict;
    header.append(63 - (10 + header.size()) % 64, ' ');
    header += '\n';
    std::string out = std::string("\x93NUMPY") + version + '\0';
    out += static_cast<char>(header.size() & 0xff);
    out += static_cast<char>(header.size() >> 8);
    out += header;
    out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(double));
    return out;
}

std::string npyDict(const std::string& shape, bool fortran = false, const std::string& descr = "<f8")
{
    return "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") + ", 'shape': " + shape +
           ", }";
}

}  // namespace

TEST(Templates, GoodFilesLoadInOptionOrder)
{
    ScratchDir dir;
    writeBytes(dir.file("a.txt"), goodText(2, 4));
    writeBytes(dir.file("b.txt"), "1 4\n1e-300 0 -0 7.5");  // no line end at the end
    const std::vector<NamedTemplates> t =
        loadTemplates({"voice=" + dir.file("a.txt"), "x_y-z.2=" + dir.file("b.txt")}, 4);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].name, "voice");
    EXPECT_EQ(t[1].name, "x_y-z.2");
    ASSERT_EQ(t[0].rows.rows(), 2);
    EXPECT_EQ(t[0].rows[1][3], 3.5);
    EXPECT_EQ(t[1].rows[0][0], 1e-300);
    EXPECT_EQ(bits(t[1].rows[0][2]), bits(0.0));  // "-0" is the zero "0" is
    std::vector<int> rows;
    const Matrix all = stackTemplates(t, 4, rows);
    EXPECT_EQ(rows, (std::vector<int>{2, 1}));
    ASSERT_EQ(all.rows(), 3);
    EXPECT_EQ(all[2][3], 7.5);

    // .npy, whatever its name, in C and in Fortran order.
    writeBytes(dir.file("c.npy"), npy(npyDict("(2, 4)"), {0, 1, 2, 3, 4, 5, 6, -0.0}));
    writeBytes(dir.file("f.dat"), npy(npyDict("(2, 4)", true), {0, 4, 1, 5, 2, 6, 3, 7}));
    const std::vector<NamedTemplates> n = loadTemplates({"c=" + dir.file("c.npy"), "f=" + dir.file("f.dat")}, 4);
    EXPECT_EQ(n[0].rows[1][2], 6.0);
    EXPECT_EQ(bits(n[0].rows[1][3]), bits(0.0));
    EXPECT_EQ(n[1].rows[1][0], 4.0);
    EXPECT_EQ(n[1].rows[0][3], 3.0);
}

TEST(Templates, EveryBadNameFileAndValueHasItsMessage)
{
    ScratchDir dir;
    const auto file = [&](const std::string& name, const std::string& text) {
        writeBytes(dir.file(name), text);
        return dir.file(name);
    };
    const std::string good = file("good.txt", goodText(1, 4));
    struct Case {
        std::vector<std::string> options;
        std::string expected;  // a part of the message
    };
    const Case cases[] = {
        {{"speech"}, "templates must be given as NAME=FILE (got 'speech')"},
        {{"speech="}, "templates must be given as NAME=FILE"},
        {{"=" + good}, "needs a name before '='"},
        {{"my voice=" + good}, "Template name 'my voice' may hold only letters, digits, '_', '-' and '.'"},
        {{"a/b=" + good}, "may hold only letters"},
        {{"12=" + good}, "Template name '12' is all digits"},
        {{"residual=" + good}, "Template name 'residual' is the residual output's"},
        {{"a=" + good, "a=" + good}, "Template name 'a' is given twice"},
        {{"a=" + dir.file("missing.txt")}, "Not able to read template file " + dir.file("missing.txt") +
                                               ": No such file or directory"},
        {{"a=" + dir.path()}, "Is a directory"},
        {{"a=" + file("cols.txt", goodText(1, 8))}, "has 8 columns, but this run has 4 bins; -f 8 fits it"},
        {{"a=" + file("odd.txt", goodText(1, 6))}, "has 6 columns, but this run has 4 bins; no -f value fits it"},
        // W files: by name, and by shape (more frames than components).
        {{"a=" + file("take.wav-W.txt", goodText(3, 8))},
         "Template file " + dir.file("take.wav-W.txt") + " holds W of a run (3 frames by 8 components), not "
         "templates: give that run's H file, " + dir.file("take.wav-H.txt")},
        {{"a=" + file("acts.txt", goodText(6, 2))}, "acts.txt holds W of a run (6 frames by 2 components), not "
                                                     "templates: give that run's H file (NAME-H.txt) instead"},
        {{"a=" + file("empty.txt", "")}, "does not start with a 'rows columns' header"},
        {{"a=" + file("header.txt", "2 x\n")}, "does not start with a 'rows columns' header"},
        {{"a=" + file("minus.txt", "-1 4\n")}, "does not start with a 'rows columns' header"},
        {{"a=" + file("none.txt", "0 4\n")}, "holds no rows"},
        {{"a=" + file("short.txt", "2 4\n1 2 3 4\n5 6\n")}, "ends after 6 of the 8 values its header claims"},
        {{"a=" + file("claims.txt", "1000000 4\n1 2 3 4\n")}, "ends after 4 of the 4000000 values"},
        {{"a=" + file("long.txt", "1 4\n1 2 3 4 5\n")}, "holds more values than its header's 1 x 4"},
        {{"a=" + file("word.txt", "1 4\n1 2 x3 4\n")}, "'x3' at row 1, column 3 is not a number"},
        {{"a=" + file("comma.txt", "1 4\n1 2,5 3 4\n")}, "'2,5' at row 1, column 2 is not a number"},
        {{"a=" + file("neg.txt", "2 4\n1 2 3 4\n5 -6 7 8\n")}, "'-6' at row 2, column 2 is negative"},
        {{"a=" + file("inf.txt", "1 4\n1 inf 3 4\n")}, "'inf' at row 1, column 2 is not a finite number"},
        {{"a=" + file("nan.txt", "1 4\n1 2 nan 4\n")}, "'nan' at row 1, column 3 is not a finite number"},
        {{"a=" + file("huge.txt", "1 4\n1 2 1e999 4\n")}, "'1e999' at row 1, column 3 is not a number"},
        {{"a=" + file("binary.txt", std::string(1000, '\0'))}, "is not a text file of numbers"},
        {{"a=" + file("f4.npy", npy(npyDict("(1, 4)", false, "<f4"), {1, 2}))},
         "holds values of type '<f4', not 64-bit floats ('<f8')"},
        {{"a=" + file("cube.npy", npy(npyDict("(1, 1, 4)"), {1, 2, 3, 4}))}, "holds an array of 3 dimensions"},
        {{"a=" + file("cut.npy", npy(npyDict("(2, 4)"), {1, 2, 3, 4}))}, "ends before its last value"},
        {{"a=" + file("more.npy", npy(npyDict("(1, 4)"), {1, 2, 3, 4, 5}))}, "holds more bytes than its 1 x 4"},
        {{"a=" + file("neg.npy", npy(npyDict("(1, 4)"), {1, -2, 3, 4}))}, "'-2' at row 1, column 2 is negative"},
        {{"a=" + file("nan.npy", npy(npyDict("(1, 4)"), {1, 2, 3, NAN}))}, "column 4 is not a finite number"},
        {{"a=" + file("dict.npy", npy("{'descr': '<f8', 'shape': (1, 4), }", {1, 2, 3, 4}))},
         "has a header that is not NumPy's"},
        {{"a=" + file("v9.npy", npy(npyDict("(1, 4)"), {1, 2, 3, 4}, 9))}, "is not a NumPy .npy file"},
        {{"a=" + file("take.wav-W.npy", npy(npyDict("(3, 2)"), {1, 2, 3, 4, 5, 6}))},
         "holds W of a run (3 frames by 2 components), not templates: give that run's H file, " +
             dir.file("take.wav-H.npy")},
        {{"a=" + file("longword.txt", "1 4\n1 2 " + std::string(100, '7') + " 4\n")}, "'77777777777777777777...', which"},
    };
    for (const Case& c : cases) {
        const std::string message = loadError(c.options, 4);
        EXPECT_NE(message.find(c.expected), std::string::npos) << "got: " << message;
        // One line, ending in a line end.
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }
    EXPECT_NE(loadError({"a=/dev/zero"}, 4).find("is not a text file of numbers"), std::string::npos);
    // A FIFO nobody writes to is empty, not a wait without end.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    EXPECT_NE(loadError({"a=" + dir.file("fifo")}, 4).find("does not start with a 'rows columns' header"),
              std::string::npos);
}

TEST(Templates, BadTemplatesStopTheProgramBeforeTheWorkAndWriteNothing)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, testSignal(4000, 1, 8000)));
    writeBytes(dir.file("bad.txt"), "1 256\n1 2\n");
    writeBytes(dir.file("cols.txt"), goodText(1, 300));
    const std::vector<std::vector<std::string>> runs{
        {"x.wav", "1", "--templates", "a=bad.txt", "-f", "256"},
        {"x.wav", "1", "--templates", "a=cols.txt", "-f", "256"},
        {"x.wav", "1", "--templates", "residual=cols.txt"},
        {"x.wav", "1", "--templates", ""},
        {"x.wav", "1", "--loss", "l2"},
        {"x.wav", "1", "--mask", "hard"},
        {"x.wav", "1", "--maskpower", "0"},
        {"x.wav", "1", "--maskpower", "nan"},
        {"x.wav", "1", "--precision", "18"},
        {"x.wav", "1", "--precision", "0"},
    };
    for (const std::vector<std::string>& args : runs) {
        const Snapshot before = snapshot(dir.path());
        const RunResult r = runTessavo(args, dir.path());
        EXPECT_EQ(r.status, 1) << args[3];
        EXPECT_FALSE(r.out.empty() && r.err.empty()) << args[3];
        EXPECT_EQ(r.out.find("objective"), std::string::npos) << "the work began: " << args[3];
        EXPECT_EQ(snapshot(dir.path()), before) << args[3];
    }
    const RunResult cols = runTessavo({"x.wav", "1", "--templates", "a=cols.txt", "-f", "256"}, dir.path());
    EXPECT_EQ(cols.out, "Template file cols.txt has 300 columns, but this run has 256 bins; no -f value fits it\n");
}

namespace {

// The lines of a text file.
std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

}  // namespace

TEST(Templates, AnHFileWithSeventeenDigitsReadsBackExactly)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("solo.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000,
                           testSignal(6000, 1, 8000)));
    const RunResult learn =
        runTessavo({"solo.wav", "3", "-f", "128", "-i", "20", "-s", "-m", "--precision", "17"}, dir.path());
    ASSERT_EQ(learn.status, 0) << learn.out;
    ASSERT_TRUE(std::rename(dir.file("solo.wav-H.txt").c_str(), dir.file("learned.txt").c_str()) == 0);
    const std::vector<std::string> learned = linesOf(readFile(dir.file("learned.txt")));
    ASSERT_EQ(learned.size(), 4u);
    EXPECT_EQ(learned[0], "3 128");
    for (const char* old : {"solo-residual.wav", "solo-0.wav", "solo-1.wav", "solo-2.wav"})
        std::remove(dir.file(old).c_str());

    // The supervised run holds the file's values as its fixed rows, and
    // writes them back: the same text, so the same numbers to the last bit.
    const RunResult fixed = runTessavo({"solo.wav", "1", "-f", "128", "-i", "5", "-s", "-m", "--precision", "17",
                                        "--templates", "solo=learned.txt"},
                                       dir.path());
    ASSERT_EQ(fixed.status, 0) << fixed.out;
    const std::vector<std::string> written = linesOf(readFile(dir.file("solo.wav-H.txt")));
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(written[0], "4 128");  // three templates and one free row
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(written[static_cast<std::size_t>(k)], learned[static_cast<std::size_t>(k)]) << "row " << k;
    EXPECT_NE(written[4], learned[3]);
    EXPECT_EQ(linesOf(readFile(dir.file("solo.wav-W.txt")))[0], "94 4");  // 6000 samples, hop 64

    // Outputs: the residual, the named source, then the free component.
    EXPECT_TRUE(fileExists(dir.file("solo-residual.wav")));
    EXPECT_TRUE(fileExists(dir.file("solo-solo.wav")));
    EXPECT_TRUE(fileExists(dir.file("solo-0.wav")));
    EXPECT_FALSE(fileExists(dir.file("solo-1.wav")));
}
