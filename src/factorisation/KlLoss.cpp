#include "factorisation/KlLoss.h"

#include "factorisation/FastSchedule.h"
#include "factorisation/RowLayout.h"

#include <algorithm>

namespace tessavo {

KlLoss::KlLoss(int frames, int bins, int components, const KlKernels& kernels)
    : kernels_(kernels),
      zeroRow_(static_cast<std::size_t>(bins), 0.0),
      rowSums_(at((frames + kBlockRows - 1) / kBlockRows, kBlockRows), 0.0),
      sumH_(static_cast<std::size_t>(components), 0.0),
      sumW_(sumH_.size(), 0.0)
{
}

double KlLoss::memoryBytes(double frames, double bins, double components)
{
    return (frames + 8.0 + bins + 2.0 * components + components * (bins + 16.0)) * 8.0;
}

void KlLoss::beginPass(const PassFactors& f)
{
    // Σj of each row of H, in increasing j: the fixed rows once.
    const Matrix& h = *f.h;
    for (int k = fixedSummed_ ? f.fixedRows : 0; k < f.components; ++k) {
        double s = 0.0;
        for (int j = 0; j < f.bins; ++j)
            s = s + h[k][j];
        sumH_[k] = s;
    }
    fixedSummed_ = true;
    if (f.fixedRows < f.components)
        numerator_.assign(at(f.components, f.stride), 0.0);
}

void KlLoss::followBlock(const PassFactors& f, int thread, int threads, int block)
{
    const int row = block * kBlockRows;
    const int rows = std::min(kBlockRows, f.frames - row);
    const auto [first, end] = columnShare(f.bins, thread, threads);
    if (end > first)
        kernels_.columnSums((*f.v)[row], f.bins, rows, (*f.nextW)[row], f.components, f.fixedRows, f.hRows,
                            f.stride, first, end, numerator_.data());
}

void KlLoss::blockTerms(const PassFactors& f, int block, BlockSpace& space)
{
    const Matrix& v = *f.v;
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, f.frames - first);
    const double* rowsOfV[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r)
        rowsOfV[r] = r < rows ? v[first + r] : zeroRow_.data();
    kernels_.blockWeights(rowsOfV, f.ht, f.bins, f.components, space.weights.data(), space.scratch.data(),
                          space.num.data(), rowSums_.data() + at(block, kBlockRows));
    for (int k = 0; k < f.components; ++k)
        std::fill(space.den.begin() + at(k, kBlockRows), space.den.begin() + at(k + 1, kBlockRows), sumH_[k]);
}

double KlLoss::objective(const PassFactors& f)
{
    double sum = 0.0;
    for (int i = 0; i < f.frames; ++i)
        sum = sum + rowSums_[static_cast<std::size_t>(i)];
    return sum;
}

void KlLoss::beginH(const PassFactors& f, ThreadTeam&)
{
    // Σi of each free column of the new W, rows in increasing order.
    const Matrix& w = *f.nextW;
    for (int k = f.fixedRows; k < f.components; ++k)
        sumW_[k] = 0.0;
    for (int i = 0; i < f.frames; ++i) {
        const double* wi = w[i];
        for (int k = f.fixedRows; k < f.components; ++k)
            sumW_[k] = sumW_[k] + wi[k];
    }
}

void KlLoss::columnTerms(const PassFactors& f, int first, int end, double* num, double* den)
{
    for (int k = f.fixedRows; k < f.components; ++k) {
        const auto row = numerator_.begin() + at(k, f.stride);
        std::copy(row + first, row + end, num + at(k, f.stride) + first);
        std::fill(den + at(k, f.stride) + first, den + at(k, f.stride) + end, sumW_[k]);
    }
}

std::unique_ptr<Factoriser> makeFastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                                       const KlKernels& kernels,
    std::unique_ptr<Penalty> penalty)
{
    return std::make_unique<FastSchedule>(v, w, h, fixedRows, threads,
                                          std::make_unique<KlLoss>(v.rows(), v.cols(), w.cols(), kernels), std::move(penalty));
}

}  // namespace tessavo
