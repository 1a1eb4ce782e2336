#include "spectral/OverlapAdd.h"

#include <algorithm>
#include <cstddef>

namespace tessavo {

OverlapAdd::OverlapAdd(int length, int hop, int total)
    : length_(length), hop_(hop), total_(total), pending_(static_cast<std::size_t>(length), 0.0f)
{
}

int OverlapAdd::add(const float* frame, float* out)
{
    float* p = pending_.data();
    for (int i = 0; i < length_; ++i)
        p[i] = p[i] + frame[i];
    return take(out, hop_);
}

int OverlapAdd::drain(float* out, int capacity)
{
    return take(out, capacity);
}

// Gives the next count samples (fewer at the signal's end) and moves the
// pending ones up by as many.
int OverlapAdd::take(float* out, int count)
{
    const int n = std::min(count, total_ - given_);
    if (n <= 0)
        return 0;
    const int held = std::min(n, length_);
    std::copy(pending_.begin(), pending_.begin() + held, out);
    std::fill(out + held, out + n, 0.0f);
    std::copy(pending_.begin() + held, pending_.end(), pending_.begin());
    std::fill(pending_.end() - held, pending_.end(), 0.0f);
    given_ += n;
    return n;
}

}  // namespace tessavo
