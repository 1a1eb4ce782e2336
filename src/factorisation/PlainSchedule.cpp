#include "factorisation/PlainSchedule.h"

#include "factorisation/MultiplicativeUpdate.h"

#include <algorithm>

namespace tessavo {

PlainSchedule::PlainSchedule(const Matrix& v, StartFactors&& start, std::unique_ptr<PlainLoss> loss,
                             std::unique_ptr<Penalty> penalty)
    : v_(v),
      w_(std::move(start.w)),
      h_(std::move(start.h)),
      fixedRows_(std::clamp(start.fixedRows, 0, h_.rows())),
      loss_(std::move(loss)),
      penalty_(std::move(penalty)),
      measuredW_(w_.clone()),
      measuredH_(h_.clone())
{
}

double PlainSchedule::step()
{
    double objective = loss_->objective(v_, w_, h_);
    if (penalty_) {
        penalty_->beginPass(w_, h_);
        objective = loss_->withPenalty(objective, penalty_->objective(w_, h_));
    }
    measuredW_ = w_.clone();
    measuredH_ = h_.clone();
    updateW();
    updateH();
    return objective;
}

void PlainSchedule::updateW()
{
    UpdateTerms t = loss_->weightTerms(v_, w_, h_);
    if (penalty_)
        for (int i = 0; i < w_.rows(); ++i)
            for (int k = 0; k < w_.cols(); ++k)
                penalty_->weightTerms(w_, i, k, t.num[i][k], t.den[i][k]);
    addEpsilon(t.den);
    applyUpdate(w_, t.num, t.den);
}

void PlainSchedule::updateH()
{
    // Fixed rows never change: with every row fixed there is nothing to do.
    if (fixedRows_ == h_.rows())
        return;
    UpdateTerms t = loss_->spectraTerms(v_, w_, h_);
    if (penalty_)
        for (int k = fixedRows_; k < h_.rows(); ++k)
            for (int j = 0; j < h_.cols(); ++j)
                penalty_->spectraTerms(h_, k, j, t.num[k][j], t.den[k][j]);
    addEpsilon(t.den);
    const Matrix kept = fixedRows_ > 0 ? h_.clone() : Matrix();
    applyUpdate(h_, t.num, t.den);
    std::copy(kept.data(), kept.data() + static_cast<std::ptrdiff_t>(fixedRows_) * kept.cols(), h_.data());
}

}  // namespace tessavo
