#include "factorisation/ActivationPenalty.h"

#include <cmath>

namespace tessavo {

namespace {

// One cell's share of the level: each loss's own scaling with V.
double cellLevel(Loss loss, double v)
{
    switch (loss) {
    case Loss::euclidean:
        return v * v;
    case Loss::kl:
        return v;
    case Loss::is:  // scale invariant
        return 1.0;
    }
    return 1.0;
}

}  // namespace

double penaltyLevel(Loss loss, const Matrix& v)
{
    if (v.size() == 0)
        return 0.0;
    double sum = 0.0;
    for (int i = 0; i < v.rows(); ++i)
        for (int j = 0; j < v.cols(); ++j)
            sum = sum + cellLevel(loss, v[i][j]);
    return sum / (static_cast<double>(v.rows()) * static_cast<double>(v.cols()));
}

ActivationPenalty::ActivationPenalty(double continuity, double sparsity)
    : continuity_(continuity), sparsity_(sparsity)
{
}

std::vector<ActivationPenalty::Column> ActivationPenalty::columns(const Matrix& w)
{
    const int frames = w.rows();
    std::vector<Column> out(static_cast<std::size_t>(w.cols()));
    std::vector<double> s2(out.size(), 0.0);
    // Row after row, so each column's sums run over t in increasing order.
    for (int t = 0; t < frames; ++t)
        for (int k = 0; k < w.cols(); ++k) {
            const double x = w[t][k];
            Column& c = out[static_cast<std::size_t>(k)];
            c.s1 = c.s1 + x;
            s2[static_cast<std::size_t>(k)] = s2[static_cast<std::size_t>(k)] + x * x;
            if (t > 0) {
                const double step = x - w[t - 1][k];
                c.d = c.d + step * step;
            }
        }
    for (std::size_t k = 0; k < out.size(); ++k) {
        Column& c = out[k];
        c.variance = s2[k] / frames;
        c.deviation = std::sqrt(c.variance);
        // Past this, 1/σ² and the terms built on it stop being numbers.
        c.used = s2[k] > 0.0 && std::isfinite(2.0 / c.variance) && std::isfinite(c.d / c.variance / c.variance) &&
                 std::isfinite(c.s1 / c.deviation / c.variance);
    }
    return out;
}

void ActivationPenalty::beginPass(const Matrix& w, const Matrix&)
{
    columns_ = columns(w);
}

void ActivationPenalty::weightTerms(const Matrix& w, int i, int k, double& num, double& den) const
{
    const Column& c = columns_[static_cast<std::size_t>(k)];
    if (!c.used)
        return;
    const double x = w[i][k];
    const double frames = w.rows();
    if (continuity_ > 0.0) {
        // ∂c/∂w_t = (2/σ²)(n·w_t − Σ neighbours) − 2·w_t·D/(T·σ⁴), n neighbours.
        double neighbours = 0.0, count = 0.0;
        if (i > 0) {
            neighbours = neighbours + w[i - 1][k];
            count = count + 1.0;
        }
        if (i + 1 < w.rows()) {
            neighbours = neighbours + w[i + 1][k];
            count = count + 1.0;
        }
        const double near = 2.0 / c.variance;
        const double negative = near * neighbours + 2.0 * x * (c.d / c.variance) / (frames * c.variance);
        const double positive = near * count * x;
        num = num + continuity_ * negative;
        den = den + continuity_ * positive;
    }
    if (sparsity_ > 0.0) {
        // ∂c/∂w_t = 1/σ − w_t·S1/(T·σ³).
        const double negative = x * (c.s1 / c.deviation) / (frames * c.variance);
        const double positive = 1.0 / c.deviation;
        num = num + sparsity_ * negative;
        den = den + sparsity_ * positive;
    }
}

double ActivationPenalty::objective(const Matrix& w, const Matrix&) const
{
    double continuity = 0.0, sparseness = 0.0;
    for (const Column& c : columns(w))
        if (c.used) {
            continuity = continuity + c.d / c.variance;
            sparseness = sparseness + c.s1 / c.deviation;
        }
    return continuity_ * continuity + sparsity_ * sparseness;
}

std::unique_ptr<Penalty> makeActivationPenalty(Loss loss, const Matrix& v, const ActivationWeights& weights)
{
    if (weights.continuity == 0.0 && weights.sparsity == 0.0)
        return nullptr;
    const double level = penaltyLevel(loss, v);
    return std::make_unique<ActivationPenalty>(weights.continuity * level, weights.sparsity * level);
}

}  // namespace tessavo
