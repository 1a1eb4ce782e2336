#pragma once
// One channel of 32-bit float samples (or, for the sound library's read and
// write calls only, an interleaved pair, left first). A new buffer is all 0.0.

#include <memory>

namespace tessavo {

class SampleBuffer {
public:
    SampleBuffer() = default;
    // length zero-filled samples. Throws std::length_error for a negative length.
    explicit SampleBuffer(int length);

    SampleBuffer(SampleBuffer&&) noexcept = default;
    SampleBuffer& operator=(SampleBuffer&&) noexcept = default;
    SampleBuffer(const SampleBuffer&) = delete;
    SampleBuffer& operator=(const SampleBuffer&) = delete;

    int length() const { return length_; }
    float* data() { return samples_.get(); }
    const float* data() const { return samples_.get(); }
    float& operator[](int i) { return samples_[static_cast<std::size_t>(i)]; }
    float operator[](int i) const { return samples_[static_cast<std::size_t>(i)]; }

    // Sets every sample to 0.0.
    void clear();

    // Changes the length, keeping the samples that fit; new ones are 0.0.
    void resize(int length);

    // Adds samples 0 .. count-1 of this buffer to target[pos .. pos+count-1];
    // samples that would land past the end of target are dropped.
    void addInto(SampleBuffer& target, int pos, int count) const;

private:
    struct Free {
        void operator()(float* p) const;
    };
    std::unique_ptr<float[], Free> samples_;
    int length_ = 0;
};

}  // namespace tessavo
