#pragma once
// The pseudo-random stream that seeds a factorisation.
//
// A run owns one stream, started at state 1 and never reseeded, so the same
// input always gives the same factors; a later draw continues where the
// last one stopped. Each draw sets state = state * 214013 + 2531011
// (mod 2^32) and returns (state >> 16) & 0x7FFF, an integer in 0 ... 32767.
// From state 1 the first draws are 41, 18467, 6334, 26500.

#include <cstdint>

namespace tessavo {

class RandomStream {
public:
    explicit RandomStream(std::uint32_t state = 1) : state_(state) {}

    // Advances the stream by one step and returns the new value.
    int draw()
    {
        // Unsigned 32-bit arithmetic gives the mod 2^32 wrap-around.
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state_;
};

}  // namespace tessavo
