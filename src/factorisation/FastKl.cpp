#include "factorisation/FastKl.h"

#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/RowLayout.h"

#include <algorithm>
#include <system_error>

namespace tessavo {

FastKl::BlockSpace::BlockSpace(int components)
    : weights(at(components, kBlockRows), 0.0),
      num(weights.size(), 0.0),
      scratch(2 * at(kScratchColumns, kBlockRows), 0.0)
{
}

FastKl::FastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
               const KlKernels& kernels)
    : v_(v),
      kernels_(kernels),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      fixedRows_(std::clamp(fixedRows, 0, h.rows())),
      threads_(std::clamp(threads, 1, 2)),
      blocks_((v.rows() + kBlockRows - 1) / kBlockRows),
      chunks_((v.cols() + kScratchColumns - 1) / kScratchColumns),
      stride_(rowStride(v.cols())),
      w_(w.clone()),
      previousW_(w.clone()),
      nextW_(w.rows(), w.cols()),
      h_(h.clone()),
      previousH_(h.clone()),
      nextH_(h.clone()),
      ht_(at(bins_, components_), 0.0),
      hRows_(at(components_, stride_), 0.0),
      numeratorH_(at(components_, stride_), 0.0),
      rowSums_(at(blocks_, kBlockRows), 0.0),
      sumH_(static_cast<std::size_t>(components_), 0.0),
      sumW_(sumH_.size(), 0.0),
      zeroRow_(static_cast<std::size_t>(bins_), 0.0),
      workerSpace_(components_),
      mainSpace_(components_)
{
    copyRows(0, fixedRows_);  // once: the fixed rows never change
    if (threads_ > 1) {
        try {
            worker_ = std::make_unique<PassWorker>([this] { workerPass(); });
        } catch (const std::system_error&) {
            threads_ = 1;  // no more threads to be had: one computes the same numbers
        }
    }
}

FastKl::~FastKl() = default;

double FastKl::memoryBytes(double frames, double bins, double components)
{
    // Three generations of W and H, Hᵀ, two padded K × B tables, row sums.
    return (3.0 * frames * components + 6.0 * components * (bins + 16.0) + frames + 8.0) * 8.0;
}

void FastKl::copyRows(int first, int end)
{
    for (int k = first; k < end; ++k) {
        const double* hk = h_[k];
        double s = 0.0;
        for (int j = 0; j < bins_; ++j) {
            s = s + hk[j];
            ht_[at(j, components_) + k] = hk[j];
        }
        sumH_[k] = s;
        std::copy(hk, hk + bins_, hRows_.data() + at(k, stride_));
    }
}

void FastKl::newWeights(int block, BlockSpace& space)
{
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, frames_ - first);
    const double* rowsOfV[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r) {
        rowsOfV[r] = r < rows ? v_[first + r] : zeroRow_.data();
        for (int k = 0; k < components_; ++k)
            space.weights[at(k, kBlockRows) + r] = r < rows ? w_[first + r][k] : 0.0;
    }
    kernels_.blockWeights(rowsOfV, ht_.data(), bins_, components_, space.weights.data(), space.scratch.data(),
                          space.num.data(), rowSums_.data() + at(block, kBlockRows));
    // W[i][k] = (N × W) / (ε + Σj H[k][j]), the product rounded first.
    for (int r = 0; r < rows; ++r) {
        const double* wi = w_[first + r];
        double* next = nextW_[first + r];
        for (int k = 0; k < components_; ++k)
            next[k] = (space.num[at(k, kBlockRows) + r] * wi[k]) / (kNmfEpsilon + sumH_[k]);
    }
}

void FastKl::weightBlocks(BlockSpace& space)
{
    for (int b = nextBlock_.fetch_add(1); b < blocks_; b = nextBlock_.fetch_add(1))
        newWeights(b, space);
}

void FastKl::spectraChunks()
{
    for (int c = nextChunk_.fetch_add(1); c < chunks_; c = nextChunk_.fetch_add(1)) {
        const int first = c * kScratchColumns;
        const int end = std::min(bins_, first + kScratchColumns);
        for (int k = fixedRows_; k < components_; ++k)
            std::fill(numeratorH_.begin() + at(k, stride_) + first, numeratorH_.begin() + at(k, stride_) + end, 0.0);
        kernels_.columnSums(v_.data(), bins_, frames_, nextW_.data(), components_, fixedRows_, hRows_.data(), stride_,
                            first, end, numeratorH_.data());
        // H[k][j] = (N × H) / (ε + Σi W[i][k]) for the free rows.
        for (int k = fixedRows_; k < components_; ++k) {
            const double* n = numeratorH_.data() + at(k, stride_);
            const double* hk = h_[k];
            double* next = nextH_[k];
            for (int j = first; j < end; ++j)
                next[j] = (n[j] * hk[j]) / (kNmfEpsilon + sumW_[k]);
        }
    }
}

double FastKl::divergence() const
{
    double sum = 0.0;
    for (int i = 0; i < frames_; ++i)
        sum = sum + rowSums_[static_cast<std::size_t>(i)];
    return sum;
}

void FastKl::workerPass()
{
    if (spectraHalf_)
        spectraChunks();
    else
        weightBlocks(workerSpace_);
}

double FastKl::step()
{
    copyRows(fixedRows_, components_);
    const bool freeRows = fixedRows_ < components_;

    nextBlock_ = 0;
    spectraHalf_ = false;
    if (worker_)
        worker_->start();
    weightBlocks(mainSpace_);
    if (worker_)
        worker_->wait();

    // Σi of each free column of the new W, rows in increasing order.
    for (int k = fixedRows_; k < components_; ++k)
        sumW_[k] = 0.0;
    for (int i = 0; i < frames_ && freeRows; ++i) {
        const double* wi = nextW_[i];
        for (int k = fixedRows_; k < components_; ++k)
            sumW_[k] = sumW_[k] + wi[k];
    }
    const double d = divergence();
    nextChunk_ = 0;
    spectraHalf_ = true;
    if (worker_ && freeRows)
        worker_->start();
    if (freeRows)
        spectraChunks();
    if (worker_ && freeRows)
        worker_->wait();

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    // With every row fixed, H and its copies stay the start's.
    if (freeRows) {
        std::swap(previousH_, h_);
        std::swap(h_, nextH_);
    }
    return d;
}

}  // namespace tessavo
