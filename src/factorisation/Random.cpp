#include "factorisation/Random.h"

#include <cstdint>

namespace tessavo {

namespace {

// Unsigned 32-bit arithmetic gives the mod 2^32 wrap-around for free.
std::uint32_t randomState = 1;

}  // namespace

int drawRandom()
{
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & 0x7FFFu);
}

}  // namespace tessavo
