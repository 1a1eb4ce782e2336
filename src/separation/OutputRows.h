#pragma once
// The outputs' magnitudes one row at a time, for the fast resynthesis: the
// same numbers as Recombination's whole matrices, without forming any of
// them.
//
// Direct reconstruction gives one magnitude per output, which the
// resynthesis splits by the stereo angle. Soft masks give each channel's own
// magnitude: the input's V and stereo angle are turned, in place and once,
// into each channel's share x_c / ((Σ M^P) + ε), so that an output's row is
// M_o^P × share and no table beyond the input's own is made.

#include "factorisation/Matrix.h"
#include "separation/OutputPlan.h"

#include <vector>

namespace tessavo {

class OutputRows {
public:
    // Direct reconstruction: refers to v (read for the residual, output 0,
    // only), w, h and plan, which must outlive it.
    OutputRows(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan);
    // Soft masks: turns v and, for stereo, angle into the channels' shares
    // in place (channel 0's in angle for stereo, in v for mono; channel 1's
    // in v), with threads sharing the rows; refers to them, w, h and plan.
    OutputRows(Matrix& v, Matrix& angle, const Matrix& w, const Matrix& h, const OutputPlan& plan, int threads);

    // 1 + the plan's groups: the residual first.
    int count() const { return 1 + static_cast<int>(plan_->groups.size()); }
    // Whether a row is already a channel's own magnitude (soft masks), not
    // one to split by the stereo angle.
    bool perChannel() const { return !shares_.empty(); }

    // Row r of output o for channel c into out (bins values).
    void row(int output, int r, int channel, double* out) const;

    int bins() const { return h_->cols(); }

private:
    void groupRow(const std::vector<int>& group, int r, double* out) const;
    void powerRow(double* m, int bins) const;  // m = M^P, cell by cell

    const Matrix* v_;
    const Matrix* w_;
    const Matrix* h_;
    const OutputPlan* plan_;
    std::vector<const Matrix*> shares_;  // soft masks: one per channel
};

}  // namespace tessavo
