// The program against the plain, single-threaded reference run: the same
// progress lines and the same sound files, byte for byte, whatever the
// thread count.

#include "support/Program.h"
#include "support/Folder.h"
#include "support/Numbers.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace tessavo::test;

namespace {

RunResult runPlain(const std::vector<std::string>& args, const std::string& dir)
{
    std::string command = "cd '" + dir + "' && '" + std::string(TESSAVO_PLAIN_BINARY) + "'";
    for (const std::string& a : args)
        command += " '" + a + "'";
    command += " >.plain-out 2>/dev/null";
    RunResult r;
    r.status = std::system(command.c_str());
    r.out = readFile(dir + "/.plain-out");
    return r;
}

struct Case {
    int channels;
    int components;
    const char* fftsize;
    const char* overlap;
    std::vector<std::string> options;  // beyond the sizes
    std::vector<std::string> sources;  // the named sources' outputs
};

// Writes the input of c into dir, runs the plain reference and the program
// with 1, 2 and 3 threads, and compares every output byte for byte.
void expectAgreement(const Case& c, const ScratchDir& dir)
{
    ASSERT_TRUE(writeSound(dir.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, 8000,
                           testSignal(9000, c.channels, 8000)));
    const std::string k = std::to_string(c.components);
    std::vector<std::string> plainArgs{"in.wav", k, c.fftsize, c.overlap, "12", "1e-12"};
    plainArgs.insert(plainArgs.end(), c.options.begin(), c.options.end());
    const RunResult plain = runPlain(plainArgs, dir.path());
    ASSERT_EQ(plain.status, 0) << plain.out;
    // Without components nothing changes after the first pass.
    const bool still = c.components == 0 && c.sources.empty();
    ASSERT_EQ(std::count(plain.out.begin(), plain.out.end(), '\n'), still ? 2 : 11) << plain.out;
    std::vector<std::string> suffixes{"residual"};
    suffixes.insert(suffixes.end(), c.sources.begin(), c.sources.end());
    // Grouped sources stand in the components' place, among c.sources.
    const bool grouped = std::find(c.options.begin(), c.options.end(), "--sources") != c.options.end();
    for (int o = 0; o < (grouped ? 0 : c.components); ++o)
        suffixes.push_back(std::to_string(o));
    for (const char* threads : {"1", "2", "3"}) {
        std::vector<std::string> args{"in.wav", k, "-f", c.fftsize, "-o", c.overlap, "-i", "12", "-c", "1e-12",
                                      "-t",     threads};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult fast = runTessavo(args, dir.path());
        ASSERT_EQ(fast.status, 0) << fast.out;
        EXPECT_EQ(fast.out, plain.out) << threads << " threads";
        for (const std::string& suffix : suffixes) {
            const std::string expected = readFile(dir.file("in-plain-" + suffix + ".wav"));
            ASSERT_GT(expected.size(), 1000u) << suffix;
            EXPECT_TRUE(readFile(dir.file("in-" + suffix + ".wav")) == expected)
                << suffix << " differs, " << threads << " threads";
        }
    }
}

// rows spectra of bins values in the H file format.
void writeTemplates(const std::string& path, int rows, int bins, std::uint32_t seed)
{
    TestNumbers numbers(seed);
    std::string text = std::to_string(rows) + " " + std::to_string(bins) + "\n";
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < bins; ++j)
            text += std::to_string(numbers.unit() * numbers.unit()) + " ";
        text += "\n";
    }
    writeBytes(path, text);
}

}  // namespace

TEST(PlainAgreement, SameFilesAndLinesForEveryThreadCount)
{
    const Case cases[] = {{1, 3, "300", "4", {}, {}}, {2, 2, "256", "2", {}, {}}, {2, 5, "1000", "8", {}, {}},
                          {1, 0, "64", "4", {}, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, K = " << c.components);
        ScratchDir dir;
        expectAgreement(c, dir);
    }
}

TEST(PlainAgreement, SameFilesForTheKlAndIsLossesTemplatesSoftMasksPaddingAndPenalties)
{
    const std::vector<std::string> two{"--templates", "a=a.txt", "--templates", "b.x=b.txt"};
    std::vector<std::string> klSoftTwo{"--loss", "kl", "--mask", "soft"};
    klSoftTwo.insert(klSoftTwo.end(), two.begin(), two.end());
    const Case cases[] = {
        {1, 3, "256", "4", {"--loss", "kl"}, {}},
        {2, 2, "256", "4", {"--loss", "is", "--continuity", "10", "--templates", "a=a.txt"}, {"a"}},
        {2, 1, "256", "4", klSoftTwo, {"a", "b.x"}},
        {1, 0, "256", "4", two, {"a", "b.x"}},
        {2, 2, "256", "2", {"--mask", "soft", "--maskpower", "1.5"}, {}},
        {1, 2, "256", "4", {"--loss", "kl", "--mask", "soft", "--templates", "a=a.txt"}, {"a"}},
        // The activations' penalties reach both engines.
        {2, 2, "256", "4", {"--continuity", "10", "--sparsity", "1", "--templates", "a=a.txt"}, {"a"}},
        {1, 2, "256", "4", {"--loss", "kl", "--continuity", "100"}, {}},
        // Another start, grouped into sources beside a named one.
        {2, 4, "256", "4", {"--seed", "7", "--sources", "2", "--mask", "soft", "--templates", "a=a.txt"},
         {"a", "source0", "source1"}},
        // Padded: direct stereo, and soft masks with a named source at overlap 3.
        {2, 2, "256", "4", {"--pad"}, {}},
        {1, 1, "256", "3", {"--pad", "--mask", "soft", "--templates", "a=a.txt"}, {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, K = " << c.components << ", "
                                          << c.options.size() << " option words");
        ScratchDir dir;
        writeTemplates(dir.file("a.txt"), 2, 256, 1);
        writeTemplates(dir.file("b.txt"), 3, 256, 2);
        expectAgreement(c, dir);
    }
}
