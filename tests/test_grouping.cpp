// Grouping components into sources: the clustering on its own, what the
// features read from factors made to show them, and the whole program with
// --sources, whose sources must be exactly the sums of the components the
// groups file names.

#include "grouping/ComponentFeatures.h"
#include "grouping/WardClustering.h"

#include "support/TestFiles.h"
#include "support/Program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace tessavo;
using namespace tessavo::test;

TEST(Grouping, WardJoinsTheCheapestPairFirstWeighingByMassAndBreaksTiesByIndex)
{
    const std::vector<std::vector<double>> line{{0.0}, {0.1}, {5.0}, {5.2}, {10.0}};
    const std::vector<double> ones(5, 1.0);
    EXPECT_EQ(wardClusters(line, ones, 3), (std::vector<int>{0, 0, 1, 1, 2}));
    // Joining 10 to {5, 5.2} adds 2/3 · 4.9² = 16.0, joining the two pairs
    // 2 · 2 / 4 · 5.05² = 25.5: a nearest-neighbour rule would differ.
    EXPECT_EQ(wardClusters(line, ones, 2), (std::vector<int>{0, 0, 1, 1, 1}));
    EXPECT_EQ(wardClusters(line, ones, 5), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(wardClusters(line, ones, 1), (std::vector<int>(5, 0)));
    // A heavy point at 10 holds its own: joining it to {5, 5.2} now costs
    // 2 · 100 / 102 · 4.9² = 47.1.
    EXPECT_EQ(wardClusters(line, {1.0, 1.0, 1.0, 1.0, 100.0}, 2), (std::vector<int>{0, 0, 0, 0, 1}));
    // 0–1 and 1–2 cost the same: the pair with the earlier points joins.
    EXPECT_EQ(wardClusters({{0.0}, {1.0}, {2.0}}, {1.0, 1.0, 1.0}, 2), (std::vector<int>{0, 0, 1}));
    // Clusters are numbered by their first points.
    EXPECT_EQ(wardClusters({{9.0, 0.0}, {0.0, 0.0}, {9.0, 0.1}}, {1.0, 1.0, 1.0}, 2), (std::vector<int>{0, 1, 0}));
}

TEST(Grouping, FeaturesReadRoughnessPitchBalanceAndEnergy)
{
    // Two components over 40 frames and 800 bins of 10 Hz: a smooth swell
    // with a harmonic spectrum at 200 Hz, and clicks with a smooth spectrum;
    // in the stereo cells component 0 sits left and component 1 right.
    const int frames = 40, bins = 800;
    Matrix w(frames, 2), h(2, bins), v(frames, bins), angle(frames, bins);
    for (int t = 0; t < frames; ++t) {
        w[t][0] = 1.0 + std::sin(t * 0.15);
        w[t][1] = t % 8 == 0 ? 1.0 : 0.0;
    }
    for (int j = 0; j < bins; ++j) {
        h[0][j] = j % 20 == 0 && j > 0 ? 1.0 : 0.0;
        h[1][j] = h[0][j] > 0.0 ? 0.0 : std::exp(-j / 100.0);  // no cell shared
    }
    for (int t = 0; t < frames; ++t)
        for (int j = 0; j < bins; ++j) {
            const double left = w[t][0] * h[0][j], right = w[t][1] * h[1][j];
            v[t][j] = std::hypot(left, right);
            angle[t][j] = std::atan2(right, left);
        }
    EXPECT_LT(activationRoughness(w, 0), -3.0);  // steps of about 0.15
    EXPECT_GT(activationRoughness(w, 1), 0.0);   // jumps
    EXPECT_GT(pitchStrength(h, 0, 10.0), 0.9);   // a comb repeats itself
    Matrix smooth(1, bins);
    for (int j = 0; j < bins; ++j)
        smooth[0][j] = std::exp(-j / 100.0);
    EXPECT_LT(pitchStrength(smooth, 0, 10.0), 0.5);
    EXPECT_LT(pitchStrength(h, 0, 200.0), 0.5);  // at 200 Hz a bin, its period is too short

    const Matrix mono;
    const auto one = describeComponents({w, h, v, mono, 10.0}, 0);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0].balance, 0.0);
    EXPECT_GT(one[0].energy, 0.0);
    const auto both = describeComponents({w, h, v, angle, 10.0}, 0);
    const auto free = describeComponents({w, h, v, angle, 10.0}, 1);  // the free component only
    ASSERT_EQ(free.size(), 1u);
    EXPECT_EQ(free[0].balance, both[1].balance);
    EXPECT_EQ(both[0].balance, 30.0);  // all left, clipped at 30 dB
    EXPECT_EQ(both[1].balance, -30.0);
    EXPECT_NEAR(both[0].energy, one[0].energy, 1e-9 * one[0].energy);  // the channels share the energy out
}

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

}  // namespace

TEST(Grouping, SourcesAreTheSumsOfTheirComponentsForEveryThreadCount)
{
    constexpr int kRate = 8000, kComponents = 5;
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, kRate, testSignal(8000, 2, kRate)));
    const std::vector<std::string> run{"x.wav", std::to_string(kComponents), "-s", "-f", "256", "-i", "20"};
    ASSERT_EQ(runTessavo(run, dir.path()).status, 0);
    std::vector<Sound> components;
    for (int k = 0; k < kComponents; ++k)
        components.push_back(readSound(dir.file("x-" + std::to_string(k) + ".wav")));

    std::string firstGroups;
    for (const char* threads : {"1", "2", "3", "8"}) {
        std::vector<std::string> grouped = run;
        grouped.insert(grouped.end(), {"--sources", "3", "-m", "-t", threads});
        ASSERT_EQ(runTessavo(grouped, dir.path()).status, 0) << threads;
        const std::string groups = readFile(dir.file("x.wav-groups.txt"));
        if (firstGroups.empty())
            firstGroups = groups;
        EXPECT_EQ(groups, firstGroups) << "threads " << threads;
    }
    const std::vector<std::string> names = lines(firstGroups);
    ASSERT_EQ(names.size(), static_cast<std::size_t>(kComponents));
    for (int s = 0; s < 3; ++s) {
        const Sound source = readSound(dir.file("x-source" + std::to_string(s) + ".wav"));
        std::vector<double> sum(source.samples.size(), 0.0);
        int members = 0;
        for (int k = 0; k < kComponents; ++k)
            if (names[k] == "source" + std::to_string(s)) {
                ++members;
                ASSERT_EQ(components[k].samples.size(), sum.size());
                for (std::size_t i = 0; i < sum.size(); ++i)
                    sum[i] += components[k].samples[i];
            }
        EXPECT_GT(members, 0) << "source " << s << " is empty";
        double worst = 0.0;
        for (std::size_t i = 0; i < sum.size(); ++i)
            worst = std::max(worst, std::abs(sum[i] - source.samples[i]));
        EXPECT_LT(worst, 1e-5) << "source " << s;
    }
    EXPECT_FALSE(fileExists(dir.file("x-source3.wav")));
}

TEST(Grouping, SourceCountsAndNamesThatCannotWorkAreRefused)
{
    ScratchDir dir;
    ASSERT_TRUE(writeSound(dir.file("x.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, testSignal(4000, 1, 8000)));
    ASSERT_EQ(runTessavo({"x.wav", "2", "-m", "-s", "-f", "256", "-i", "2"}, dir.path()).status, 0);
    for (const char* count : {"1", "4", "-2"}) {
        const RunResult r = runTessavo({"x.wav", "3", "--sources", count}, dir.path());
        EXPECT_NE(r.status, 0) << count;
        EXPECT_NE(r.out.find("sources must be between 2 and the number of components (3)"), std::string::npos)
            << r.out;
    }
    const RunResult clash =
        runTessavo({"x.wav", "3", "-f", "256", "--sources", "2", "--templates", "source1=x.wav-H.txt"}, dir.path());
    EXPECT_NE(clash.status, 0);
    EXPECT_NE(clash.out.find("Template name 'source1' is a grouped source's"), std::string::npos) << clash.out;
    EXPECT_FALSE(fileExists(dir.file("x-source0.wav")));
}
