#include "factorisation/FastSchedule.h"

#include "factorisation/MultiplicativeUpdate.h"
#include "factorisation/RowLayout.h"
#include "factorisation/SweepKernels.h"

#include <algorithm>
#include <thread>

namespace tessavo {

namespace {

// Columns of the H half that one thread takes at a time.
constexpr int kRangeColumns = kScratchColumns;

}  // namespace

BlockSpace::BlockSpace(int components)
    : weights(at(components, kBlockRows), 0.0),
      num(weights.size(), 0.0),
      den(weights.size(), 0.0),
      scratch(2 * at(kScratchColumns, kBlockRows), 0.0)
{
}

FastSchedule::FastSchedule(const Matrix& v, const Matrix& w, const Matrix& h, int fixedRows, int threads,
                           std::unique_ptr<FastLoss> loss, std::unique_ptr<Penalty> penalty)
    : v_(v),
      frames_(v.rows()),
      bins_(v.cols()),
      components_(w.cols()),
      fixedRows_(std::clamp(fixedRows, 0, h.rows())),
      blocks_((v.rows() + kBlockRows - 1) / kBlockRows),
      stride_(rowStride(v.cols())),
      w_(w.clone()),
      previousW_(w.clone()),
      nextW_(w.rows(), w.cols()),
      h_(h.clone()),
      previousH_(h.clone()),
      nextH_(h.clone()),
      ht_(at(bins_, components_), 0.0),
      hRows_(at(components_, stride_), 0.0),
      num_(fixedRows_ < components_ ? at(components_, stride_) : 0, 0.0),
      den_(num_.size(), 0.0),
      loss_(std::move(loss)),
      penalty_(std::move(penalty)),
      team_(std::max(1, threads))
{
    spaces_.assign(static_cast<std::size_t>(team_.size()), BlockSpace(components_));
    formed_ = std::make_unique<std::atomic<long long>[]>(static_cast<std::size_t>(blocks_));
    for (int b = 0; b < blocks_; ++b)
        formed_[b].store(0, std::memory_order_relaxed);
    makeTables(0, fixedRows_);  // once: the fixed rows never change
    factors_.v = &v_;
    factors_.stride = stride_;
    factors_.frames = frames_;
    factors_.bins = bins_;
    factors_.components = components_;
    factors_.fixedRows = fixedRows_;
    factors_.blocks = blocks_;
    factors_.ht = ht_.data();
    factors_.hRows = hRows_.data();
}

double FastSchedule::memoryBytes(double frames, double bins, double components, int threads)
{
    // Three generations of W and H, Hᵀ, three padded K × B tables, and each
    // thread's block space.
    const double space = 4.0 * components * kBlockRows + 2.0 * kScratchColumns * kBlockRows;
    return (3.0 * frames * components + 7.0 * components * (bins + 16.0) + threads * space) * 8.0;
}

void FastSchedule::makeTables(int first, int end)
{
    for (int k = first; k < end; ++k) {
        const double* hk = h_[k];
        for (int j = 0; j < bins_; ++j)
            ht_[at(j, components_) + k] = hk[j];
        std::copy(hk, hk + bins_, hRows_.data() + at(k, stride_));
    }
}

void FastSchedule::weightBlock(int block, BlockSpace& space)
{
    const int first = block * kBlockRows;
    const int rows = std::min(kBlockRows, frames_ - first);
    for (int k = 0; k < components_; ++k)
        for (int r = 0; r < kBlockRows; ++r)
            space.weights[at(k, kBlockRows) + r] = r < rows ? w_[first + r][k] : 0.0;
    loss_->blockTerms(factors_, block, space);
    if (penalty_)
        for (int r = 0; r < rows; ++r)
            for (int k = 0; k < components_; ++k) {
                const std::size_t lane = at(k, kBlockRows) + r;
                penalty_->weightTerms(w_, first + r, k, space.num[lane], space.den[lane]);
            }
    // W[i][k] = (N × W) / (ε + D), the product rounded before the division.
    for (int r = 0; r < rows; ++r) {
        const double* wi = w_[first + r];
        double* next = nextW_[first + r];
        for (int k = 0; k < components_; ++k) {
            const std::size_t lane = at(k, kBlockRows) + r;
            next[k] = (space.num[lane] * wi[k]) / (kNmfEpsilon + space.den[lane]);
        }
    }
}

void FastSchedule::spectraRange(int first, int end)
{
    loss_->columnTerms(factors_, first, end, num_.data(), den_.data());
    if (penalty_)
        for (int k = fixedRows_; k < components_; ++k)
            for (int j = first; j < end; ++j)
                penalty_->spectraTerms(h_, k, j, num_[at(k, stride_) + j], den_[at(k, stride_) + j]);
    // H[k][j] = (N × H) / (ε + D) for the free rows.
    for (int k = fixedRows_; k < components_; ++k) {
        const double* n = num_.data() + at(k, stride_);
        const double* d = den_.data() + at(k, stride_);
        const double* hk = h_[k];
        double* next = nextH_[k];
        for (int j = first; j < end; ++j)
            next[j] = (n[j] * hk[j]) / (kNmfEpsilon + d[j]);
    }
}

void FastSchedule::weightHalf(int thread, bool follow)
{
    BlockSpace& space = spaces_[static_cast<std::size_t>(thread)];
    const long long pass = factors_.pass + 1;
    if (!follow) {
        for (int b = nextBlock_.fetch_add(1); b < blocks_; b = nextBlock_.fetch_add(1))
            weightBlock(b, space);
        return;
    }
    // Forms blocks as they come, and follows every formed block in order;
    // with none left to take, waits for the next one to be formed.
    int followed = 0;
    while (followed < blocks_) {
        if (formed_[followed].load(std::memory_order_acquire) == pass) {
            loss_->followBlock(factors_, thread, team_.size(), followed++);
            continue;
        }
        const int b = nextBlock_.fetch_add(1);
        if (b < blocks_) {
            weightBlock(b, space);
            formed_[b].store(pass, std::memory_order_release);
            continue;
        }
        for (int spins = 0; formed_[followed].load(std::memory_order_acquire) != pass; ++spins)
            if (spins > 1024)
                std::this_thread::yield();
    }
}

double FastSchedule::step()
{
    const bool freeRows = fixedRows_ < components_;
    makeTables(fixedRows_, components_);
    factors_.w = &w_;
    factors_.nextW = &nextW_;
    factors_.h = &h_;
    loss_->beginPass(factors_);
    if (penalty_)
        penalty_->beginPass(w_, h_);

    nextBlock_ = 0;
    const bool follow = freeRows && loss_->followsBlocks();
    team_.run([this, follow](int thread) { weightHalf(thread, follow); });
    double objective = loss_->objective(factors_);
    if (penalty_)
        objective = loss_->withPenalty(objective, penalty_->objective(w_, h_));

    if (freeRows) {
        loss_->beginH(factors_, team_);
        const int ranges = (bins_ + kRangeColumns - 1) / kRangeColumns;
        nextRange_ = 0;
        team_.run([this, ranges](int) {
            for (int r = nextRange_.fetch_add(1); r < ranges; r = nextRange_.fetch_add(1))
                spectraRange(r * kRangeColumns, std::min(bins_, (r + 1) * kRangeColumns));
        });
    }

    std::swap(previousW_, w_);
    std::swap(w_, nextW_);
    // With every row fixed, H and its tables stay the start's.
    if (freeRows) {
        std::swap(previousH_, h_);
        std::swap(h_, nextH_);
    }
    ++factors_.pass;
    return objective;
}

}  // namespace tessavo
