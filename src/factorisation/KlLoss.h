#pragma once
// The generalised Kullback-Leibler divergence as the fast schedule runs it:
// PlainKl's numbers to the last bit.
//
// - W half, a block of rows, one vector lane per row (KlKernels): W·H, the
//   quotient Q = V / (ε + W·H), each row's sum of the divergence's terms and
//   Q·Hᵀ in one sweep; the denominator is each row of H's sum.
// - Objective: the rows' sums added in row order.
// - H half: the new W·H, the new quotient and Wᵀ·Q, eight columns per
//   vector, each thread its share of the columns through the blocks in
//   order as their new W is formed, so that V is read once per pass; the
//   denominator is each column of the new W's sum.

#include "factorisation/FastLoss.h"
#include "factorisation/Penalty.h"
#include "factorisation/KlKernels.h"

#include <memory>
#include <vector>

namespace tessavo {

class KlLoss : public FastLoss {
public:
    KlLoss(int frames, int bins, int components, const KlKernels& kernels);

    void beginPass(const PassFactors& f) override;
    void blockTerms(const PassFactors& f, int block, BlockSpace& space) override;
    bool followsBlocks() const override { return true; }
    void followBlock(const PassFactors& f, int thread, int threads, int block) override;
    double objective(const PassFactors& f) override;
    void beginH(const PassFactors& f, ThreadTeam& team) override;
    void columnTerms(const PassFactors& f, int first, int end, double* num, double* den) override;

    // Bytes it holds for frames × bins and components.
    static double memoryBytes(double frames, double bins, double components);

private:
    const KlKernels& kernels_;
    std::vector<double> zeroRow_;       // the rows past V's end in the last block
    std::vector<double> rowSums_;       // each row's sum of the divergence's terms
    std::vector<double> sumH_, sumW_;   // each row of H, each column of the new W
    std::vector<double> numerator_;     // K × stride: Wᵀ·Q of the new W
    bool fixedSummed_ = false;          // the fixed rows of H are summed once
};

// The fast engine for the Kullback-Leibler divergence.
std::unique_ptr<class Factoriser> makeFastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                             int threads, const KlKernels& kernels = bestKlKernels(),
    std::unique_ptr<Penalty> penalty = nullptr);

}  // namespace tessavo
