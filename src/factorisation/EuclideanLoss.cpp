#include "factorisation/EuclideanLoss.h"

#include "factorisation/ExactSum.h"
#include "factorisation/FastSchedule.h"
#include "factorisation/RowLayout.h"
#include "factorisation/ThreadTeam.h"

#include <algorithm>
#include <cmath>

namespace tessavo {

EuclideanLoss::EuclideanLoss(int frames, int bins, int components, const SweepKernels& kernels)
    : kernels_(kernels),
      zeroRow_(static_cast<std::size_t>(bins), 0.0),
      binades_(static_cast<std::size_t>(frames), 0),
      units_(static_cast<std::size_t>(frames), 0),
      plain_(static_cast<std::size_t>(frames), 1),
      gram_(at(components, components), 0.0)
{
}

double EuclideanLoss::memoryBytes(double frames, double bins, double components)
{
    // V·Hᵀ kept with H fixed, each row's binade, units and flag, Wᵀ·W.
    return ((frames + 8.0) * components + bins + 2.0 * frames + components * components) * 8.0;
}

void EuclideanLoss::beginPass(const PassFactors& f)
{
    if (f.fixedRows == f.components) {
        if (fixedNumerator_.empty())
            fixedNumerator_.assign(at(f.blocks, f.components) * kBlockRows, 0.0);
        return;
    }
    numerator_.assign(at(f.components, f.stride), 0.0);
    std::fill(gram_.begin(), gram_.end(), 0.0);
}

void EuclideanLoss::followBlock(const PassFactors& f, int thread, int threads, int block)
{
    const Matrix& w = *f.nextW;
    const int k = f.components;
    const int row = block * kBlockRows;
    const int rows = std::min(kBlockRows, f.frames - row);
    const auto [first, end] = columnShare(f.bins, thread, threads);  // of Wᵀ·V
    if (end > first)
        kernels_.blockNumerator((*f.v)[row] + first, f.bins, rows, w[row], k, end - first, f.stride,
                                numerator_.data() + first);
    // Its rows of Wᵀ·W.
    for (int r = row; r < row + rows; ++r) {
        const double* wr = w[r];
        for (int a = thread; a < k; a += threads) {
            double* g = gram_.data() + at(a, k);
            for (int b = 0; b < k; ++b)
                g[b] += wr[a] * wr[b];
        }
    }
}

void EuclideanLoss::blockTerms(const PassFactors& f, int block, BlockSpace& space)
{
    const Matrix& v = *f.v;
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, f.frames - first);
    // Rows past the end of V read as zeros; their lanes are computed and
    // never used.
    const double* rowsOfV[kBlockRows];
    const double* nextRows[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r) {
        rowsOfV[r] = r < rows ? v[first + r] : zeroRow_.data();
        nextRows[r] = first + kBlockRows + r < f.frames ? v[first + kBlockRows + r] : zeroRow_.data();
    }
    // The objective's terms of each row in units of the binade the sum met
    // at that row last pass.
    double scales[kBlockRows];
    std::uint64_t units[kBlockRows], flagged[kBlockRows];
    for (int r = 0; r < kBlockRows; ++r)
        scales[r] = r < rows ? unitScale(binades_[static_cast<std::size_t>(first + r)]) : HUGE_VAL;
    const double limit = unitLimit(f.bins);
    // With H all fixed, V·Hᵀ is the same in every pass: kept from the first.
    const bool hFixed = f.fixedRows == f.components;
    double* num = space.num.data();
    if (hFixed) {
        double* kept = fixedNumerator_.data() + at(block, f.components) * kBlockRows;
        if (f.pass > 0)
            std::copy(kept, kept + space.num.size(), num);
        kernels_.blockProducts(rowsOfV, nextRows, f.ht, f.bins, f.components, space.weights.data(),
                               space.scratch.data(), space.den.data(), f.pass > 0 ? num : kept, f.pass > 0, scales,
                               limit, units, flagged);
        if (f.pass == 0)
            std::copy(kept, kept + space.num.size(), num);
    } else {
        kernels_.blockProducts(rowsOfV, nextRows, f.ht, f.bins, f.components, space.weights.data(),
                               space.scratch.data(), space.den.data(), num, false, scales, limit, units, flagged);
    }
    for (int r = 0; r < rows; ++r) {
        units_[static_cast<std::size_t>(first + r)] = units[r];
        plain_[static_cast<std::size_t>(first + r)] = flagged[r] != 0;
    }
}

double EuclideanLoss::objective(const PassFactors& f)
{
    const Matrix& v = *f.v;
    double sum = 0.0;
    for (int i = 0; i < f.frames; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const int binade = sumBinade(sum);
        SumUnits row;
        row.units = units_[at];
        row.plain = plain_[at] != 0 || binade != binades_[at];
        if (!addUnits(sum, row))
            kernels_.objectiveRow(v[i], (*f.w)[i], f.hRows, f.components, f.bins, f.stride, sum);
        binades_[at] = binade;
    }
    return std::sqrt(sum);
}

void EuclideanLoss::beginH(const PassFactors&, ThreadTeam&) {}

void EuclideanLoss::columnTerms(const PassFactors& f, int first, int end, double* num, double* den)
{
    const Matrix& h = *f.h;
    const int k = f.components;
    for (int c = f.fixedRows; c < k; ++c)
        std::copy(numerator_.begin() + at(c, f.stride) + first, numerator_.begin() + at(c, f.stride) + end,
                  num + at(c, f.stride) + first);
    // (Wᵀ·W)·H, summed over l from 0.0, sixteen columns side by side.
    constexpr int kSide = 16;
    for (int c = f.fixedRows; c < k; ++c) {
        const double* g = gram_.data() + at(c, k);
        double* out = den + at(c, f.stride);
        int j = first;
        for (; j + kSide <= end; j += kSide) {
            double d[kSide] = {};
            for (int l = 0; l < k; ++l) {
                const double gl = g[l];
                const double* hl = h[l] + j;
                for (int s = 0; s < kSide; ++s)
                    d[s] = d[s] + gl * hl[s];
            }
            std::copy(d, d + kSide, out + j);
        }
        for (; j < end; ++j) {
            double d = 0.0;
            for (int l = 0; l < k; ++l)
                d = d + g[l] * h[l][j];
            out[j] = d;
        }
    }
}

std::unique_ptr<Factoriser> makeFastEuclidean(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows,
                                              int threads, const SweepKernels& kernels,
    std::unique_ptr<Penalty> penalty)
{
    return std::make_unique<FastSchedule>(v, w, h, fixedRows, threads,
                                          std::make_unique<EuclideanLoss>(v.rows(), v.cols(), w.cols(), kernels), std::move(penalty));
}

}  // namespace tessavo
