#include "factorisation/FastKl.h"

#include "factorisation/KlDivergence.h"
#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/Parallel.h"

#include <algorithm>

namespace tessavo {

FastKl::FastKl(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads)
    : v_(v),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      fixedRows_(std::clamp(fixedRows, 0, h.rows())),
      threads_(std::max(1, threads)),
      w_(w.clone()),
      previousW_(w.clone()),
      nextW_(w.rows(), w.cols()),
      h_(h.clone()),
      previousH_(h.clone()),
      nextH_(h.rows(), h.cols()),
      terms_(v.rows(), v.cols()),
      numeratorH_(h.rows(), h.cols()),
      sumH_(static_cast<std::size_t>(w.cols())),
      sumW_(static_cast<std::size_t>(w.cols()))
{
}

double FastKl::memoryBytes(double frames, double bins, double components, int threads)
{
    // Three generations of W and H, Wᵀ·Q, the terms, two rows per thread.
    return (3.0 * frames * components + 4.0 * components * bins + frames * bins + 2.0 * threads * bins) * 8.0;
}

void FastKl::newWeights(int first, int end)
{
    std::vector<double> wh(static_cast<std::size_t>(bins_)), q(wh.size());
    for (int i = first; i < end; ++i) {
        const double* wi = w_[i];
        std::fill(wh.begin(), wh.end(), 0.0);
        for (int k = 0; k < components_; ++k) {
            const double* hk = h_[k];
            for (int j = 0; j < bins_; ++j)
                wh[j] = wh[j] + wi[k] * hk[j];
        }
        const double* vi = v_[i];
        double* t = terms_[i];
        for (int j = 0; j < bins_; ++j) {
            t[j] = klTerm(vi[j], wh[j]);
            q[j] = vi[j] / (kNmfEpsilon + wh[j]);
        }
        double* next = nextW_[i];
        for (int k = 0; k < components_; ++k) {
            const double* hk = h_[k];
            double n = 0.0;
            for (int j = 0; j < bins_; ++j)
                n = n + q[j] * hk[j];
            next[k] = (n * wi[k]) / (kNmfEpsilon + sumH_[k]);
        }
    }
}

void FastKl::newSpectra(int first, int end)
{
    const int width = end - first;
    std::vector<double> wh(static_cast<std::size_t>(width)), q(wh.size());
    for (int k = fixedRows_; k < components_; ++k)
        std::fill(numeratorH_[k] + first, numeratorH_[k] + end, 0.0);
    for (int i = 0; i < frames_; ++i) {
        const double* wi = nextW_[i];
        std::fill(wh.begin(), wh.end(), 0.0);
        for (int k = 0; k < components_; ++k) {
            const double* hk = h_[k] + first;
            for (int j = 0; j < width; ++j)
                wh[j] = wh[j] + wi[k] * hk[j];
        }
        const double* vi = v_[i] + first;
        for (int j = 0; j < width; ++j)
            q[j] = vi[j] / (kNmfEpsilon + wh[j]);
        for (int k = fixedRows_; k < components_; ++k) {
            double* n = numeratorH_[k] + first;
            const double wk = wi[k];
            for (int j = 0; j < width; ++j)
                n[j] = n[j] + wk * q[j];
        }
    }
    for (int k = 0; k < components_; ++k) {
        const double* hk = h_[k];
        double* next = nextH_[k];
        if (k < fixedRows_) {
            std::copy(hk + first, hk + end, next + first);
            continue;
        }
        const double* n = numeratorH_[k];
        for (int j = first; j < end; ++j)
            next[j] = (n[j] * hk[j]) / (kNmfEpsilon + sumW_[k]);
    }
}

double FastKl::step()
{
    for (int k = 0; k < components_; ++k) {
        double s = 0.0;
        for (int j = 0; j < bins_; ++j)
            s = s + h_[k][j];
        sumH_[k] = s;
    }
    parallelRows(frames_, threads_, [this](int first, int end) { newWeights(first, end); });

    double divergence = 0.0;
    const double* t = terms_.data();
    for (int c = 0; c < terms_.size(); ++c)
        divergence = divergence + t[c];

    std::fill(sumW_.begin(), sumW_.end(), 0.0);
    for (int i = 0; i < frames_; ++i)
        for (int k = 0; k < components_; ++k)
            sumW_[k] = sumW_[k] + nextW_[i][k];
    parallelRows(bins_, threads_, [this](int first, int end) { newSpectra(first, end); });

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    std::swap(previousH_, h_);
    std::swap(h_, nextH_);
    return divergence;
}

}  // namespace tessavo
