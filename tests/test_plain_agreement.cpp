// The program against the plain, single-threaded reference run: the same
// progress lines and the same sound files, byte for byte, whatever the
// thread count.

#include "support/Program.h"
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

}  // namespace

TEST(PlainAgreement, SameFilesAndLinesForEveryThreadCount)
{
    struct Case {
        int channels;
        int components;
        const char* fftsize;
        const char* overlap;
    };
    const Case cases[] = {{1, 3, "300", "4"}, {2, 2, "256", "2"}, {2, 5, "1000", "8"}, {1, 0, "64", "4"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, K = " << c.components);
        ScratchDir dir;
        ASSERT_TRUE(writeSound(dir.file("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, c.channels, 8000,
                               testSignal(9000, c.channels, 8000)));
        const std::string k = std::to_string(c.components);
        const RunResult plain = runPlain({"in.wav", k, c.fftsize, c.overlap, "12", "1e-12"}, dir.path());
        ASSERT_EQ(plain.status, 0);
        // Without components nothing changes after the first pass.
        ASSERT_EQ(std::count(plain.out.begin(), plain.out.end(), '\n'), c.components == 0 ? 2 : 11) << plain.out;
        for (const char* threads : {"1", "2", "3"}) {
            const RunResult fast =
                runTessavo({"in.wav", k, "-f", c.fftsize, "-o", c.overlap, "-i", "12", "-c", "1e-12", "-t", threads},
                           dir.path());
            ASSERT_EQ(fast.status, 0) << fast.out;
            EXPECT_EQ(fast.out, plain.out) << threads << " threads";
            for (int o = -1; o < c.components; ++o) {
                const std::string suffix = o < 0 ? "residual" : std::to_string(o);
                const std::string expected = readFile(dir.file("in-plain-" + suffix + ".wav"));
                ASSERT_GT(expected.size(), 1000u) << suffix;
                EXPECT_TRUE(readFile(dir.file("in-" + suffix + ".wav")) == expected)
                    << suffix << " differs, " << threads << " threads";
            }
        }
    }
}
