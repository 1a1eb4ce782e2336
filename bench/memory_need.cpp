// Prints what the program's memory check counts for a run, in MiB: for
// comparing with the peak a real run reaches (bench/memory-budget).
//
// Usage: tessavo_memory_need FRAMES CHANNELS FFTSIZE OVERLAP COMPONENTS THREADS
// (FFTSIZE is the option value; the transform is the power of two above it).

#include "separation/SeparationMemory.h"
#include "app/Settings.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: tessavo_memory_need FRAMES CHANNELS FFTSIZE OVERLAP COMPONENTS THREADS\n");
        return 2;
    }
    tessavo::RunShape shape;
    shape.frames = std::atoll(argv[1]);
    shape.channels = std::atoi(argv[2]);
    shape.fftLength = tessavo::transformSize(std::atoi(argv[3]));
    shape.overlap = std::atoi(argv[4]);
    shape.components = std::atoi(argv[5]);
    shape.threads = std::atoi(argv[6]);
    const tessavo::MemoryNeed need = tessavo::separationMemory(shape);
    std::printf("%.0f\n", need.total / (1 << 20));
    return 0;
}
