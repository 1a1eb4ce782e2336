#pragma once
// Virtanen's (2007) costs on each component's activations, the columns of
// W (w_t = W[t][k], T frames):
//     continuity  c_T = Σ_k D_k / σ_k²,  D_k = Σ_{t≥1} (w_t − w_{t−1})²
//     sparseness  c_S = Σ_k S1_k / σ_k,  S1_k = Σ_t w_t
// with σ_k² = S2_k / T, S2_k = Σ_t w_t². Both are unchanged when a column
// is scaled, so they shape the activations without shrinking them. Each
// gradient's positive part joins W's update denominator and its negative
// part the numerator, weighted by α_T and α_S; H is left alone.
//
// The weights are X × level(V) for the options' X, so that X means the same
// for quiet and loud input: each loss scales with V's level as its
// penalised terms then do.

#include "core/Matrix.h"
#include "factorisation/Loss.h"
#include "factorisation/Penalty.h"

#include <memory>
#include <vector>

namespace tessavo {

// The options' values, before the level.
struct ActivationWeights {
    double continuity = 0.0;
    double sparsity = 0.0;
};

// How the loss scales with V: the mean over V's cells, in increasing cell
// order, of V² for the Euclidean distance and of V for the KL divergence
// and 1 for the scale-invariant Itakura-Saito divergence. 0 for an empty V.
double penaltyLevel(Loss loss, const Matrix& v);

class ActivationPenalty : public Penalty {
public:
    // α_T and α_S themselves, the level already applied.
    ActivationPenalty(double continuity, double sparsity);

    void beginPass(const Matrix& w, const Matrix& h) override;
    void weightTerms(const Matrix& w, int i, int k, double& num, double& den) const override;
    void spectraTerms(const Matrix&, int, int, double&, double&) const override {}
    double objective(const Matrix& w, const Matrix& h) const override;

private:
    // One column's statistics, each sum over t in increasing order. A column
    // whose S2 is 0, or too small for 1/σ² to be finite, is left out
    // (used false): it adds nothing to the updates or the objective.
    struct Column {
        bool used = false;
        double s1 = 0.0, d = 0.0, variance = 0.0, deviation = 0.0;  // S1, D, σ², σ
    };
    static std::vector<Column> columns(const Matrix& w);

    double continuity_, sparsity_;
    std::vector<Column> columns_;  // of the pass's W
};

// The penalty for the options' weights on this V and loss, or null when
// both are 0, so that runs without it keep every bit.
std::unique_ptr<Penalty> makeActivationPenalty(Loss loss, const Matrix& v, const ActivationWeights& weights);

}  // namespace tessavo
