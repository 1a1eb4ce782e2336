// Reference runs on two small real recordings: the exact standard output, the
// W and H text files byte for byte, and the checksum of every sound written.

#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

struct GoldenCase {
    std::string name;
    std::vector<std::string> args;
};

std::vector<GoldenCase> loadCases()
{
    std::vector<GoldenCase> cases;
    std::ifstream in(std::string(TESSAVO_TEST_DATA) + "/golden/cases.txt");
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        GoldenCase c;
        c.name = line.substr(0, colon);
        std::istringstream words(line.substr(colon + 1));
        std::string word;
        words >> word;  // the program's name
        while (words >> word)
            c.args.push_back(word);
        cases.push_back(c);
    }
    return cases;
}

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const GoldenCase& c, std::ostream* os)
{
    *os << c.name;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

}  // namespace

TEST_P(Golden, RunMatchesTheReferenceToTheLastBit)
{
    const GoldenCase& c = GetParam();
    const fs::path data = fs::path(TESSAVO_TEST_DATA) / "golden";
    const fs::path expected = data / "expected" / c.name;
    ScratchDir dir;
    for (const char* input : {"mono.wav", "stereo.wav"})
        fs::copy_file(data / input, fs::path(dir.path()) / input);

    const RunResult r = runTessavo(c.args, dir.path());
    ASSERT_FALSE(r.signalled);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(expected / "stdout.txt"));

    for (const char* suffix : {"-W.txt", "-H.txt"}) {
        const std::string matrixFile = c.args[0] + suffix;
        if (fs::exists(expected / matrixFile))
            EXPECT_EQ(readFile(dir.file(matrixFile)), readFile(expected / matrixFile)) << matrixFile;
        else
            EXPECT_FALSE(fileExists(dir.file(matrixFile))) << matrixFile;
    }

    std::ifstream sums(expected / "SHA256SUMS");
    std::string sum, file;
    int sounds = 0;
    while (sums >> sum >> file) {
        EXPECT_EQ(sha256(dir.file(file)), sum) << file;
        ++sounds;
    }
    // Nothing else was written: the two inputs, the sounds and the matrix files.
    const int matrixFiles = fs::exists(expected / (c.args[0] + "-W.txt")) ? 2 : 0;
    const auto written = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    EXPECT_EQ(written, 2 + sounds + matrixFiles);
}

INSTANTIATE_TEST_SUITE_P(Recordings, Golden, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& param) {
                             std::string n = param.param.name;
                             for (char& ch : n)
                                 if (ch == '-')
                                     ch = '_';
                             return n;
                         });
