#pragma once
// The factorisation loop's fast path: the same numbers as NmfFactoriser's
// updateW, updateH and objective, to the last bit, in one sweep over V per
// update pair.
//
// Every output element keeps its own sum in its own order (products from
// 0.0 in increasing index, the objective one running sum row after row), so
// the results equal the plain path's whatever the thread count. What changes
// is the schedule:
// - the W·H of the objective is the W·H that the next updateW needs, so
//   step() returns the objective of the factors it starts from, and finishes
//   one update pair ahead of it; the factors the objective belongs to stay
//   available as previousW() and previousH();
// - the new W is formed eight rows at a time: a chunk of the block's rows of
//   V at a time is turned into columns, so that one vector holds one column
//   of the block, and W·H, (W·H)·Hᵀ and V·Hᵀ run across rows, each lane its
//   own row's sums; W·H is never stored whole. The block's terms of Wᵀ·V for
//   the new W follow at once, from the same rows, still in cache;
// - the objective's running sum forms each row of W·H as it goes;
// - with two or more threads the new W and H are formed on a worker thread
//   while the calling thread runs the running sum: the two share nothing
//   until the end of the pass. Two threads are all it uses. The worker stays
//   for the factoriser's lifetime, so that no pass waits for a thread to
//   start.
// Nothing of frames × bins size is allocated, here or in a pass.

#include "factorisation/Factoriser.h"
#include "core/Matrix.h"
#include "factorisation/PassWorker.h"
#include "factorisation/SweepKernels.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace tessavo {

class FastNmf : public Factoriser {
public:
    // Starts from copies of w (F × K) and h (K × B) for v (F × B), which it
    // refers to and which must outlive it; threads is the number of threads
    // to use (at least 1), kernels the vector variant to run. The first
    // fixedRows rows of H are never updated.
    FastNmf(const Matrix& v, const Matrix& w, const Matrix& h, int threads,
            const SweepKernels& kernels = bestSweepKernels(), int fixedRows = 0);
    FastNmf(Matrix&& v, const Matrix& w, const Matrix& h, int threads, const SweepKernels& kernels,
            int fixedRows = 0) = delete;
    ~FastNmf() override;
    FastNmf(const FastNmf&) = delete;
    FastNmf& operator=(const FastNmf&) = delete;

    // Returns objective(V, W, H) for the current factors, then replaces them
    // by one updateW followed by one updateH.
    double step() override;

    // The factors from before the last step (those its objective belongs to).
    Matrix measuredW() const override { return toMatrix(previousW_); }
    Matrix measuredH() const override { return previousH_.clone(); }

    // Bytes this engine holds for frames × bins and components, besides V.
    static double memoryBytes(double frames, double bins, double components);

private:
    Matrix toMatrix(const std::vector<double>& w) const;
    // The update's working space for one block: old weights, (W·H)·Hᵀ and
    // V·Hᵀ (K × kBlockRows each), and the rows turned into columns with a
    // chunk of W·H.
    struct BlockSpace {
        explicit BlockSpace(int components);
        std::vector<double> weights, den, num, scratch;
    };
    void newWeights(int block, BlockSpace& space);
    void addBlockTerms(int block);
    void runningSum(int first, int end, double& sum);
    void sweepOneThread(double& sum);
    void sweepTwoThreads(double& sum);
    void updateAllBlocks();
    void finishH();

    const Matrix& v_;
    const SweepKernels& kernels_;
    int frames_, bins_, components_;
    int blocks_;  // blocks of kBlockRows rows, the last one possibly short
    int stride_;  // row stride of hRows_ and numeratorH_
    int threads_;
    int fixedRows_;
    bool tablesMade_ = false;     // Hᵀ and the padded rows, made once when H is all fixed
    bool numeratorKept_ = false;  // fixedNumerator_ holds V·Hᵀ of the fixed H

    std::vector<double> w_, previousW_, nextW_;  // F × K, row by row
    Matrix h_, previousH_, nextH_;                // K × B
    std::vector<double> ht_;                      // B × K: Hᵀ of the current H
    std::vector<double> hRows_;                   // K × stride: the current H
    std::vector<double> zeroRow_;                 // B zeros: the rows past V's end in the last block
    std::vector<double> squares_;                 // 2 × 4 × B: the running sum's squares, four rows at a time
    std::vector<double> numeratorH_;              // K × stride: Wᵀ·V of the new W
    std::vector<double> gram_;                    // K × K: Wᵀ·W of the new W
    std::vector<double> fixedNumerator_;          // H all fixed: V·Hᵀ block by block (K × 8 each)
    BlockSpace workerSpace_, mainSpace_;

    // Which blocks' new weights each thread forms in a pass: the worker
    // takes [0, front_), the calling thread [back_, blocks_); ready_[b] is 1
    // once the calling thread has formed block b.
    std::mutex claims_;
    int front_ = 0, back_ = 0;
    std::unique_ptr<std::atomic<int>[]> ready_;

    std::unique_ptr<PassWorker> worker_;   // forms the new W and H; last, so it stops first
};

}  // namespace tessavo
