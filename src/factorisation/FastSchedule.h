#pragma once
// The fast engine of every loss: one schedule that runs a pass on every
// thread it is given, with the loss (FastLoss) filling the sums.
//
// Each pass returns the objective of the factors it starts from, then
// replaces them by one update pair, W first and then H:
// - the W half goes over blocks of kBlockRows rows, which the threads take
//   as they come; a loss may sum part of the H half as it goes, each thread
//   its own share over the blocks in order, while the block is still in the
//   shared cache;
// - the objective is completed on the calling thread (the loss's, plus the
//   penalty's);
// - the H half goes over ranges of columns, which the threads take as they
//   come; every sum over the rows keeps its order.
// Every element keeps its own sum in the plain order, so neither the thread
// count nor the vector variant changes a bit. The first fixedRows rows of H
// are never updated: their tables are made once, and with every row fixed
// the H half is left out. Nothing of frames × bins size is allocated.

#include "core/Matrix.h"
#include "factorisation/Factoriser.h"
#include "factorisation/FastLoss.h"
#include "factorisation/Penalty.h"
#include "factorisation/ThreadTeam.h"

#include <atomic>
#include <memory>
#include <vector>

namespace tessavo {

class FastSchedule : public Factoriser {
public:
    // Starts from copies of w (F × K) and h (K × B) for v (F × B), which it
    // refers to and which must outlive it.
    // A penalty adds to each update's terms and to the objective.
    FastSchedule(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                 std::unique_ptr<FastLoss> loss, std::unique_ptr<Penalty> penalty = nullptr);
    FastSchedule(Matrix&& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                 std::unique_ptr<FastLoss> loss, std::unique_ptr<Penalty> penalty = nullptr) = delete;

    double step() override;
    Matrix measuredW() const override { return previousW_.clone(); }
    Matrix measuredH() const override { return previousH_.clone(); }

    // Bytes the schedule holds for frames × bins and components, besides V
    // and the loss.
    static double memoryBytes(double frames, double bins, double components, int threads);

private:
    void makeTables(int first, int end);
    void weightBlock(int block, BlockSpace& space);
    void weightHalf(int thread, bool follow);
    void spectraRange(int first, int end);

    const Matrix& v_;
    int frames_, bins_, components_, fixedRows_, blocks_, stride_;
    Matrix w_, previousW_, nextW_;  // F × K
    Matrix h_, previousH_, nextH_;  // K × B
    std::vector<double> ht_;        // B × K: Hᵀ
    std::vector<double> hRows_;     // K × stride: H, rows padded
    std::vector<double> num_, den_;  // K × stride: the H half's sums
    std::unique_ptr<FastLoss> loss_;
    std::unique_ptr<Penalty> penalty_;
    PassFactors factors_;
    ThreadTeam team_;
    std::vector<BlockSpace> spaces_;  // one per thread of the team
    std::atomic<int> nextBlock_{0}, nextRange_{0};
    // The pass (counted from 1) in which each block's new W was formed.
    std::unique_ptr<std::atomic<long long>[]> formed_;
};

}  // namespace tessavo
