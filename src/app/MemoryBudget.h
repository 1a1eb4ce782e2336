#pragma once
// Whether a run fits in the memory it may hold: the least of the physical memory, the memory cgroup's limit and
// what the address-space limit leaves. A run that cannot fit is refused with
// a message instead of being killed part-way (by the kernel's OOM killer in a
// cgroup, which says nothing).

#include "separation/SeparationMemory.h"

#include <string>

namespace tessavo {

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
