// The Itakura-Saito loss: its objective against a direct evaluation, plain
// and fast engines bit for bit (as the program wires them), a falling
// objective, zero cells and level independence, and a whole run.

#include "factorisation/ItakuraSaito.h"
#include "separation/FactorisationLoop.h"

#include "support/Engines.h"
#include "support/Numbers.h"
#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

using namespace tessavo;
using namespace tessavo::test;

namespace {

std::unique_ptr<Factoriser> engine(Engine kind, const Matrix& v, const Matrix& fixed, int threads = 2)
{
    RandomStream random;
    return makeFactoriser(kind, Loss::is, v, fixed, 3, random, threads);
}

// V with the first rows silent, as digital silence before a sound.
Matrix withSilentFrames(int frames, int bins, int silent)
{
    Matrix v = magnitudes(frames, bins, 17);
    for (int i = 0; i < silent; ++i)
        for (int j = 0; j < bins; ++j)
            v[i][j] = 0.0;
    return v;
}

double largest(const Matrix& m)
{
    double x = 0.0;
    for (int i = 0; i < m.rows(); ++i)
        for (int j = 0; j < m.cols(); ++j)
            x = std::max(x, m[i][j]);
    return x;
}

std::vector<double> objectiveLines(const std::string& out)
{
    std::vector<double> values;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("objective: ", 0) == 0)
            values.push_back(std::stod(line.substr(11)));
    return values;
}

}  // namespace

// The first objective is Σ q − log q − 1 for q = max(v, δ) / (ε + W·H) of
// the start, δ a millionth of V's mean, written out here with the C
// library's log.
TEST(ItakuraSaito, ObjectiveIsTheFlooredDivergence)
{
    const Matrix v = magnitudes(13, 21, 3);  // with zero cells
    RandomStream random;
    const StartFactors start = drawStart(13, 21, Matrix(), 3, random);
    const Matrix p = matmul(start.w, start.h);
    double mean = 0.0;
    for (int i = 0; i < v.rows(); ++i)
        for (int j = 0; j < v.cols(); ++j)
            mean += v[i][j] / (13 * 21);
    double expected = 0.0;
    for (int i = 0; i < v.rows(); ++i)
        for (int j = 0; j < v.cols(); ++j) {
            const double q = std::max(v[i][j], 1e-6 * mean) / (1e-9 + p[i][j]);
            expected += q - std::log(q) - 1.0;
        }
    for (Engine kind : {Engine::plain, Engine::fast})
        EXPECT_NEAR(engine(kind, v, Matrix())->step(), expected, 1e-10 * expected);
}

TEST(ItakuraSaito, FastEngineGivesThePlainBits)
{
    const Matrix v = withSilentFrames(27, 45, 2);
    for (int fixedRows : {0, 2}) {
        const Matrix fixed = fixedRows ? filledMatrix(fixedRows, 45, 42) : Matrix();
        for (int threads : {1, 2, 3, 8})
            EXPECT_TRUE(sameSteps(*engine(Engine::fast, v, fixed, threads), *engine(Engine::plain, v, fixed), 5))
                << "fixed rows " << fixedRows << ", " << threads << " threads";
    }
}

TEST(ItakuraSaito, ObjectiveFallsFromPassToPass)
{
    const Matrix v = magnitudes(30, 40, 5);
    const auto is = engine(Engine::fast, v, Matrix());
    double last = is->step();
    for (int pass = 0; pass < 60; ++pass) {
        const double now = is->step();
        EXPECT_LE(now, last * (1 + 1e-12)) << "pass " << pass;
        last = now;
    }
}

// Silent frames (and an all-silent V) leave the objective and the factors
// finite; V × 4 gives W·H × 4 and the same objective, the floor following V.
TEST(ItakuraSaito, ZeroCellsAreFlooredInProportionToV)
{
    for (const Matrix& v : {withSilentFrames(24, 40, 6), Matrix(8, 16, 0.0)}) {
        const auto is = engine(Engine::fast, v, Matrix());
        for (int pass = 0; pass < 40; ++pass)
            ASSERT_TRUE(std::isfinite(is->step())) << "pass " << pass;
        for (const Matrix& m : {is->measuredW(), is->measuredH()})
            EXPECT_TRUE(std::isfinite(largest(m)));
    }

    // At a level where ε (absolute, 1e-9) is far below δ: silent cells
    // weigh as much as any in this divergence, and ε would blur them.
    Matrix v = withSilentFrames(24, 40, 6);
    v *= Matrix(v.rows(), v.cols(), 1024.0);
    Matrix louder = v.clone();
    louder *= Matrix(v.rows(), v.cols(), 4.0);
    EXPECT_EQ(isFloor(louder), 4.0 * isFloor(v));
    const auto quiet = engine(Engine::fast, v, Matrix()), loud = engine(Engine::fast, louder, Matrix());
    double quietObjective = 0.0, loudObjective = 0.0;
    for (int pass = 0; pass < 40; ++pass) {
        quietObjective = quiet->step();
        loudObjective = loud->step();
    }
    EXPECT_NEAR(loudObjective, quietObjective, 1e-6 * quietObjective);
    const Matrix a = matmul(quiet->measuredW(), quiet->measuredH());
    const Matrix b = matmul(loud->measuredW(), loud->measuredH());
    const double scale = largest(b);
    for (int i = 0; i < a.rows(); ++i)
        for (int j = 0; j < a.cols(); ++j)
            ASSERT_NEAR(b[i][j], 4.0 * a[i][j], 1e-5 * scale) << i << ", " << j;
}

// The program on a real recording: the IS run falls pass by pass and its
// factors are not the KL run's.
TEST(ItakuraSaito, WholeRunOnARecording)
{
    ScratchDir dir;
    std::filesystem::copy_file(std::string(TESSAVO_SOURCE_DIR) + "/examples/mixture.wav", dir.file("m.wav"));
    std::string w[2];
    int run = 0;
    for (const char* loss : {"is", "kl"}) {
        const RunResult r = runTessavo({"m.wav", "3", "-f", "1024", "-i", "25", "-c", "0", "-m", "--loss", loss}, dir.path());
        ASSERT_EQ(r.status, 0) << loss << ": " << r.err;
        const std::vector<double> objective = objectiveLines(r.out);
        ASSERT_EQ(objective.size(), 24u) << r.out;
        for (std::size_t i = 1; i < objective.size(); ++i)
            EXPECT_LE(objective[i], objective[i - 1]) << loss << " pass " << i << ":\n" << r.out;
        w[run++] = readFile(dir.file("m.wav-W.txt"));
    }
    EXPECT_FALSE(w[0].empty());
    EXPECT_NE(w[0], w[1]);
}
