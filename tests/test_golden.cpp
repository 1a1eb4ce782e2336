// Reference runs on two small real recordings: the exact standard output, the
// W and H text files byte for byte or by checksum, and the checksum of every
// sound written. Two sets: tests/data/golden (the Euclidean loss with direct
// outputs) and tests/data/modes (each loss, templates, soft masks, precision
// and encoding), whose values tests/reference/independent_check.py checks
// against a computation that shares none of the program's code.

#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace tessavo::test;

namespace {

struct GoldenCase {
    std::string set;  // the folder under tests/data
    std::string name;
    std::vector<std::string> args;
};

std::vector<GoldenCase> loadCases(const std::string& set)
{
    std::vector<GoldenCase> cases;
    std::ifstream in(std::string(TESSAVO_TEST_DATA) + "/" + set + "/cases.txt");
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        GoldenCase c;
        c.set = set;
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

// The test's name: the case's, with '_' for '-'.
std::string caseName(const ::testing::TestParamInfo<GoldenCase>& param)
{
    std::string n = param.param.name;
    for (char& ch : n)
        if (ch == '-')
            ch = '_';
    return n;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

}  // namespace

TEST_P(Golden, RunMatchesTheReferenceToTheLastBit)
{
    const GoldenCase& c = GetParam();
    const fs::path recordings = fs::path(TESSAVO_TEST_DATA) / "golden";
    const fs::path expected = fs::path(TESSAVO_TEST_DATA) / c.set / "expected" / c.name;
    ScratchDir dir;
    std::vector<fs::path> inputs = {recordings / "mono.wav", recordings / "stereo.wav"};
    for (std::size_t i = 0; i + 1 < c.args.size(); ++i)
        if (c.args[i] == "--templates")
            inputs.push_back(fs::path(TESSAVO_TEST_DATA) / c.set / c.args[i + 1].substr(c.args[i + 1].find('=') + 1));
    for (const fs::path& input : inputs)
        fs::copy_file(input, fs::path(dir.path()) / input.filename(), fs::copy_options::skip_existing);
    const auto copied = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());

    const RunResult r = runTessavo(c.args, dir.path());
    ASSERT_FALSE(r.signalled);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, readFile(expected / "stdout.txt"));

    std::map<std::string, std::string> sums;  // file name -> checksum
    std::ifstream sumFile(expected / "SHA256SUMS");
    std::string sum, file;
    while (sumFile >> sum >> file)
        sums[file] = sum;
    for (const auto& [name, expectedSum] : sums)
        EXPECT_EQ(sha256(dir.file(name)), expectedSum) << name;

    long matrixFiles = 0;  // compared byte for byte
    for (const char* suffix : {"-W.txt", "-H.txt"}) {
        const std::string matrixFile = c.args[0] + suffix;
        if (fs::exists(expected / matrixFile)) {
            EXPECT_EQ(readFile(dir.file(matrixFile)), readFile(expected / matrixFile)) << matrixFile;
            ++matrixFiles;
        } else if (sums.count(matrixFile) == 0) {
            EXPECT_FALSE(fileExists(dir.file(matrixFile))) << matrixFile;
        }
    }
    // Nothing else was written: the inputs, and the files compared above.
    const auto written = std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    EXPECT_EQ(written, copied + static_cast<long>(sums.size()) + matrixFiles);
}

INSTANTIATE_TEST_SUITE_P(Recordings, Golden, ::testing::ValuesIn(loadCases("golden")), caseName);
INSTANTIATE_TEST_SUITE_P(Modes, Golden, ::testing::ValuesIn(loadCases("modes")), caseName);
