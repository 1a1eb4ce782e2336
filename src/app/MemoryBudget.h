#pragma once
// How much memory a run will hold at its peak, worked out from the input's
// header and the settings before anything big is allocated, and how much it
// may hold: the least of the physical memory, the memory cgroup's limit and
// what the address-space limit leaves. A run that cannot fit is refused with
// a message instead of being killed part-way (by the kernel's OOM killer in a
// cgroup, which says nothing).

#include <string>

namespace tessavo {

// What the run's size depends on.
struct RunShape {
    long long frames = 0;  // per channel
    int channels = 1;
    int fftLength = 0;     // transform length
    int overlap = 1;
    int components = 0;
    int threads = 1;
};

struct MemoryNeed {
    double withoutFactors = 0;  // bytes at the peak of a run with no components
    double total = 0;           // bytes at the peak of this run
};

// The peak of the run's largest allocations: input buffers, the spectrogram
// tables, the factors with their working copies, the outputs in flight and
// the transform objects of every thread.
MemoryNeed memoryNeed(const RunShape& shape);

// Bytes the run may still allocate.
double memoryAvailable();

// The limit of the innermost memory cgroup (v2 memory.max or v1
// memory.limit_in_bytes, the least along the path to the root) in bytes,
// or a negative value when there is none. mountinfo and cgroup are the
// texts of /proc/self/mountinfo and /proc/self/cgroup; readFile reads a file.
double cgroupMemoryLimit(const std::string& mountinfo, const std::string& cgroup,
                         std::string (*readFile)(const std::string& path));

// Throws RunError unless the run fits: "Not able to hold K components for F
// frames and B bins: too many components" when only the factors are too
// many, "Not enough memory for this input and these settings" otherwise.
void checkMemory(const RunShape& shape);

}  // namespace tessavo
