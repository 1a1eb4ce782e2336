#include "separation/OutputRows.h"

#include "factorisation/Parallel.h"

#include <cmath>
#include <vector>

namespace tessavo {

OutputRows::OutputRows(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan)
    : v_(&v), w_(&w), h_(&h), plan_(&plan)
{
}

OutputRows::OutputRows(Matrix& v, Matrix& angle, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                       int threads)
    : v_(&v), w_(&w), h_(&h), plan_(&plan)
{
    const bool stereo = angle.size() > 0;
    const int bins = h.cols();
    parallelRows(w.rows(), threads, [&](int first, int end) {
        std::vector<double> d(static_cast<std::size_t>(bins)), m(d.size());
        for (int r = first; r < end; ++r) {
            // (Σ M^P) + ε over the outputs in order, then each channel's
            // magnitude (V split by the angle as splitLeft and splitRight
            // do) over it.
            for (int j = 0; j < bins; ++j)
                d[j] = 0.0;
            for (const std::vector<int>& group : plan.groups) {
                groupRow(group, r, m.data());
                powerRow(m.data(), bins);
                for (int j = 0; j < bins; ++j)
                    d[j] = d[j] + m[j];
            }
            double* vr = v[r];
            if (!stereo) {
                for (int j = 0; j < bins; ++j)
                    vr[j] = vr[j] / (d[j] + kMaskEpsilon);
                continue;
            }
            double* ar = angle[r];
            for (int j = 0; j < bins; ++j) {
                const double total = d[j] + kMaskEpsilon;
                const double left = std::cos(ar[j]) * vr[j];
                const double right = std::sin(ar[j]) * vr[j];
                ar[j] = left / total;
                vr[j] = right / total;
            }
        }
    });
    if (stereo)
        shares_ = {&angle, &v};
    else
        shares_ = {&v};
}

void OutputRows::groupRow(const std::vector<int>& group, int r, double* out) const
{
    const Matrix& w = *w_;
    const Matrix& h = *h_;
    const int bins = h.cols();
    if (group.size() == 1) {
        const double weight = w[r][group[0]];
        const double* hk = h[group[0]];
        for (int j = 0; j < bins; ++j)
            out[j] = weight * hk[j];
        return;
    }
    for (int j = 0; j < bins; ++j)
        out[j] = 0.0;
    for (int k : group) {
        const double weight = w[r][k];
        const double* hk = h[k];
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] + weight * hk[j];
    }
}

void OutputRows::powerRow(double* m, int bins) const
{
    // The square apart, so that its loop runs in vectors.
    if (plan_->power == 2.0) {
        for (int j = 0; j < bins; ++j)
            m[j] = m[j] * m[j];
        return;
    }
    for (int j = 0; j < bins; ++j)
        m[j] = maskPowerOf(m[j], plan_->power);
}

void OutputRows::row(int output, int r, int channel, double* out) const
{
    const int bins = h_->cols();
    if (perChannel()) {
        const double* share = (*shares_[static_cast<std::size_t>(channel)])[r];
        if (output == 0) {
            // (1 − Σ masks) × x_c, which is ε × x_c / ((Σ M^P) + ε).
            for (int j = 0; j < bins; ++j)
                out[j] = kMaskEpsilon * share[j];
            return;
        }
        const std::vector<int>& group = plan_->groups[static_cast<std::size_t>(output - 1)];
        if (group.size() == 1 && plan_->power == 2.0) {
            // One component, squared: the same three products in one loop.
            const double weight = (*w_)[r][group[0]];
            const double* hk = (*h_)[group[0]];
            for (int j = 0; j < bins; ++j) {
                const double m = weight * hk[j];
                out[j] = (m * m) * share[j];
            }
            return;
        }
        groupRow(group, r, out);
        powerRow(out, bins);
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] * share[j];
        return;
    }
    if (output > 0) {
        groupRow(plan_->groups[static_cast<std::size_t>(output - 1)], r, out);
        return;
    }
    // (W·H)[r][j] summed over every component from 0.0 in increasing
    // order, then V − W·H.
    const Matrix& w = *w_;
    const Matrix& h = *h_;
    for (int j = 0; j < bins; ++j)
        out[j] = 0.0;
    for (int k = 0; k < w.cols(); ++k) {
        const double wk = w[r][k];
        const double* hk = h[k];
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] + wk * hk[j];
    }
    const double* v = (*v_)[r];
    for (int j = 0; j < bins; ++j)
        out[j] = v[j] - out[j];
}

}  // namespace tessavo
