#include "spectral/SampleBuffer.h"

#include "core/LargeAllocation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <stdexcept>

namespace tessavo {

SampleBuffer::SampleBuffer(int length) : length_(length)
{
    if (length < 0)
        throw std::length_error("sample buffer length must not be negative");
    if (length > 0) {
        const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(float);
        samples_.reset(static_cast<float*>(allocateLarge(bytes)));
        std::memset(samples_.get(), 0, bytes);
    }
}

void SampleBuffer::clear()
{
    if (length_ > 0)
        std::memset(samples_.get(), 0, static_cast<std::size_t>(length_) * sizeof(float));
}

void SampleBuffer::resize(int length)
{
    if (length == length_)
        return;
    SampleBuffer grown(length);
    if (const int keep = std::min(length, length_); keep > 0)
        std::memcpy(grown.data(), data(), static_cast<std::size_t>(keep) * sizeof(float));
    *this = std::move(grown);
}

void SampleBuffer::Free::operator()(float* p) const
{
    std::free(p);
}

void SampleBuffer::addInto(SampleBuffer& target, int pos, int count) const
{
    if (pos < 0 || pos >= target.length_)
        return;
    const int n = std::min(count, target.length_ - pos);
    float* out = target.data() + pos;
    const float* in = data();
    for (int i = 0; i < n; ++i)
        out[i] = out[i] + in[i];
}

}  // namespace tessavo
