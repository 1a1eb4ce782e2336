#include "factorisation/FastNmf.h"

#include "factorisation/NmfFactoriser.h"
#include "factorisation/SweepKernels.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

namespace {

std::size_t at(int row, int stride)
{
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
}

// Whole cache lines, an odd number of them, at least bins doubles.
int rowStride(int bins)
{
    const int lines = (bins + 7) / 8;
    return (lines % 2 == 0 ? lines + 1 : lines) * 8;
}

}  // namespace

FastNmf::FastNmf(const Matrix& v, const Matrix& w, const Matrix& h, int threads)
    : v_(v),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      blocks_((v.rows() + kBlockRows - 1) / kBlockRows),
      stride_(rowStride(v.cols())),
      threads_(std::max(1, threads)),
      h_(h.rows(), h.cols()),
      previousH_(h.rows(), h.cols()),
      nextH_(h.rows(), h.cols())
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
    weights_.assign(at(components_, kBlockRows), 0.0);
    den_.assign(weights_.size(), 0.0);
    num_.assign(weights_.size(), 0.0);
    products_.assign(2 * at(kScratchColumns, kBlockRows), 0.0);
    zeroRow_.assign(static_cast<std::size_t>(bins_), 0.0);
    if (threads_ > 1 && components_ > 0)
        worker_ = std::make_unique<PassWorker>([this] { updateAllBlocks(); });
}

FastNmf::~FastNmf() = default;

Matrix FastNmf::toMatrix(const std::vector<double>& w) const
{
    Matrix m(frames_, components_);
    std::copy(w.begin(), w.end(), m.data());
    return m;
}

void FastNmf::updateBlock(int block)
{
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, frames_ - first);
    for (int k = 0; k < components_; ++k)
        for (int r = 0; r < kBlockRows; ++r)
            weights_[at(k, kBlockRows) + r] = r < rows ? w_[at(first + r, components_) + k] : 0.0;
    // Rows past the end of V read as zeros; their lanes are computed and
    // never used.
    const double* rowsOfV[kBlockRows];
    const double* nextRows[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r) {
        rowsOfV[r] = r < rows ? v_[first + r] : zeroRow_.data();
        nextRows[r] = first + kBlockRows + r < frames_ ? v_[first + kBlockRows + r] : zeroRow_.data();
    }
    blockProducts(rowsOfV, nextRows, ht_.data(), bins_, components_, weights_.data(), products_.data(), den_.data(),
                  num_.data());

    for (int r = 0; r < rows; ++r) {
        // W[i][k] = (N × W) / (ε + D), the product rounded before the division.
        const double* wi = w_.data() + at(first + r, components_);
        double* next = nextW_.data() + at(first + r, components_);
        for (int k = 0; k < components_; ++k) {
            const std::size_t lane = at(k, kBlockRows) + r;
            next[k] = (num_[lane] * wi[k]) / (kNmfEpsilon + den_[lane]);
        }
        // Wᵀ·W of the new W, summed over rows in increasing order.
        for (int k = 0; k < components_; ++k)
            for (int l = 0; l < components_; ++l)
                gram_[at(k, components_) + l] += next[k] * next[l];
    }
    blockNumerator(v_[first], bins_, rows, nextW_.data() + at(first, components_), components_, bins_, stride_,
                   numeratorH_.data());
}

void FastNmf::finishH()
{
    // H[k][j] = (N × H) / (ε + (Wᵀ·W)·H), with (Wᵀ·W)·H summed over l from 0.0.
    const double* h = h_.data();
    double* next = nextH_.data();
    for (int k = 0; k < components_; ++k) {
        const double* g = gram_.data() + at(k, components_);
        double* out = next + at(k, bins_);
        for (int j = 0; j < bins_; ++j) {
            double d = 0.0;
            for (int l = 0; l < components_; ++l)
                d = d + g[l] * h[at(l, bins_) + j];
            out[j] = (numeratorH_[at(k, stride_) + j] * h[at(k, bins_) + j]) / (kNmfEpsilon + d);
        }
    }
}

void FastNmf::sweepOneThread(double& sum)
{
    for (int block = 0; block < blocks_; ++block)
        updateBlock(block);
    runningSum(0, frames_, sum);
}

void FastNmf::runningSum(int first, int end, double& sum) const
{
    for (int i = first; i < end; ++i)
        objectiveRow(v_[i], w_.data() + at(i, components_), hRows_.data(), components_, bins_, stride_, sum);
}

void FastNmf::updateAllBlocks()
{
    for (int block = 0; block < blocks_; ++block)
        updateBlock(block);
}

void FastNmf::sweepTwoThreads(double& sum)
{
    // The worker forms the new W and the sums for the new H while this thread
    // runs the objective's running sum. Neither needs anything from the
    // other until both are done.
    worker_->start();
    runningSum(0, frames_, sum);
    worker_->wait();
}

double FastNmf::step()
{
    for (int j = 0; j < bins_; ++j)
        for (int k = 0; k < components_; ++k)
            ht_[at(j, components_) + k] = h_[k][j];
    for (int k = 0; k < components_; ++k)
        std::copy(h_[k], h_[k] + bins_, hRows_.data() + at(k, stride_));
    std::fill(numeratorH_.begin(), numeratorH_.end(), 0.0);
    std::fill(gram_.begin(), gram_.end(), 0.0);

    double sum = 0.0;
    if (!worker_)
        sweepOneThread(sum);
    else
        sweepTwoThreads(sum);
    finishH();

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    std::swap(previousH_, h_);
    std::swap(h_, nextH_);
    return std::sqrt(sum);
}

}  // namespace tessavo
