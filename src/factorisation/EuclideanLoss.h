#pragma once
// The Euclidean distance as the fast schedule runs it: NmfFactoriser's
// updateW, updateH and objective to the last bit.
//
// - W half, a block of rows: (W·H)·Hᵀ and V·Hᵀ in one sweep over the
//   block's rows of V (SweepKernels). With every row of H fixed, V·Hᵀ is the
//   same in every pass: kept from the first.
// - Objective: the running sum of (V − W·H)² over every cell, row after row,
//   without its chain of additions (ExactSum.h): each block's rows give their
//   units in the binade the sum was in at that row in the pass before, any
//   thread any row; a walk over the rows adds them, and adds plainly the few
//   rows where the binade was another, the sum leaves it, or a term ties.
//   The first pass, with no binades to go by, is added plainly throughout.
// - H half: Wᵀ·V and Wᵀ·W of the new W, each element over the rows in
//   increasing order, summed as the W half goes (each thread its own range
//   of columns of Wᵀ·V and rows of Wᵀ·W, block after block, while the block's
//   rows of V are still in the shared cache); then, a range of columns at a
//   time, (Wᵀ·W)·H.

#include "factorisation/FastLoss.h"
#include "factorisation/Penalty.h"
#include "factorisation/SweepKernels.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tessavo {

class EuclideanLoss : public FastLoss {
public:
    EuclideanLoss(int frames, int bins, int components, const SweepKernels& kernels);

    void beginPass(const PassFactors& f) override;
    void blockTerms(const PassFactors& f, int block, BlockSpace& space) override;
    bool followsBlocks() const override { return true; }
    void followBlock(const PassFactors& f, int thread, int threads, int block) override;
    double objective(const PassFactors& f) override;
    double withPenalty(double objective, double penalty) const override
    {
        return penalisedDistance(objective, penalty);
    }
    void beginH(const PassFactors& f, ThreadTeam& team) override;
    void columnTerms(const PassFactors& f, int first, int end, double* num, double* den) override;

    // Bytes it holds for frames × bins and components.
    static double memoryBytes(double frames, double bins, double components);

private:
    const SweepKernels& kernels_;
    std::vector<double> zeroRow_;          // the rows past V's end in the last block
    std::vector<double> fixedNumerator_;   // H all fixed: V·Hᵀ block by block (K × 8 each)
    std::vector<int> binades_;             // each row's binade of the sum, last pass
    std::vector<std::uint64_t> units_;     // each row's units this pass
    std::vector<char> plain_;              // rows to add plainly
    std::vector<double> gram_;             // K × K: Wᵀ·W of the new W
    std::vector<double> numerator_;        // K × stride: Wᵀ·V of the new W
};

// The fast engine for the Euclidean distance.
std::unique_ptr<class Factoriser> makeFastEuclidean(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                                    int threads, const SweepKernels& kernels = bestSweepKernels(),
    std::unique_ptr<Penalty> penalty = nullptr);

}  // namespace tessavo
