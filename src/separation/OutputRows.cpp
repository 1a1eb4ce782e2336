#include "separation/OutputRows.h"

#include "factorisation/Parallel.h"

#include <vector>

namespace tessavo {

OutputRows::OutputRows(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan, int threads)
    : v_(v), w_(w), h_(h), plan_(plan)
{
    if (plan.mode != MaskMode::soft)
        return;
    const int bins = h.cols();
    reciprocal_ = Matrix(w.rows(), bins);
    parallelRows(w.rows(), threads, [&](int first, int end) {
        std::vector<double> m(static_cast<std::size_t>(bins));
        for (int r = first; r < end; ++r) {
            double* d = reciprocal_[r];
            for (int j = 0; j < bins; ++j)
                d[j] = 0.0;
            for (const std::vector<int>& group : plan.groups) {
                groupRow(group, r, m.data());
                powerRow(m.data(), bins);
                for (int j = 0; j < bins; ++j)
                    d[j] = d[j] + m[j];
            }
            for (int j = 0; j < bins; ++j)
                d[j] = 1.0 / (d[j] + kMaskEpsilon);
        }
    });
}

double OutputRows::memoryBytes(MaskMode mode, double frames, double bins)
{
    return mode == MaskMode::soft ? frames * bins * 8.0 : 0.0;
}

void OutputRows::groupRow(const std::vector<int>& group, int r, double* out) const
{
    const int bins = h_.cols();
    if (group.size() == 1) {
        const double weight = w_[r][group[0]];
        const double* hk = h_[group[0]];
        for (int j = 0; j < bins; ++j)
            out[j] = weight * hk[j];
        return;
    }
    for (int j = 0; j < bins; ++j)
        out[j] = 0.0;
    for (int k : group) {
        const double weight = w_[r][k];
        const double* hk = h_[k];
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] + weight * hk[j];
    }
}

void OutputRows::row(int output, int r, double* out, double* scratch) const
{
    const int bins = h_.cols();
    const double* v = output == 0 || allNeedV() ? v_[r] : nullptr;
    if (plan_.mode == MaskMode::direct) {
        if (output > 0) {
            groupRow(plan_.groups[static_cast<std::size_t>(output - 1)], r, out);
            return;
        }
        // (W·H)[r][j] summed over every component from 0.0 in increasing
        // order, then V − W·H.
        for (int j = 0; j < bins; ++j)
            out[j] = 0.0;
        for (int k = 0; k < w_.cols(); ++k) {
            const double wk = w_[r][k];
            const double* hk = h_[k];
            for (int j = 0; j < bins; ++j)
                out[j] = out[j] + wk * hk[j];
        }
        for (int j = 0; j < bins; ++j)
            out[j] = v[j] - out[j];
        return;
    }
    const double* recip = reciprocal_[r];
    if (output > 0) {
        groupRow(plan_.groups[static_cast<std::size_t>(output - 1)], r, scratch);
        powerRow(scratch, bins);
        for (int j = 0; j < bins; ++j)
            out[j] = (scratch[j] * recip[j]) * v[j];
        return;
    }
    // The residual's mask: 1 minus the outputs' masks summed in order.
    for (int j = 0; j < bins; ++j)
        out[j] = 0.0;
    for (const std::vector<int>& group : plan_.groups) {
        groupRow(group, r, scratch);
        powerRow(scratch, bins);
        for (int j = 0; j < bins; ++j)
            out[j] = out[j] + scratch[j] * recip[j];
    }
    for (int j = 0; j < bins; ++j)
        out[j] = (1.0 - out[j]) * v[j];
}

void OutputRows::powerRow(double* m, int bins) const
{
    // The square apart, so that its loop runs in vectors.
    if (plan_.power == 2.0) {
        for (int j = 0; j < bins; ++j)
            m[j] = m[j] * m[j];
        return;
    }
    for (int j = 0; j < bins; ++j)
        m[j] = maskPowerOf(m[j], plan_.power);
}

}  // namespace tessavo
