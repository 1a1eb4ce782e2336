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
// - V·Hᵀ and (W·H)·Hᵀ come from one pass over each row of V without forming
//   W·H as a matrix, and each new row of W feeds Wᵀ·V and Wᵀ·W at once;
// - with two or more threads, a second thread forms the new W two rows at a
//   time while the calling thread runs the objective's serial sum; each forms
//   the rows of W·H it needs itself, and each adds Wᵀ·V's terms for finished
//   rows over its own half of the columns. Two threads are all it uses.
// Nothing of frames × bins size is allocated after construction.

#include "factorisation/Matrix.h"

#include <vector>

namespace tessavo {

class FastNmf {
public:
    // Starts from copies of w (F × K) and h (K × B) for v (F × B); threads is
    // the number of threads to use (at least 1).
    FastNmf(const Matrix& v, const Matrix& w, const Matrix& h, int threads);
    FastNmf(const FastNmf&) = delete;
    FastNmf& operator=(const FastNmf&) = delete;

    // Returns objective(V, W, H) for the current factors, then replaces them
    // by one updateW followed by one updateH.
    double step();

    // The current factors, and those from before the last step.
    Matrix w() const { return unpad(w_); }
    Matrix h() const { return h_; }
    Matrix previousW() const { return unpad(previousW_); }
    Matrix previousH() const { return previousH_; }

private:
    Matrix unpad(const std::vector<double>& padded) const;
    void sweepOneThread(double& sum);
    void sweepThreads(double& sum);
    void fusedRow(int i, double& sum);
    void updateRow(int i, const double* product);
    void finishRow(int i, const double* den, const double* num);
    void columnPass(int firstRow, int endRow, int firstColumn, int endColumn);
    void finishH();

    Matrix v_;
    int frames_, bins_, components_;
    int padded_;  // components rounded up to the vector width
    int threads_;

    std::vector<double> w_, previousW_, nextW_;  // frames × padded, padding lanes 0
    Matrix h_, previousH_, nextH_;                // K × bins
    std::vector<double> ht_;              // bins × padded: Hᵀ of the current H
    std::vector<double> numeratorH_;      // K × bins: Wᵀ·V of the new W
    std::vector<double> gram_;            // K × K: Wᵀ·W of the new W
    std::vector<double> ring_;            // the threads' own rows of W·H, bins each
    std::vector<double> den_, num_;       // 2 × padded: (W·H)·Hᵀ and V·Hᵀ of two rows
};

}  // namespace tessavo
