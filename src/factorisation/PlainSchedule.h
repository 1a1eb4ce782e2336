#pragma once
// The plain engine of every loss: one whole-matrix step after another, the
// reference the fast schedule (FastSchedule) is tested against.
//
// Each step returns the objective of the current factors (the loss's, plus
// the penalty's), then updates W and then H:
//     X <- (num × X) / (ε + den), element by element,
// the product rounded before the division, with the loss's terms and the
// penalty's added to them. The first fixedRows rows of H are never updated.
//
// V is only referred to, never copied or written: it must outlive the
// engine.

#include "factorisation/FactorStart.h"
#include "factorisation/Factoriser.h"
#include "factorisation/Penalty.h"
#include "factorisation/PlainLoss.h"
#include "core/Matrix.h"

#include <memory>

namespace tessavo {

class PlainSchedule : public Factoriser {
public:
    PlainSchedule(const Matrix& v, StartFactors&& start, std::unique_ptr<PlainLoss> loss,
                  std::unique_ptr<Penalty> penalty = nullptr);
    PlainSchedule(Matrix&& v, StartFactors&& start, std::unique_ptr<PlainLoss> loss,
                  std::unique_ptr<Penalty> penalty = nullptr) = delete;

    double step() override;
    Matrix measuredW() const override { return measuredW_.clone(); }
    Matrix measuredH() const override { return measuredH_.clone(); }

    // The two halves of a step, for callers that run them one at a time.
    void updateW();
    void updateH();

    const Matrix& v() const { return v_; }
    const Matrix& w() const { return w_; }
    const Matrix& h() const { return h_; }
    int components() const { return w_.cols(); }
    int fixedRows() const { return fixedRows_; }

private:
    const Matrix& v_;
    Matrix w_, h_;
    int fixedRows_;
    std::unique_ptr<PlainLoss> loss_;
    std::unique_ptr<Penalty> penalty_;
    Matrix measuredW_, measuredH_;
};

}  // namespace tessavo
