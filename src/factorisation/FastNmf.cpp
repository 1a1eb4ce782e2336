#include "factorisation/FastNmf.h"

#include "factorisation/NmfFactoriser.h"
#include "factorisation/VectorClones.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

namespace tessavo {

namespace {

// Four doubles, one IEEE operation per lane: the same bits as four scalar
// operations, whatever instructions the compiler picks for them.
typedef double Vec4 __attribute__((vector_size(32)));
constexpr int kWidth = 4;

__attribute__((always_inline)) inline Vec4 load(const double* p)
{
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store(double* p, Vec4 v)
{
    std::memcpy(p, &v, sizeof v);
}

__attribute__((always_inline)) inline Vec4 splat(double x)
{
    return Vec4{x, x, x, x};
}

// For one row i of V and the old W, in one pass over the columns:
// - product[j] = (W·H)[i][j], summed over k from 0.0;
// - sum continues the objective's running sum with (V − W·H)[i][j]²;
// - den[k] += product[j]·Hᵀ[j][k] and num[k] += V[i][j]·Hᵀ[j][k], in
//   increasing j, for the first kBlocks·4 components.
// The three chains are independent, so the core overlaps their latencies.
template <int kBlocks>
TESSAVO_CLONES
void firstBlock(const double* vi, const double* wi, const double* h, const double* ht, double* product,
                int components, int padded, int bins, double& sum, double* den, double* num)
{
    Vec4 d[kBlocks > 0 ? kBlocks : 1], n[kBlocks > 0 ? kBlocks : 1];
    for (int b = 0; b < kBlocks; ++b) {
        d[b] = splat(0.0);
        n[b] = splat(0.0);
    }
    double s = sum;
    int j = 0;
    for (; j + kWidth <= bins; j += kWidth) {
        Vec4 p = splat(0.0);
        for (int k = 0; k < components; ++k)
            p = p + splat(wi[k]) * load(h + static_cast<std::ptrdiff_t>(k) * bins + j);
        store(product + j, p);
        const Vec4 v = load(vi + j);
        const Vec4 diff = v - p;
        const Vec4 sq = diff * diff;
        s = s + sq[0];
        s = s + sq[1];
        s = s + sq[2];
        s = s + sq[3];
        for (int q = 0; q < kWidth; ++q) {
            const double* row = ht + static_cast<std::ptrdiff_t>(j + q) * padded;
            const Vec4 pq = splat(p[q]);
            const Vec4 vq = splat(v[q]);
            for (int b = 0; b < kBlocks; ++b) {
                const Vec4 t = load(row + b * kWidth);
                d[b] = d[b] + pq * t;
                n[b] = n[b] + vq * t;
            }
        }
    }
    for (; j < bins; ++j) {
        double p = 0.0;
        for (int k = 0; k < components; ++k)
            p = p + wi[k] * h[static_cast<std::ptrdiff_t>(k) * bins + j];
        product[j] = p;
        const double diff = vi[j] - p;
        s = s + diff * diff;
        const double* row = ht + static_cast<std::ptrdiff_t>(j) * padded;
        for (int b = 0; b < kBlocks; ++b) {
            const Vec4 t = load(row + b * kWidth);
            d[b] = d[b] + splat(p) * t;
            n[b] = n[b] + splat(vi[j]) * t;
        }
    }
    sum = s;
    for (int b = 0; b < kBlocks; ++b) {
        store(den + b * kWidth, d[b]);
        store(num + b * kWidth, n[b]);
    }
}

// den[k] = Σ product[j]·Hᵀ[j][k] and num[k] = Σ V[i][j]·Hᵀ[j][k] over j in
// increasing order, for up to four vectors of components from offset.
template <int kBlocks>
TESSAVO_CLONES
void updateBlock(const double* vi, const double* product, const double* ht, int padded, int bins, int offset,
                 double* den, double* num)
{
    Vec4 d[kBlocks], n[kBlocks];
    for (int b = 0; b < kBlocks; ++b) {
        d[b] = splat(0.0);
        n[b] = splat(0.0);
    }
    for (int j = 0; j < bins; ++j) {
        const double* row = ht + static_cast<std::ptrdiff_t>(j) * padded + offset;
        const Vec4 pj = splat(product[j]);
        const Vec4 vj = splat(vi[j]);
        for (int b = 0; b < kBlocks; ++b) {
            const Vec4 t = load(row + b * kWidth);
            d[b] = d[b] + pj * t;
            n[b] = n[b] + vj * t;
        }
    }
    for (int b = 0; b < kBlocks; ++b) {
        store(den + offset + b * kWidth, d[b]);
        store(num + offset + b * kWidth, n[b]);
    }
}

void updateBlocks(const double* vi, const double* product, const double* ht, int padded, int bins, int offset,
                  double* den, double* num)
{
    for (; offset < padded; offset += 4 * kWidth) {
        switch (std::min(4, (padded - offset) / kWidth)) {
        case 1: updateBlock<1>(vi, product, ht, padded, bins, offset, den, num); break;
        case 2: updateBlock<2>(vi, product, ht, padded, bins, offset, den, num); break;
        case 3: updateBlock<3>(vi, product, ht, padded, bins, offset, den, num); break;
        default: updateBlock<4>(vi, product, ht, padded, bins, offset, den, num); break;
        }
    }
}

// product[j] = (W·H)[i][j], summed over k from 0.0. Blocks of 32 columns
// keep eight independent sums in registers while k runs, so each weight is
// broadcast once per block and the additions of neighbouring columns overlap.
TESSAVO_CLONES
void productRow(const double* wi, const double* h, int components, int bins, double* product)
{
    constexpr int kVectors = 8;
    int j = 0;
    for (; j + kVectors * kWidth <= bins; j += kVectors * kWidth) {
        Vec4 p[kVectors];
        for (int q = 0; q < kVectors; ++q)
            p[q] = splat(0.0);
        for (int k = 0; k < components; ++k) {
            const Vec4 wk = splat(wi[k]);
            const double* hk = h + static_cast<std::ptrdiff_t>(k) * bins + j;
            for (int q = 0; q < kVectors; ++q)
                p[q] = p[q] + wk * load(hk + q * kWidth);
        }
        for (int q = 0; q < kVectors; ++q)
            store(product + j + q * kWidth, p[q]);
    }
    for (; j < bins; ++j) {
        double p = 0.0;
        for (int k = 0; k < components; ++k)
            p = p + wi[k] * h[static_cast<std::ptrdiff_t>(k) * bins + j];
        product[j] = p;
    }
}

// The objective's running sum over one row: (V − W·H)[i][j]² in increasing j.
TESSAVO_CLONES
void chainRow(const double* vi, const double* product, int bins, double& sum)
{
    double s = sum;
    int j = 0;
    for (; j + kWidth <= bins; j += kWidth) {
        const Vec4 diff = load(vi + j) - load(product + j);
        const Vec4 sq = diff * diff;
        s = s + sq[0];
        s = s + sq[1];
        s = s + sq[2];
        s = s + sq[3];
    }
    for (; j < bins; ++j) {
        const double diff = vi[j] - product[j];
        s = s + diff * diff;
    }
    sum = s;
}

// updateBlock for two rows at once: twice the independent chains per pass
// over Hᵀ, which the core overlaps.
template <int kBlocks>
TESSAVO_CLONES
void updateBlockPair(const double* v0, const double* v1, const double* p0, const double* p1, const double* ht,
                     int padded, int bins, int offset, double* den0, double* num0, double* den1, double* num1)
{
    Vec4 d0[kBlocks], n0[kBlocks], d1[kBlocks], n1[kBlocks];
    for (int b = 0; b < kBlocks; ++b) {
        d0[b] = splat(0.0);
        n0[b] = splat(0.0);
        d1[b] = splat(0.0);
        n1[b] = splat(0.0);
    }
    for (int j = 0; j < bins; ++j) {
        const double* row = ht + static_cast<std::ptrdiff_t>(j) * padded + offset;
        const Vec4 pj0 = splat(p0[j]), vj0 = splat(v0[j]);
        const Vec4 pj1 = splat(p1[j]), vj1 = splat(v1[j]);
        for (int b = 0; b < kBlocks; ++b) {
            const Vec4 t = load(row + b * kWidth);
            d0[b] = d0[b] + pj0 * t;
            n0[b] = n0[b] + vj0 * t;
            d1[b] = d1[b] + pj1 * t;
            n1[b] = n1[b] + vj1 * t;
        }
    }
    for (int b = 0; b < kBlocks; ++b) {
        store(den0 + offset + b * kWidth, d0[b]);
        store(num0 + offset + b * kWidth, n0[b]);
        store(den1 + offset + b * kWidth, d1[b]);
        store(num1 + offset + b * kWidth, n1[b]);
    }
}

void updateBlocksPair(const double* v0, const double* v1, const double* p0, const double* p1, const double* ht,
                      int padded, int bins, double* den0, double* num0, double* den1, double* num1)
{
    for (int offset = 0; offset < padded; offset += 2 * kWidth) {
        if (padded - offset >= 2 * kWidth)
            updateBlockPair<2>(v0, v1, p0, p1, ht, padded, bins, offset, den0, num0, den1, num1);
        else
            updateBlockPair<1>(v0, v1, p0, p1, ht, padded, bins, offset, den0, num0, den1, num1);
    }
}

// acc[j] += weight · row[j] for j in [first, end): one term of Wᵀ·V.
TESSAVO_CLONES
void accumulate(double* acc, const double* row, double weight, int first, int end)
{
    for (int j = first; j < end; ++j)
        acc[j] = acc[j] + weight * row[j];
}

// Four consecutive rows' terms at once, added in row order as four single
// accumulations would add them, with one load and store of acc for four.
TESSAVO_CLONES
void accumulate4(double* acc, const double* const rows[4], const double weights[4], int first, int end)
{
    const double *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    const double w0 = weights[0], w1 = weights[1], w2 = weights[2], w3 = weights[3];
    for (int j = first; j < end; ++j) {
        double a = acc[j];
        a = a + w0 * r0[j];
        a = a + w1 * r1[j];
        a = a + w2 * r2[j];
        a = a + w3 * r3[j];
        acc[j] = a;
    }
}

// Spins briefly, then yields, until counter reaches at least target.
void waitFor(const std::atomic<int>& counter, int target)
{
    for (int spins = 0; counter.load(std::memory_order_acquire) < target; ++spins)
        if (spins > 256)
            std::this_thread::yield();
}

}  // namespace

FastNmf::FastNmf(const Matrix& v, const Matrix& w, const Matrix& h, int threads)
    : v_(v),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      padded_((w.cols() + kWidth - 1) / kWidth * kWidth),
      threads_(std::max(1, threads)),
      h_(h.rows(), h.cols()),
      previousH_(h.rows(), h.cols())
{
    const std::size_t paddedW = static_cast<std::size_t>(frames_) * padded_;
    w_.assign(paddedW, 0.0);
    previousW_.assign(paddedW, 0.0);
    nextW_.assign(paddedW, 0.0);
    for (int i = 0; i < frames_; ++i)
        for (int k = 0; k < components_; ++k)
            w_[static_cast<std::size_t>(i) * padded_ + k] = w[i][k];
    std::copy(h.data(), h.data() + h.size(), h_.data());
    std::copy(h.data(), h.data() + h.size(), previousH_.data());
    nextH_ = Matrix(h.rows(), h.cols());
    ht_.assign(static_cast<std::size_t>(bins_) * padded_, 0.0);
    numeratorH_.assign(static_cast<std::size_t>(components_) * bins_, 0.0);
    gram_.assign(static_cast<std::size_t>(components_) * components_, 0.0);
    // Rows of W·H: one for a single thread, two for the update thread and
    // one for the objective thread otherwise.
    ring_.assign(static_cast<std::size_t>(threads_ == 1 ? 1 : 3) * bins_, 0.0);
    den_.assign(static_cast<std::size_t>(2 * padded_), 0.0);
    num_.assign(static_cast<std::size_t>(2 * padded_), 0.0);
}

Matrix FastNmf::unpad(const std::vector<double>& padded) const
{
    Matrix m(frames_, components_);
    for (int i = 0; i < frames_; ++i)
        for (int k = 0; k < components_; ++k)
            m[i][k] = padded[static_cast<std::size_t>(i) * padded_ + k];
    return m;
}

void FastNmf::fusedRow(int i, double& sum)
{
    const double* vi = v_[i];
    const double* wi = w_.data() + static_cast<std::size_t>(i) * padded_;
    const double* h = h_.data();
    const double* ht = ht_.data();
    double* product = ring_.data();
    double* den = den_.data();
    double* num = num_.data();
    switch (std::min(padded_ / kWidth, 4)) {
    case 0: firstBlock<0>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 1: firstBlock<1>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 2: firstBlock<2>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 3: firstBlock<3>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    default: firstBlock<4>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    }
    updateBlocks(vi, product, ht, padded_, bins_, 4 * kWidth, den, num);
    finishRow(i, den, num);
}

void FastNmf::updateRow(int i, const double* product)
{
    updateBlocks(v_[i], product, ht_.data(), padded_, bins_, 0, den_.data(), num_.data());
    finishRow(i, den_.data(), num_.data());
}

void FastNmf::finishRow(int i, const double* den, const double* num)
{
    // W[i][k] = (N × W) / (ε + D), the product rounded before the division.
    const double* wi = w_.data() + static_cast<std::size_t>(i) * padded_;
    double* next = nextW_.data() + static_cast<std::size_t>(i) * padded_;
    for (int k = 0; k < components_; ++k)
        next[k] = (num[k] * wi[k]) / (kNmfEpsilon + den[k]);

    // Wᵀ·W of the new W, summed over rows in increasing order.
    for (int k = 0; k < components_; ++k)
        for (int l = 0; l < components_; ++l)
            gram_[static_cast<std::size_t>(k) * components_ + l] += next[k] * next[l];
}

void FastNmf::columnPass(int firstRow, int endRow, int firstColumn, int endColumn)
{
    // Wᵀ·V gains the rows' terms in increasing row order, four at a time.
    int i = firstRow;
    for (; i + 4 <= endRow; i += 4) {
        const double* rows[4] = {v_[i], v_[i + 1], v_[i + 2], v_[i + 3]};
        for (int k = 0; k < components_; ++k) {
            double weights[4];
            for (int r = 0; r < 4; ++r)
                weights[r] = nextW_[static_cast<std::size_t>(i + r) * padded_ + k];
            accumulate4(numeratorH_.data() + static_cast<std::size_t>(k) * bins_, rows, weights, firstColumn,
                        endColumn);
        }
    }
    for (; i < endRow; ++i)
        for (int k = 0; k < components_; ++k)
            accumulate(numeratorH_.data() + static_cast<std::size_t>(k) * bins_, v_[i],
                       nextW_[static_cast<std::size_t>(i) * padded_ + k], firstColumn, endColumn);
}

void FastNmf::finishH()
{
    // H[k][j] = (N × H) / (ε + (Wᵀ·W)·H), with (Wᵀ·W)·H summed over l from 0.0.
    const double* h = h_.data();
    double* next = nextH_.data();
    for (int k = 0; k < components_; ++k) {
        const double* g = gram_.data() + static_cast<std::size_t>(k) * components_;
        const double* numerator = numeratorH_.data() + static_cast<std::size_t>(k) * bins_;
        double* out = next + static_cast<std::size_t>(k) * bins_;
        for (int j = 0; j < bins_; ++j) {
            double d = 0.0;
            for (int l = 0; l < components_; ++l)
                d = d + g[l] * h[static_cast<std::size_t>(l) * bins_ + j];
            out[j] = (numerator[j] * h[static_cast<std::size_t>(k) * bins_ + j]) / (kNmfEpsilon + d);
        }
    }
}

void FastNmf::sweepOneThread(double& sum)
{
    for (int i = 0; i < frames_; ++i) {
        fusedRow(i, sum);
        if (i % 4 == 3)
            columnPass(i - 3, i + 1, 0, bins_);
    }
    columnPass(frames_ / 4 * 4, frames_, 0, bins_);
}

void FastNmf::sweepThreads(double& sum)
{
    // Each thread forms the rows of W·H it needs in its own buffers: shared
    // rows would travel between the cores' caches. The update thread forms
    // the new W two rows at a time; this thread runs the objective's running
    // sum, in order. Both add Wᵀ·V's terms for finished rows, each over its
    // own half of the columns, in row order.
    std::atomic<int> updated{0};
    const int split = bins_ / 2 / kWidth * kWidth;
    double* const updateRows = ring_.data();
    double* const objectiveRow = ring_.data() + 2 * static_cast<std::size_t>(bins_);

    std::thread worker([&] {
        double* p0 = updateRows;
        double* p1 = updateRows + bins_;
        int accumulated = 0;
        for (int i = 0; i < frames_; i += 2) {
            const int rows = std::min(2, frames_ - i);
            productRow(w_.data() + static_cast<std::size_t>(i) * padded_, h_.data(), components_, bins_, p0);
            if (rows == 2) {
                productRow(w_.data() + static_cast<std::size_t>(i + 1) * padded_, h_.data(), components_, bins_, p1);
                updateBlocksPair(v_[i], v_[i + 1], p0, p1, ht_.data(), padded_, bins_, den_.data(), num_.data(),
                                 den_.data() + padded_, num_.data() + padded_);
                finishRow(i, den_.data(), num_.data());
                finishRow(i + 1, den_.data() + padded_, num_.data() + padded_);
            } else {
                updateRow(i, p0);
            }
            updated.store(i + rows, std::memory_order_release);
            for (; accumulated + 4 <= i + rows; accumulated += 4)
                columnPass(accumulated, accumulated + 4, 0, split);
        }
        columnPass(accumulated, frames_, 0, split);
    });

    int accumulated = 0;
    for (int i = 0; i < frames_; ++i) {
        productRow(w_.data() + static_cast<std::size_t>(i) * padded_, h_.data(), components_, bins_, objectiveRow);
        chainRow(v_[i], objectiveRow, bins_, sum);
        if (updated.load(std::memory_order_acquire) >= accumulated + 4) {
            columnPass(accumulated, accumulated + 4, split, bins_);
            accumulated += 4;
        }
    }
    waitFor(updated, frames_);
    for (; accumulated + 4 <= frames_; accumulated += 4)
        columnPass(accumulated, accumulated + 4, split, bins_);
    columnPass(accumulated, frames_, split, bins_);
    worker.join();
}

double FastNmf::step()
{
    for (int j = 0; j < bins_; ++j)
        for (int k = 0; k < components_; ++k)
            ht_[static_cast<std::size_t>(j) * padded_ + k] = h_[k][j];
    std::fill(numeratorH_.begin(), numeratorH_.end(), 0.0);
    std::fill(gram_.begin(), gram_.end(), 0.0);

    double sum = 0.0;
    if (threads_ == 1 || components_ == 0)
        sweepOneThread(sum);
    else
        sweepThreads(sum);
    finishH();

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    std::swap(previousH_, h_);
    std::swap(h_, nextH_);
    return std::sqrt(sum);
}

}  // namespace tessavo
