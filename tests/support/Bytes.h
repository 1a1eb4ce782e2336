#pragma once
// Files written by hand, byte by byte, where a real encoder would not write
// what a test needs (a lying header, a format only the reader knows), and
// how the tests find out whether a sanitizer runs.

#include "spectral/SampleBuffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessavo::test {

// Little-endian integers appended to s.
inline void put16(std::string& s, std::uint32_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

inline void put32(std::string& s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline void put64(std::string& s, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The program's channel buffers from interleaved samples.
inline std::vector<SampleBuffer> channelsOf(const std::vector<float>& interleaved, int channels)
{
    const int frames = static_cast<int>(interleaved.size()) / channels;
    std::vector<SampleBuffer> out;
    for (int c = 0; c < channels; ++c) {
        out.emplace_back(frames);
        for (int i = 0; i < frames; ++i)
            out.back()[i] = interleaved[static_cast<std::size_t>(i) * channels + c];
    }
    return out;
}

// The address and thread sanitizers reserve terabytes of address space at
// start-up: they cannot run under an address-space limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerShadow = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizerShadow = true;
#else
constexpr bool kSanitizerShadow = false;
#endif
#else
constexpr bool kSanitizerShadow = false;
#endif

}  // namespace tessavo::test
