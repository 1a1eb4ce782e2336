#pragma once
// The outputs' magnitudes one row at a time, for the fast resynthesis: the
// same numbers as Recombination's whole matrices (outputMagnitude), without
// forming any of them. With soft masks the reciprocals 1 / ((Σ M^P) + ε)
// are tabulated once, a frames × bins table shared by every output, so
// that each output's mask is a product, not a division.

#include "factorisation/Matrix.h"
#include "separation/OutputPlan.h"

namespace tessavo {

class OutputRows {
public:
    // Refers to v, w, h and plan, which must outlive it. Direct
    // reconstruction reads v for the residual (output 0) only.
    OutputRows(const Matrix& v, const Matrix& w, const Matrix& h, const OutputPlan& plan, int threads);

    // 1 + the plan's groups: the residual first.
    int count() const { return 1 + static_cast<int>(plan_.groups.size()); }
    // Whether every output needs V, not only the residual.
    bool allNeedV() const { return plan_.mode == MaskMode::soft; }

    // Row r of output o into out (bins values); scratch holds bins values.
    void row(int output, int r, double* out, double* scratch) const;

    int bins() const { return h_.cols(); }

    // Bytes the table takes for soft masks (nothing for direct ones).
    static double memoryBytes(MaskMode mode, double frames, double bins);

private:
    void groupRow(const std::vector<int>& group, int r, double* out) const;
    void powerRow(double* m, int bins) const;  // m = M^P, cell by cell

    const Matrix& v_;
    const Matrix& w_;
    const Matrix& h_;
    const OutputPlan& plan_;
    Matrix reciprocal_;
};

}  // namespace tessavo
