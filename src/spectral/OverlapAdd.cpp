#include "spectral/OverlapAdd.h"

#include <algorithm>
#include <cstddef>

namespace tessavo {

OverlapAdd::OverlapAdd(int length, int hop, int total)
    : length_(length), hop_(hop), total_(total), pending_(static_cast<std::size_t>(length), 0.0f)
{
}

OverlapAdd::OverlapAdd(int length, int hop, int total, const float* window, int skip, bool covered)
    : length_(length),
      hop_(hop),
      total_(total),
      skip_(skip),
      normalised_(true),
      sums_(static_cast<std::size_t>(length), 0.0)
{
    for (int i = 0; i < length; ++i)
        squares_.push_back(static_cast<double>(window[i]) * static_cast<double>(window[i]));
    if (!covered) {
        weights_.assign(static_cast<std::size_t>(length), 0.0);
        return;
    }
    // The frames over a sample at place r after a frame start come in the
    // order of their starts: the earliest, at offset r + (length / hop - 1)
    // * hop into its window, first.
    for (int r = 0; r < hop; ++r) {
        double sum = 0.0;
        for (int offset = r + (length / hop - 1) * hop; offset >= 0; offset -= hop)
            sum = sum + squares_[static_cast<std::size_t>(offset)];
        period_.push_back(sum);
    }
}

int OverlapAdd::add(const float* frame, float* out)
{
    // The pending samples sit in a ring from head_: the frame's first
    // length - head_ samples go after it, the rest wrap to the front.
    const int tail = length_ - head_;
    if (normalised_) {
        const auto accumulate = [&](int to, int from, int count) {
            for (int i = 0; i < count; ++i)
                sums_[to + i] = sums_[to + i] + static_cast<double>(frame[from + i]);
            for (int i = 0; i < count && !weights_.empty(); ++i)
                weights_[to + i] = weights_[to + i] + squares_[from + i];
        };
        accumulate(head_, 0, tail);
        accumulate(0, tail, head_);
    } else {
        float* p = pending_.data();
        for (int i = 0; i < tail; ++i)
            p[head_ + i] = p[head_ + i] + frame[i];
        for (int i = 0; i < head_; ++i)
            p[i] = p[i] + frame[tail + i];
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

// Gives up the next count pending samples (at most length): zeroes them and
// moves the ring's head past them.
void OverlapAdd::drop(int count)
{
    count = std::min(count, length_);
    const int first = std::min(count, length_ - head_);
    const auto clear = [&](auto& ring, auto zero) {
        std::fill(ring.begin() + head_, ring.begin() + head_ + first, zero);
        std::fill(ring.begin(), ring.begin() + (count - first), zero);
    };
    if (normalised_) {
        clear(sums_, 0.0);
        if (!weights_.empty())
            clear(weights_, 0.0);
    } else {
        clear(pending_, 0.0f);
    }
    head_ = (head_ + count) % length_;
    place_ += count;
}

// Gives the next count samples (fewer at the signal's end) and moves the
// ring past them.
int OverlapAdd::take(float* out, int count)
{
    const int n = std::min(count, total_ - given_);
    if (n <= 0)
        return 0;
    const int held = std::min(n, length_);
    const int first = std::min(held, length_ - head_);
    int place = static_cast<int>(place_ % hop_);
    const auto give = [&](int from, int many, float* to) {
        if (!normalised_) {
            std::copy(pending_.begin() + from, pending_.begin() + from + many, to);
            return;
        }
        if (!weights_.empty()) {
            for (int i = 0; i < many; ++i) {
                const double weight = weights_[from + i];
                to[i] = weight > 0.0 ? static_cast<float>(sums_[from + i] / weight) : 0.0f;
            }
            return;
        }
        // Covered, a sample lies under 3 or more windows, which are never 0
        // together: no test for 0, and runs of places that vectorise.
        for (int i = 0; i < many;) {
            const int run = std::min(many - i, hop_ - place);
            const double* weight = period_.data() + place;
            const double* sum = sums_.data() + from + i;
            for (int j = 0; j < run; ++j)
                to[i + j] = static_cast<float>(sum[j] / weight[j]);
            i += run;
            place = place + run == hop_ ? 0 : place + run;
        }
    };
    give(head_, first, out);
    give(0, held - first, out + first);
    std::fill(out + held, out + n, 0.0f);
    drop(held);
    given_ += n;
    return n;
}

}  // namespace tessavo
