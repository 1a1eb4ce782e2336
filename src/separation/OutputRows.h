#pragma once
// The outputs' magnitudes one row at a time, for the fast resynthesis: the
// steps of Recombination's whole matrices (an output's model magnitude, its
// mask power, each channel's share under soft masks, the residual), each
// stated once here, giving the same numbers without forming any matrix.
//
// Direct reconstruction gives one magnitude per output; for stereo the
// caller passes the row's cos or sin of the stereo angle, which splits it
// into the channel's part (the resynthesis tabulates them once for every
// output). Soft masks give each channel's own magnitude: V and the stereo
// angle are taken over and turned, once and in place, into each channel's
// share x_c / ((Σ M^P) + ε), so that an output's row is M_o^P × share and no
// table beyond the input's own is made.

#include "core/Matrix.h"
#include "separation/OutputPlan.h"

#include <vector>

namespace tessavo {

class OutputRows {
public:
    // Direct reconstruction: refers to v (read for the residual, output 0,
    // only), w, h and plan, which must outlive it.
    static OutputRows direct(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan);
    // Soft masks: takes v and, for stereo, angle (empty for mono), and turns
    // them into the channels' shares, threads sharing the rows; refers to w,
    // h and plan, which must outlive it.
    static OutputRows soft(Matrix&& v, Matrix&& angle, const Matrix& w, const Matrix& h, const OutputPlan& plan,
                           int threads);

    // 1 + the plan's groups: the residual first.
    int count() const { return 1 + static_cast<int>(plan_->groups.size()); }
    MaskMode mode() const { return plan_->mode; }
    int bins() const { return h_->cols(); }

    // Row r of output o for channel c into out (bins values). split is, for
    // direct reconstruction of a stereo input, row r's cos (left) or sin
    // (right) of the stereo angle; null otherwise.
    void row(int output, int r, int channel, const double* split, double* out) const;

private:
    OutputRows(const Matrix* v, const Matrix& w, const Matrix& h, const OutputPlan& plan);

    // An output's model magnitude M: the group's W_k·H_k, summed from 0.0
    // in the group's order (one component's product alone).
    void modelRow(const std::vector<int>& group, int r, double* out) const;
    // M^P, cell by cell.
    void powerRow(double* m) const;
    // V − W·H, with W·H summed over every component from 0.0 in order.
    void residualRow(int r, double* out) const;

    const Matrix* v_;
    const Matrix* w_;
    const Matrix* h_;
    const OutputPlan* plan_;
    std::vector<Matrix> shares_;  // soft masks: one per channel
};

}  // namespace tessavo
