#include "factorisation/FastNmf.h"

#include "factorisation/NmfFactoriser.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

// The vector helpers are always inlined, so no vector value crosses a call
// boundary and the note about the AVX calling convention does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

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
__attribute__((target_clones("avx2", "default")))
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

// den and num for four more vectors of components, from the stored product row.
__attribute__((target_clones("avx2", "default")))
void laterBlock(const double* vi, const double* ht, const double* product, int padded, int bins, int offset,
                double* den, double* num)
{
    Vec4 d[4], n[4];
    for (int b = 0; b < 4; ++b) {
        d[b] = splat(0.0);
        n[b] = splat(0.0);
    }
    const int blocks = std::min(4, (padded - offset) / kWidth);
    for (int j = 0; j < bins; ++j) {
        const double* row = ht + static_cast<std::ptrdiff_t>(j) * padded + offset;
        const Vec4 pj = splat(product[j]);
        const Vec4 vj = splat(vi[j]);
        for (int b = 0; b < blocks; ++b) {
            const Vec4 t = load(row + b * kWidth);
            d[b] = d[b] + pj * t;
            n[b] = n[b] + vj * t;
        }
    }
    for (int b = 0; b < blocks; ++b) {
        store(den + offset + b * kWidth, d[b]);
        store(num + offset + b * kWidth, n[b]);
    }
}

// acc[j] += weight · row[j] for j in [first, end): one term of Wᵀ·V.
__attribute__((target_clones("avx2", "default")))
void accumulate(double* acc, const double* row, double weight, int first, int end)
{
    for (int j = first; j < end; ++j)
        acc[j] = acc[j] + weight * row[j];
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
    productRow_.assign(static_cast<std::size_t>(bins_), 0.0);
    den_.assign(static_cast<std::size_t>(padded_), 0.0);
    num_.assign(static_cast<std::size_t>(padded_), 0.0);
}

Matrix FastNmf::unpad(const std::vector<double>& padded) const
{
    Matrix m(frames_, components_);
    for (int i = 0; i < frames_; ++i)
        for (int k = 0; k < components_; ++k)
            m[i][k] = padded[static_cast<std::size_t>(i) * padded_ + k];
    return m;
}

void FastNmf::rowPass(int i, double& sum)
{
    const double* vi = v_[i];
    const double* wi = w_.data() + static_cast<std::size_t>(i) * padded_;
    const double* h = h_.data();
    const double* ht = ht_.data();
    double* product = productRow_.data();
    double* den = den_.data();
    double* num = num_.data();
    const int blocks = padded_ / kWidth;
    switch (std::min(blocks, 4)) {
    case 0: firstBlock<0>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 1: firstBlock<1>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 2: firstBlock<2>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    case 3: firstBlock<3>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    default: firstBlock<4>(vi, wi, h, ht, product, components_, padded_, bins_, sum, den, num); break;
    }
    for (int offset = 4 * kWidth; offset < padded_; offset += 4 * kWidth)
        laterBlock(vi, ht, product, padded_, bins_, offset, den, num);

    // W[i][k] = (N × W) / (ε + D), the product rounded before the division.
    double* next = nextW_.data() + static_cast<std::size_t>(i) * padded_;
    for (int k = 0; k < components_; ++k)
        next[k] = (num[k] * wi[k]) / (kNmfEpsilon + den[k]);

    // Wᵀ·W of the new W, summed over rows in increasing order.
    for (int k = 0; k < components_; ++k)
        for (int l = 0; l < components_; ++l)
            gram_[static_cast<std::size_t>(k) * components_ + l] += next[k] * next[l];
}

void FastNmf::columnPass(int i, int firstColumn, int endColumn)
{
    const double* vi = v_[i];
    const double* next = nextW_.data() + static_cast<std::size_t>(i) * padded_;
    for (int k = 0; k < components_; ++k)
        accumulate(numeratorH_.data() + static_cast<std::size_t>(k) * bins_, vi, next[k], firstColumn, endColumn);
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

double FastNmf::step()
{
    for (int j = 0; j < bins_; ++j)
        for (int k = 0; k < components_; ++k)
            ht_[static_cast<std::size_t>(j) * padded_ + k] = h_[k][j];
    std::fill(numeratorH_.begin(), numeratorH_.end(), 0.0);
    std::fill(gram_.begin(), gram_.end(), 0.0);

    double sum = 0.0;
    const int helpers = std::min(threads_ - 1, std::max(0, bins_ / 64));
    if (helpers == 0 || components_ == 0) {
        for (int i = 0; i < frames_; ++i) {
            rowPass(i, sum);
            columnPass(i, 0, bins_);
        }
    } else {
        // This thread runs the rows in order; the helpers follow it, each
        // over its own columns of Wᵀ·V, as soon as a row's new W is ready.
        std::atomic<int> rowsDone{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < helpers; ++t) {
            const int first = bins_ / helpers * t / kWidth * kWidth;
            const int end = t + 1 == helpers ? bins_ : bins_ / helpers * (t + 1) / kWidth * kWidth;
            workers.emplace_back([this, &rowsDone, first, end] {
                for (int i = 0; i < frames_; ++i) {
                    for (int spins = 0; rowsDone.load(std::memory_order_acquire) <= i; ++spins)
                        if (spins > 64)
                            std::this_thread::yield();
                    columnPass(i, first, end);
                }
            });
        }
        for (int i = 0; i < frames_; ++i) {
            rowPass(i, sum);
            rowsDone.store(i + 1, std::memory_order_release);
        }
        for (std::thread& t : workers)
            t.join();
    }
    finishH();

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    std::swap(previousH_, h_);
    std::swap(h_, nextH_);
    return std::sqrt(sum);
}

}  // namespace tessavo
