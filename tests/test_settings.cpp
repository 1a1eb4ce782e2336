#include "app/RunError.h"
#include "app/Settings.h"

#include "support/Folder.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <tclap/CmdLine.h>

#include <vector>

using tessavo::parseSettings;
using tessavo::RunError;
using tessavo::Settings;
using tessavo::test::runTessavo;
using tessavo::test::ScratchDir;

namespace {

Settings parse(std::vector<const char*> words)
{
    words.insert(words.begin(), "tessavo");
    Settings s;
    parseSettings(static_cast<int>(words.size()), words.data(), s);
    return s;
}

}  // namespace

TEST(Settings, DefaultsFromTwoArguments)
{
    const Settings s = parse({"song.wav", "3"});
    EXPECT_EQ(s.filename, "song.wav");
    EXPECT_EQ(s.components, 3);
    EXPECT_EQ(s.maxiterations, 1000);
    EXPECT_EQ(s.criteria, 0.001);
    EXPECT_EQ(s.fftsize, 8192);
    EXPECT_EQ(s.windowsize, 8192);
    EXPECT_EQ(s.overlap, 4);
    EXPECT_TRUE(s.verbose);
    EXPECT_FALSE(s.matrixout);
}

TEST(Settings, EveryOptionReachesItsField)
{
    const Settings s = parse({"-f", "1000", "--maxiterations", "7", "-c", "0.5", "-o", "8", "-s", "-m",
                              "my song.wav", "12"});
    EXPECT_EQ(s.filename, "my song.wav");  // blanks inside one argument stay
    EXPECT_EQ(s.components, 12);
    EXPECT_EQ(s.fftsize, 1024);
    EXPECT_EQ(s.windowsize, 1024);
    EXPECT_EQ(s.maxiterations, 7);
    EXPECT_EQ(s.criteria, 0.5);
    EXPECT_EQ(s.overlap, 8);
    EXPECT_FALSE(s.verbose);
    EXPECT_TRUE(s.matrixout);
    // Values the loop treats as "one update pair" or "never stop" are valid.
    const Settings t = parse({"a.wav", "0", "-i", "-5", "-c", "-1"});
    EXPECT_EQ(t.maxiterations, -5);
    EXPECT_EQ(t.criteria, -1.0);
    EXPECT_EQ(t.components, 0);
}

TEST(Settings, SeparationOptionsReachTheirFields)
{
    const Settings d = parse({"a.wav", "2"});
    EXPECT_EQ(d.loss, tessavo::Loss::euclidean);
    EXPECT_TRUE(d.templates.empty());
    EXPECT_EQ(d.mask, tessavo::MaskMode::direct);
    EXPECT_EQ(d.maskPower, 2.0);
    EXPECT_EQ(d.precision, 6);
    EXPECT_EQ(d.seed, 1);
    EXPECT_EQ(d.continuity, 0.0);
    EXPECT_EQ(d.tolerance, 0.0);
    EXPECT_EQ(d.sparsity, 0.0);
    const Settings s = parse({"a.wav", "0", "--loss", "kl", "--templates", "b=x.txt", "--mask", "soft",
                              "--templates", "a=y z.txt", "--maskpower", "1.5", "--precision", "17", "--seed", "0",
                              "--continuity", "2.5", "--sparsity", "0.25", "--tolerance", "1e-4"});
    EXPECT_EQ(s.loss, tessavo::Loss::kl);
    EXPECT_EQ(parse({"a.wav", "2", "--loss", "is"}).loss, tessavo::Loss::is);
    EXPECT_EQ(s.templates, (std::vector<std::string>{"b=x.txt", "a=y z.txt"}));  // in the order given
    EXPECT_EQ(s.mask, tessavo::MaskMode::soft);
    EXPECT_EQ(s.maskPower, 1.5);
    EXPECT_EQ(s.precision, 17);
    EXPECT_EQ(s.seed, 0);
    EXPECT_EQ(s.continuity, 2.5);
    EXPECT_EQ(s.sparsity, 0.25);
    EXPECT_EQ(s.tolerance, 1e-4);
}

TEST(Settings, OutputOptionsReachTheirFields)
{
    const Settings d = parse({"a.wav", "2"});
    EXPECT_EQ(d.outdir, "");
    EXPECT_EQ(d.encoding, "");
    const Settings s = parse({"a.wav", "2", "-d", "out dir/", "--encoding", "pcm24"});
    EXPECT_EQ(s.outdir, "out dir/");
    EXPECT_EQ(s.encoding, "pcm24");
    for (const char* name : {"pcm16", "pcm24", "pcm32", "float", "double"})
        EXPECT_EQ(parse({"--encoding", name, "--outdir", "/tmp", "a.wav", "2"}).encoding, name);
    EXPECT_EQ(parse({"--outdir", "/tmp", "a.wav", "2"}).outdir, "/tmp");

    // Words that are no encoding are command-line errors; an empty folder
    // name is refused rather than taken as the input's folder.
    for (const char* word : {"", "PCM16", "pcm8", "ulaw", "flac"}) {
        std::vector<const char*> words = {"tessavo", "a.wav", "2", "--encoding", word};
        Settings t;
        EXPECT_THROW(parseSettings(static_cast<int>(words.size()), words.data(), t,
                                   tessavo::ParseFailure::throwException),
                     TCLAP::ArgException)
            << word;
    }
    for (const char* flag : {"-d", "--outdir"}) {
        try {
            parse({"a.wav", "2", flag, ""});
            ADD_FAILURE() << flag << " accepted an empty folder name";
        } catch (const RunError& e) {
            EXPECT_EQ(std::string(e.what()), "outdir must name a folder\n");
        }
    }
}

TEST(Settings, TransformSizeIsTheNextPowerOfTwoAbove)
{
    const std::pair<int, int> table[] = {{1, 2},       {2, 4},       {3, 4},       {1000, 1024},
                                         {1024, 2048}, {3000, 4096}, {4095, 4096}, {4096, 8192},
                                         {4097, 8192}, {(1 << 29) + 1, 1 << 30}, {(1 << 30) - 1, 1 << 30}};
    for (const auto& [option, size] : table)
        EXPECT_EQ(tessavo::transformSize(option), size) << option;
    EXPECT_EQ(parse({"a.wav", "1", "-f", "4096"}).fftsize, parse({"a.wav", "1"}).fftsize);
}

TEST(Settings, ValuesOutOfRangeAreRejectedWithTheirRange)
{
    const std::vector<std::vector<const char*>> bad = {
        {"a.wav", "2", "-f", "0"},          {"a.wav", "2", "-f", "-3"},
        {"a.wav", "2", "-f", "1073741824"}, {"a.wav", "2", "-o", "0"},
        {"a.wav", "2", "-f", "8", "-o", "17"}, {"a.wav", "-1"},
        {"a.wav", "2", "--maskpower", "0"},   {"a.wav", "2", "--maskpower", "10.5"},
        {"a.wav", "2", "--maskpower", "-1"},  {"a.wav", "2", "--precision", "0"},
        {"a.wav", "2", "--precision", "18"},  {"a.wav", "2", "--seed", "-1"},
        {"a.wav", "2", "--continuity", "-1"}, {"a.wav", "2", "--sparsity", "-1e-300"},
    };
    const char* const names[] = {"fftsize",   "fftsize",   "fftsize",   "overlap",   "overlap",   "components",
                                 "maskpower", "maskpower", "maskpower", "precision", "precision", "seed",
                                 "continuity", "sparsity"};
    for (std::size_t i = 0; i < bad.size(); ++i) {
        try {
            parse(bad[i]);
            ADD_FAILURE() << "accepted case " << i;
        } catch (const RunError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(names[i]), std::string::npos) << text;
            EXPECT_EQ(text.back(), '\n');
            EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line: " << text;
        }
    }
    // The edges themselves are accepted.
    EXPECT_EQ(parse({"a.wav", "2", "-f", "8", "-o", "16"}).overlap, 16);
    EXPECT_EQ(parse({"a.wav", "2", "-f", "1073741823"}).fftsize, 1 << 30);
    EXPECT_EQ(parse({"a.wav", "2", "--maskpower", "10"}).maskPower, 10.0);
    EXPECT_EQ(parse({"a.wav", "2", "--precision", "1"}).precision, 1);
}

TEST(Settings, CommandLineErrorsHelpAndVersionThroughTheProgram)
{
    ScratchDir dir;
    const auto version = runTessavo({"--version"}, dir.path());
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("0.12"), std::string::npos);

    const auto help = runTessavo({"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--maxiterations"), std::string::npos);

    for (std::vector<std::string> args : {std::vector<std::string>{"song.wav"},
                                          {"song.wav", "3x"},
                                          {"song.wav", "2.5"},
                                          {"song.wav", "2", "-f"},
                                          {"song.wav", "2", "--bogus"},
                                          {"song.wav", "2", "extra"}}) {
        const auto r = runTessavo(args, dir.path());
        EXPECT_EQ(r.status, 1) << args.back();
        EXPECT_FALSE(r.err.empty()) << args.back();
        EXPECT_TRUE(r.out.empty()) << args.back();
    }

    // Range errors are checked before the input is opened: no such file here.
    const auto range = runTessavo({"missing.wav", "2", "-o", "0"}, dir.path());
    EXPECT_EQ(range.status, 1);
    EXPECT_EQ(range.out.find("Not able to open"), std::string::npos);
    EXPECT_NE(range.out.find("overlap"), std::string::npos);
}

// An empty word where a number belongs is a command-line error, like any
// other value that does not read as a number; it used to mean the default.
TEST(Settings, EmptyOptionValuesAreCommandLineErrors)
{
    const std::vector<std::vector<std::string>> lines = {
        {"x.wav", ""}, {"x.wav", "2", "-f", ""}, {"x.wav", "2", "-i", ""}, {"x.wav", "2", "-c", ""},
        {"x.wav", "2", "-o", ""}, {"x.wav", "2", "-t", ""}, {"x.wav", "2", "--fftsize", ""}};
    for (const std::vector<std::string>& line : lines) {
        std::vector<const char*> words = {"tessavo"};
        for (const std::string& w : line)
            words.push_back(w.c_str());
        Settings s;
        EXPECT_THROW(parseSettings(static_cast<int>(words.size()), words.data(), s,
                                   tessavo::ParseFailure::throwException),
                     TCLAP::ArgException)
            << line[line.size() - 2];

        ScratchDir dir;
        tessavo::test::writeBytes(dir.file("x.wav"), "not read\n");
        const tessavo::test::RunResult r = runTessavo(line, dir.path());
        EXPECT_EQ(r.status, 1) << line[line.size() - 2];
        EXPECT_EQ(r.out, "") << line[line.size() - 2];
        EXPECT_NE(r.err.find("Couldn't read argument value from string ''"), std::string::npos) << r.err;
        EXPECT_EQ(tessavo::test::names(tessavo::test::snapshot(dir.path())), std::vector<std::string>{"x.wav"});
    }
}

// The penalty weights: a negative value stops the program with one line
// naming the option and its range; a word that is no finite number is a
// command-line error. Either way before any work.
TEST(Settings, BadPenaltyWeightsAndTolerancesAreRefused)
{
    ScratchDir dir;
    tessavo::test::writeBytes(dir.file("x.wav"), "not read\n");
    for (const std::string option : {"--continuity", "--sparsity", "--tolerance"})
        for (const char* value : {"-1", "-0.5", "-1e-300", "nan", "inf", "-inf", "1e999", "abc", "2x", ""}) {
            const tessavo::test::RunResult r = runTessavo({"x.wav", "2", option, value}, dir.path());
            EXPECT_EQ(r.status, 1) << option << " " << value;
            if (value[0] == '-' && value[1] != 'i') {
                EXPECT_EQ(r.out, option.substr(2) + " must be a finite number, 0 or more\n");
            } else {
                EXPECT_EQ(r.out, "") << value;
                EXPECT_NE(r.err.find("(" + option + ")"), std::string::npos) << r.err;
            }
        }
}
