#include "separation/OutputRows.h"

#include "core/Parallel.h"

#include <cmath>
#include <vector>

namespace tessavo {

OutputRows::OutputRows(const Matrix* v, const Matrix& w, const Matrix& h, const OutputPlan& plan)
    : v_(v), w_(&w), h_(&h), plan_(&plan)
{
}

OutputRows OutputRows::direct(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan)
{
    return OutputRows(&v, w, h, plan);
}

OutputRows OutputRows::soft(Matrix&& v, Matrix&& angle, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                            int threads)
{
    OutputRows model(nullptr, w, h, plan);
    const bool stereo = angle.size() > 0;
    const int bins = h.cols();
    parallelRows(w.rows(), threads, [&](int first, int end) {
        std::vector<double> total(static_cast<std::size_t>(bins)), m(total.size());
        for (int r = first; r < end; ++r) {
            // (Σ M^P) + ε over the outputs in order, then each channel's
            // magnitude (V split by the angle as splitLeft and splitRight
            // do) over it.
            for (int j = 0; j < bins; ++j)
                total[j] = 0.0;
            for (const std::vector<int>& group : plan.groups) {
                model.modelRow(group, r, m.data());
                model.powerRow(m.data());
                for (int j = 0; j < bins; ++j)
                    total[j] = total[j] + m[j];
            }
            double* vr = v[r];
            if (!stereo) {
                for (int j = 0; j < bins; ++j)
                    vr[j] = vr[j] / (total[j] + kMaskEpsilon);
                continue;
            }
            double* ar = angle[r];
            for (int j = 0; j < bins; ++j) {
                const double sum = total[j] + kMaskEpsilon;
                const double left = std::cos(ar[j]) * vr[j];
                const double right = std::sin(ar[j]) * vr[j];
                ar[j] = left / sum;
                vr[j] = right / sum;
            }
        }
    });
    if (stereo)
        model.shares_.push_back(std::move(angle));
    model.shares_.push_back(std::move(v));
    return model;
}

void OutputRows::modelRow(const std::vector<int>& group, int r, double* out) const
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

void OutputRows::powerRow(double* m) const
{
    const int bins = h_->cols();
    // The square in a loop of its own, so that it runs in vectors.
    if (plan_->power == 2.0) {
        for (int j = 0; j < bins; ++j)
            m[j] = m[j] * m[j];
        return;
    }
    for (int j = 0; j < bins; ++j)
        m[j] = maskPowerOf(m[j], plan_->power);
}

void OutputRows::residualRow(int r, double* out) const
{
    const Matrix& w = *w_;
    const Matrix& h = *h_;
    const int bins = h.cols();
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

void OutputRows::row(int output, int r, int channel, const double* split, double* out) const
{
    const int bins = h_->cols();
    switch (plan_->mode) {
    case MaskMode::soft: {
        const double* share = shares_[static_cast<std::size_t>(channel)][r];
        if (output == 0) {
            // (1 − Σ masks) × x_c, which is ε × x_c / ((Σ M^P) + ε).
            for (int j = 0; j < bins; ++j)
                out[j] = kMaskEpsilon * share[j];
            return;
        }
        modelRow(plan_->groups[static_cast<std::size_t>(output - 1)], r, out);
        powerRow(out);
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] * share[j];
        return;
    }
    case MaskMode::direct:
        if (output == 0)
            residualRow(r, out);
        else
            modelRow(plan_->groups[static_cast<std::size_t>(output - 1)], r, out);
        if (split)
            for (int j = 0; j < bins; ++j)
                out[j] = split[j] * out[j];
        return;
    }
}

}  // namespace tessavo
