// The factorisation loop's stopping rules on objectives given in advance:
// the absolute criteria, and the relative tolerance that replaces it.

#include "separation/FactorisationLoop.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using namespace tessavo;

namespace {

// Returns the objectives in turn (the first belongs to the start, which the
// loop's initial update pair leaves unprinted).
class Scripted : public Factoriser {
public:
    explicit Scripted(std::vector<double> objectives) : objectives_(std::move(objectives)) {}
    double step() override { return objectives_.at(next_++); }
    Matrix measuredW() const override { return Matrix(1, 1, 1.0); }
    Matrix measuredH() const override { return Matrix(1, 1, 1.0); }

private:
    std::vector<double> objectives_;
    std::size_t next_ = 0;
};

std::string linesOf(std::vector<double> objectives, const LoopSettings& settings)
{
    Scripted f(std::move(objectives));
    std::ostringstream out;
    runLoop(f, settings, &out);
    return out.str();
}

}  // namespace

TEST(StoppingRule, ToleranceIsRelativeToThePreviousObjectiveAndReplacesTheCriteria)
{
    const std::vector<double> falling{0.0, 1000.0, 900.0, 899.5, 899.0, 898.99};
    // 0.5 is below 1e-3 × 900 but far above the criteria.
    EXPECT_EQ(linesOf(falling, {10, 0.001, 1e-3}), "objective: 1000\nobjective: 900\ndone in 2 iterations\n");
    EXPECT_EQ(linesOf(falling, {5, 0.001, 0.0}),
              "objective: 1000\nobjective: 900\nobjective: 899.5\nobjective: 899\n");
    // A loose criteria has no say once a tolerance is given.
    EXPECT_EQ(linesOf(falling, {5, 1e9, 1e-6}),
              "objective: 1000\nobjective: 900\nobjective: 899.5\nobjective: 899\n");
    // The same relative change at a thousandth of the level stops alike.
    EXPECT_EQ(linesOf({0.0, 1.0, 0.9, 0.8995, 0.899}, {10, 0.001, 1e-3}),
              "objective: 1\nobjective: 0.9\ndone in 2 iterations\n");
    // A perfect fit (0, then 0) stops rather than dividing by nothing.
    EXPECT_EQ(linesOf({0.0, 0.0, 0.0, 5.0}, {10, 0.001, 1e-3}), "objective: 0\ndone in 1 iterations\n");
}

// The observer sees each pass with the objective of the factors after it:
// the last pass it sees is the one whose factors the loop returns.
TEST(StoppingRule, ObserverSeesEveryPassTheLastMarked)
{
    struct Passes : RunObserver {
        std::vector<std::vector<double>> seen;
        void pass(const PassReport& r) override
        {
            seen.push_back({double(r.pass), double(r.limit), r.objective, r.previous, double(r.last)});
        }
    };
    const auto observed = [](std::vector<double> objectives, const LoopSettings& settings) {
        Scripted f(std::move(objectives));
        Passes p;
        runLoop(f, settings, nullptr, &p);
        return p.seen;
    };
    const std::vector<std::vector<double>> stopped{{1, 10, 1000, 5, 0}, {2, 10, 900, 1000, 0}, {3, 10, 899.5, 900, 1}};
    EXPECT_EQ(observed({5.0, 1000.0, 900.0, 899.5, 899.0}, {10, 0.001, 1e-3}), stopped);
    const std::vector<std::vector<double>> limited{{1, 2, 1000, 5, 0}, {2, 2, 900, 1000, 1}};
    EXPECT_EQ(observed({5.0, 1000.0, 900.0}, {2, 0.0, 0.0}), limited);
    // No limit below one pass: the loop always runs one.
    EXPECT_EQ(observed({5.0, 1000.0}, {-3, 0.001, 0.0}), (std::vector<std::vector<double>>{{1, 1, 1000, 5, 1}}));
}
