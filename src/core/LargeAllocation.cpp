#include "core/LargeAllocation.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace tessavo {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kLargeBlock = 4 * kHugePage;

}  // namespace

void* allocateLarge(std::size_t bytes)
{
    if (bytes < kLargeBlock) {
        void* p = std::malloc(bytes == 0 ? 1 : bytes);
        if (!p)
            throw std::bad_alloc();
        return p;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    if (rounded < bytes)
        throw std::bad_alloc();
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, rounded) != 0)
        throw std::bad_alloc();
    // Only advice: where huge pages are off or unsupported the block works
    // the same with ordinary pages.
    madvise(p, rounded, MADV_HUGEPAGE);
    return p;
}

}  // namespace tessavo
