#pragma once
// Memory for the big arrays (spectrograms, sound buffers), released with
// std::free. Blocks of several megabytes are aligned to 2 MiB and offered to
// the kernel for huge pages: a 3-minute stereo run touches close to a
// gigabyte, and with 4 KiB pages the first touch of each page costs a fault,
// a quarter of a million of them, which took about a fifth of such a run.

#include <cstddef>

namespace tessavo {

// bytes of uninitialised memory; throws std::bad_alloc when there is none.
void* allocateLarge(std::size_t bytes);

}  // namespace tessavo
