#include "spectral/OverlapAdd.h"

#include <algorithm>
#include <cstddef>

namespace tessavo {

OverlapAdd::OverlapAdd(int length, int hop, int total)
    : length_(length), hop_(hop), total_(total), pending_(static_cast<std::size_t>(length), 0.0f)
{
}

OverlapAdd::OverlapAdd(int length, int hop, int total, const float* window, int skip)
    : length_(length),
      hop_(hop),
      total_(total),
      skip_(skip),
      normalised_(true),
      sums_(static_cast<std::size_t>(length), 0.0),
      weights_(static_cast<std::size_t>(length), 0.0)
{
    for (int i = 0; i < length; ++i)
        squares_.push_back(static_cast<double>(window[i]) * static_cast<double>(window[i]));
}

int OverlapAdd::add(const float* frame, float* out)
{
    if (normalised_) {
        for (int i = 0; i < length_; ++i) {
            sums_[i] = sums_[i] + static_cast<double>(frame[i]);
            weights_[i] = weights_[i] + squares_[i];
        }
    } else {
        float* p = pending_.data();
        for (int i = 0; i < length_; ++i)
            p[i] = p[i] + frame[i];
    }
    // The frame completes the hop samples before the next frame's start;
    // those still in the skipped part are dropped.
    const int dropped = std::min(skip_, hop_);
    drop(dropped);
    skip_ -= dropped;
    return take(out, hop_ - dropped);
}

int OverlapAdd::drain(float* out, int capacity)
{
    while (skip_ > 0) {
        const int dropped = std::min(skip_, length_);
        drop(dropped);
        skip_ -= dropped;
    }
    return take(out, capacity);
}

// Moves the pending samples up by count.
void OverlapAdd::drop(int count)
{
    count = std::min(count, length_);
    const auto shift = [&](auto& pending) {
        std::copy(pending.begin() + count, pending.end(), pending.begin());
        std::fill(pending.end() - count, pending.end(), 0);
    };
    if (normalised_) {
        shift(sums_);
        shift(weights_);
    } else {
        shift(pending_);
    }
}

// Gives the next count samples (fewer at the signal's end) and moves the
// pending ones up by as many.
int OverlapAdd::take(float* out, int count)
{
    const int n = std::min(count, total_ - given_);
    if (n <= 0)
        return 0;
    const int held = std::min(n, length_);
    if (normalised_) {
        for (int i = 0; i < held; ++i)
            out[i] = weights_[i] > 0.0 ? static_cast<float>(sums_[i] / weights_[i]) : 0.0f;
    } else {
        std::copy(pending_.begin(), pending_.begin() + held, out);
    }
    std::fill(out + held, out + n, 0.0f);
    drop(held);
    given_ += n;
    return n;
}

}  // namespace tessavo
