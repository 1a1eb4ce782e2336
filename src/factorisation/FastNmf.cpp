#include "factorisation/FastNmf.h"

#include "factorisation/NmfFactoriser.h"
#include "factorisation/RowLayout.h"
#include "factorisation/SweepKernels.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

namespace tessavo {

namespace {

// Spins briefly, then yields, until counter reaches at least target.
void waitFor(const std::atomic<int>& counter, int target)
{
    for (int spins = 0; counter.load(std::memory_order_acquire) < target; ++spins)
        if (spins > 1024)
            std::this_thread::yield();
}

}  // namespace

FastNmf::FastNmf(const Matrix& v, const Matrix& w, const Matrix& h, int threads, const SweepKernels& kernels,
                 int fixedRows)
    : v_(v),
      kernels_(kernels),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      blocks_((v.rows() + kBlockRows - 1) / kBlockRows),
      stride_(rowStride(v.cols())),
      threads_(std::max(1, threads)),
      fixedRows_(std::clamp(fixedRows, 0, h.rows())),
      h_(h.rows(), h.cols()),
      previousH_(h.rows(), h.cols()),
      nextH_(h.rows(), h.cols()),
      workerSpace_(w.cols()),
      mainSpace_(w.cols())
{
    w_.assign(w.data(), w.data() + w.size());
    previousW_ = w_;
    nextW_.assign(w_.size(), 0.0);
    std::copy(h.data(), h.data() + h.size(), h_.data());
    std::copy(h.data(), h.data() + h.size(), previousH_.data());
    ht_.assign(at(bins_, components_), 0.0);
    hRows_.assign(at(components_, stride_), 0.0);
    numeratorH_.assign(at(components_, stride_), 0.0);
    gram_.assign(at(components_, components_), 0.0);
    zeroRow_.assign(static_cast<std::size_t>(bins_), 0.0);
    squares_.assign(at(8, bins_), 0.0);
    if (fixedRows_ == components_)
        fixedNumerator_.assign(at(blocks_, components_) * kBlockRows, 0.0);
    if (threads_ > 1 && components_ > 0) {
        ready_ = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(blocks_));
        try {
            worker_ = std::make_unique<PassWorker>([this] { updateAllBlocks(); });
        } catch (const std::system_error&) {
            // The system gives no more threads (a process or address-space
            // limit): one thread computes the same numbers.
            threads_ = 1;
        }
    }
}

FastNmf::~FastNmf() = default;

double FastNmf::memoryBytes(double frames, double bins, double components)
{
    // Three generations of W and, with H fixed, V·Hᵀ; three of H, Hᵀ and two
    // row-padded K × B tables (the padding is at most 16 columns); the K × K
    // Gram matrix.
    return (4.0 * (frames + 8.0) * components + 6.0 * components * (bins + 16.0) + components * components) * 8.0;
}

Matrix FastNmf::toMatrix(const std::vector<double>& w) const
{
    Matrix m(frames_, components_);
    std::copy(w.begin(), w.end(), m.data());
    return m;
}

FastNmf::BlockSpace::BlockSpace(int components)
    : weights(at(components, kBlockRows), 0.0),
      den(weights.size(), 0.0),
      num(weights.size(), 0.0),
      scratch(2 * at(kScratchColumns, kBlockRows), 0.0)
{
}

void FastNmf::newWeights(int block, BlockSpace& space)
{
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, frames_ - first);
    for (int k = 0; k < components_; ++k)
        for (int r = 0; r < kBlockRows; ++r)
            space.weights[at(k, kBlockRows) + r] = r < rows ? w_[at(first + r, components_) + k] : 0.0;
    // Rows past the end of V read as zeros; their lanes are computed and
    // never used.
    const double* rowsOfV[kBlockRows];
    const double* nextRows[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r) {
        rowsOfV[r] = r < rows ? v_[first + r] : zeroRow_.data();
        nextRows[r] = first + kBlockRows + r < frames_ ? v_[first + kBlockRows + r] : zeroRow_.data();
    }
    // With H all fixed, V·Hᵀ is the same in every pass: kept from the first.
    const bool hFixed = fixedRows_ == components_;
    double* num = hFixed ? fixedNumerator_.data() + at(block, components_) * kBlockRows : space.num.data();
    kernels_.blockProducts(rowsOfV, nextRows, ht_.data(), bins_, components_, space.weights.data(), space.scratch.data(),
                           space.den.data(), num, hFixed && numeratorKept_);

    // W[i][k] = (N × W) / (ε + D), the product rounded before the division.
    for (int r = 0; r < rows; ++r) {
        const double* wi = w_.data() + at(first + r, components_);
        double* next = nextW_.data() + at(first + r, components_);
        for (int k = 0; k < components_; ++k) {
            const std::size_t lane = at(k, kBlockRows) + r;
            next[k] = (num[lane] * wi[k]) / (kNmfEpsilon + space.den[lane]);
        }
    }
}

void FastNmf::addBlockTerms(int block)
{
    if (fixedRows_ == components_)
        return;  // no row of H is updated: nothing to sum for it
    // Wᵀ·W and Wᵀ·V of the new W gain the block's rows, in increasing order.
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, frames_ - first);
    for (int r = 0; r < rows; ++r) {
        const double* next = nextW_.data() + at(first + r, components_);
        for (int k = 0; k < components_; ++k)
            for (int l = 0; l < components_; ++l)
                gram_[at(k, components_) + l] += next[k] * next[l];
    }
    kernels_.blockNumerator(v_[first], bins_, rows, nextW_.data() + at(first, components_), components_, bins_, stride_,
                   numeratorH_.data());
}

void FastNmf::finishH()
{
    // H[k][j] = (N × H) / (ε + (Wᵀ·W)·H), with (Wᵀ·W)·H summed over l from
    // 0.0; the fixed rows stay as they are. Each column keeps its own sum,
    // and the columns of a row run side by side.
    const double* h = h_.data();
    double* next = nextH_.data();
    std::copy(h, h + at(fixedRows_, bins_), next);
    constexpr int kSide = 16;
    for (int k = fixedRows_; k < components_; ++k) {
        const double* g = gram_.data() + at(k, components_);
        const double* n = numeratorH_.data() + at(k, stride_);
        double* out = next + at(k, bins_);
        const double* hk = h + at(k, bins_);
        int j = 0;
        for (; j + kSide <= bins_; j += kSide) {
            double d[kSide] = {};
            for (int l = 0; l < components_; ++l) {
                const double gl = g[l];
                const double* hl = h + at(l, bins_) + j;
                for (int c = 0; c < kSide; ++c)
                    d[c] = d[c] + gl * hl[c];
            }
            for (int c = 0; c < kSide; ++c)
                out[j + c] = (n[j + c] * hk[j + c]) / (kNmfEpsilon + d[c]);
        }
        for (; j < bins_; ++j) {
            double d = 0.0;
            for (int l = 0; l < components_; ++l)
                d = d + g[l] * h[at(l, bins_) + j];
            out[j] = (n[j] * hk[j]) / (kNmfEpsilon + d);
        }
    }
}

void FastNmf::sweepOneThread(double& sum)
{
    for (int block = 0; block < blocks_; ++block) {
        newWeights(block, workerSpace_);
        addBlockTerms(block);
    }
    runningSum(0, frames_, sum);
}

void FastNmf::runningSum(int first, int end, double& sum)
{
    int i = first;
    // Beyond eight components the rows of H come from the second-level
    // cache: four rows at a time read them a quarter as often, and the sum
    // of four rows runs while the next four are formed.
    if (components_ > 8 && end - first >= 4) {
        double* current = squares_.data();
        double* next = squares_.data() + at(4, bins_);
        bool pending = false;
        for (; i + 4 <= end; i += 4) {
            const double* vs[4] = {v_[i], v_[i + 1], v_[i + 2], v_[i + 3]};
            const double* ws[4];
            for (int r = 0; r < 4; ++r)
                ws[r] = w_.data() + at(i + r, components_);
            kernels_.objectiveRows(vs, ws, hRows_.data(), components_, bins_, stride_, pending ? current : nullptr,
                                   next, sum);
            std::swap(current, next);
            pending = true;
        }
        kernels_.objectiveRows(nullptr, nullptr, hRows_.data(), components_, bins_, stride_, current, next, sum);
    }
    for (; i < end; ++i)
        kernels_.objectiveRow(v_[i], w_.data() + at(i, components_), hRows_.data(), components_, bins_, stride_, sum);
}

void FastNmf::updateAllBlocks()
{
    // The sums for the new H take the blocks in order; the new weights of a
    // block at the end may come from the calling thread instead.
    for (int block = 0; block < blocks_; ++block) {
        bool mine;
        {
            std::lock_guard<std::mutex> lock(claims_);
            mine = block < back_;
            if (mine)
                front_ = block + 1;
        }
        if (mine)
            newWeights(block, workerSpace_);
        else
            waitFor(ready_[block], 1);
        addBlockTerms(block);
    }
}

void FastNmf::sweepTwoThreads(double& sum)
{
    // The worker forms the new W and the sums for the new H while this thread
    // runs the objective's running sum. When the sum is done first (many
    // components), this thread forms the new weights of the last blocks that
    // the worker has not reached yet.
    front_ = 0;
    back_ = blocks_;
    for (int block = 0; block < blocks_; ++block)
        ready_[block].store(0, std::memory_order_relaxed);
    worker_->start();
    runningSum(0, frames_, sum);
    for (;;) {
        int block;
        {
            std::lock_guard<std::mutex> lock(claims_);
            if (back_ - 1 < front_)
                break;
            block = --back_;
        }
        newWeights(block, mainSpace_);
        ready_[block].store(1, std::memory_order_release);
    }
    worker_->wait();
}

double FastNmf::step()
{
    // With every row of H fixed, H and its tables never change: they are
    // made once, and the H half of the pass is left out.
    const bool hFixed = fixedRows_ == components_;
    if (!hFixed || !tablesMade_) {
        for (int j = 0; j < bins_; ++j)
            for (int k = 0; k < components_; ++k)
                ht_[at(j, components_) + k] = h_[k][j];
        for (int k = 0; k < components_; ++k)
            std::copy(h_[k], h_[k] + bins_, hRows_.data() + at(k, stride_));
        tablesMade_ = true;
    }
    if (!hFixed) {
        std::fill(numeratorH_.begin(), numeratorH_.end(), 0.0);
        std::fill(gram_.begin(), gram_.end(), 0.0);
    }

    double sum = 0.0;
    if (!worker_)
        sweepOneThread(sum);
    else
        sweepTwoThreads(sum);

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    if (!hFixed) {
        finishH();
        std::swap(previousH_, h_);
        std::swap(h_, nextH_);
    }
    numeratorKept_ = hFixed;
    return std::sqrt(sum);
}

}  // namespace tessavo
