#pragma once
// Index arithmetic the fast engines share: offsets of rows in flat arrays,
// and a row stride that keeps the rows of H apart in the first-level cache.

#include <cstddef>

namespace tessavo {

inline std::size_t at(int row, int stride)
{
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(stride);
}

// Whole cache lines, an odd number of them, at least bins doubles: the K
// padded rows of H fall in different sets of the first-level cache.
inline int rowStride(int bins)
{
    const int lines = (bins + 7) / 8;
    return (lines % 2 == 0 ? lines + 1 : lines) * 8;
}

}  // namespace tessavo
