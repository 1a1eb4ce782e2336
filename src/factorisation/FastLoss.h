#pragma once
// A loss as the fast schedule (FastSchedule) runs it: what each half of a
// pass sums, and the objective. The schedule owns the factors, the threads,
// the fixed rows of H and the update formulas; a loss only fills numerators
// and denominators, each element summed in the plain engine's order, so
// that any thread may form any block or column range.
//
// A pass, from W and H:
// - the W half, one block of kBlockRows rows at a time (blockTerms): for
//   each row r of the block and component k, num and den such that the new
//   W[r][k] = (num × W[r][k]) / (ε + den); and the block's part of the
//   objective of W and H;
// - objective(): the objective of W and H, on one thread;
// - with any row of H free, beginH() (on the team) and the H half, one
//   range of columns at a time (columnTerms): for each free row k and
//   column j, num and den such that the new H[k][j] = (num × H[k][j]) /
//   (ε + den).
// The schedule adds a penalty's terms (Penalty.h) to num and den before it
// divides.

#include "core/Matrix.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tessavo {

class ThreadTeam;

// What a loss reads of a pass. The schedule keeps it up to date.
struct PassFactors {
    const Matrix* v = nullptr;      // frames × bins
    const Matrix* w = nullptr;      // the pass's W, frames × K
    const Matrix* nextW = nullptr;  // the new W, complete once the W half is done
    const Matrix* h = nullptr;      // the pass's H, K × bins
    const double* ht = nullptr;     // Hᵀ, bins × K
    const double* hRows = nullptr;  // H's rows padded to stride
    int stride = 0;
    int frames = 0, bins = 0, components = 0, fixedRows = 0;
    int blocks = 0;                 // of kBlockRows rows, the last one possibly short
    long long pass = 0;             // 0 for the first
};

// The columns [first, end) of bins that thread (of threads) sums as the W
// half goes: an equal share, in whole vectors of eight.
struct ColumnShare {
    int first, end;
};
inline ColumnShare columnShare(int bins, int thread, int threads)
{
    const int vectors = (bins + 7) / 8;
    return ColumnShare{std::min(bins, vectors * thread / threads * 8),
                       std::min(bins, vectors * (thread + 1) / threads * 8)};
}

// A thread's working space for one block.
struct BlockSpace {
    explicit BlockSpace(int components);
    std::vector<double> weights, num, den, scratch;  // K × 8 each (weights[k·8 + r] = W[first + r][k]); scratch
};

class FastLoss {
public:
    virtual ~FastLoss() = default;

    // Before each pass; H's tables are made.
    virtual void beginPass(const PassFactors& f) = 0;
    // The W half of block b: space.num and space.den, and the block's part of
    // the objective. space.weights holds the block's W.
    virtual void blockTerms(const PassFactors& f, int block, BlockSpace& space) = 0;
    // With a free row of H: whether the loss sums part of the H half as the
    // W half goes (followBlock), so that each block of V is read once.
    virtual bool followsBlocks() const { return false; }
    // The H half's sums that thread (of threads) owns gain block's rows, for
    // block = 0, 1, ... in turn on each thread, each once its new W is formed.
    virtual void followBlock(const PassFactors& /*f*/, int /*thread*/, int /*threads*/, int /*block*/) {}
    // The objective of the pass's W and H, once every block is done.
    virtual double objective(const PassFactors& f) = 0;
    // The objective with a penalty's part added.
    virtual double withPenalty(double objective, double penalty) const { return objective + penalty; }
    // Before the H half, with the new W complete.
    virtual void beginH(const PassFactors& f, ThreadTeam& team) = 0;
    // num[k·stride + j] and den[k·stride + j] for the free rows k and the
    // columns first ... end - 1.
    virtual void columnTerms(const PassFactors& f, int first, int end, double* num, double* den) = 0;
};

}  // namespace tessavo
