#pragma once
// The fast engine for the Kullback-Leibler loss: PlainKl's numbers to the
// last bit, with nothing of frames × bins size allocated in a pass.
//
// The W update goes over blocks of eight rows, one vector lane per row (the
// rows of V turned into columns a chunk at a time): W·H, the quotient
// Q = V / (ε + W·H), each row's sum of the divergence's terms and Q·Hᵀ in
// one sweep; the divergence adds the rows' sums in order at the end. The H
// update goes over chunks of columns, each chunk through all rows in
// increasing order: the new W·H, the new quotient and Wᵀ·Q, eight columns
// per vector. Each sum keeps the plain order, so neither the thread count
// nor the vector variant changes a bit.
//
// With two or more threads a worker that stays for the engine's lifetime
// shares each half: both threads take blocks, then chunks, as they come.
// Two threads are all it uses. The fixed rows of H are copied once: their
// transposed columns, padded rows and sums never change, and with every row
// fixed the H half is left out.

#include "factorisation/Factoriser.h"
#include "factorisation/KlKernels.h"
#include "core/Matrix.h"
#include "factorisation/PassWorker.h"

#include <atomic>
#include <memory>
#include <vector>

namespace tessavo {

class FastKl : public Factoriser {
public:
    // Starts from copies of w (F × K) and h (K × B) for v (F × B), which it
    // refers to and which must outlive it; the first fixedRows rows of H are
    // never updated.
    FastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
           const KlKernels& kernels = bestKlKernels());
    FastKl(Matrix&& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
           const KlKernels& kernels = bestKlKernels()) = delete;
    ~FastKl() override;
    FastKl(const FastKl&) = delete;
    FastKl& operator=(const FastKl&) = delete;

    double step() override;
    Matrix measuredW() const override { return previousW_.clone(); }
    Matrix measuredH() const override { return previousH_.clone(); }

    // Bytes this engine holds for frames × bins and components, besides V.
    static double memoryBytes(double frames, double bins, double components);

private:
    struct BlockSpace {
        explicit BlockSpace(int components);
        std::vector<double> weights, num, scratch;
    };
    void copyRows(int first, int end);
    void newWeights(int block, BlockSpace& space);
    void weightBlocks(BlockSpace& space);
    void spectraChunks();
    double divergence() const;
    void workerPass();

    const Matrix& v_;
    const KlKernels& kernels_;
    int frames_, bins_, components_, fixedRows_, threads_;
    int blocks_, chunks_, stride_;
    Matrix w_, previousW_, nextW_;  // F × K
    Matrix h_, previousH_, nextH_;  // K × B
    std::vector<double> ht_;          // B × K: Hᵀ
    std::vector<double> hRows_;       // K × stride: H, rows padded
    std::vector<double> numeratorH_;  // K × stride: Wᵀ·Q of the new W
    std::vector<double> rowSums_;     // each row's sum of the divergence's terms
    std::vector<double> sumH_, sumW_;  // each row of H, each column of the new W
    std::vector<double> zeroRow_;      // the rows past V's end in the last block
    BlockSpace workerSpace_, mainSpace_;

    // Work the two threads share in a pass: the next block of the W half,
    // the next chunk of the H half, and which half the worker is in.
    std::atomic<int> nextBlock_{0}, nextChunk_{0};
    bool spectraHalf_ = false;
    std::unique_ptr<PassWorker> worker_;  // last, so it stops first
};

}  // namespace tessavo
