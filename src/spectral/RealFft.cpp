#include "spectral/RealFft.h"

#include "core/VectorVariants.h"
#include "spectral/InvalidSize.h"

#include <cmath>
#include <cstring>
#include <string>
#include <utility>

namespace tessavo {

namespace {

// Every value stored into a float array is rounded exactly once, here.
inline float toFloat(double v) { return static_cast<float>(v); }

bool isPowerOfTwo(int n) { return n >= 1 && (n & (n - 1)) == 0; }

// Where the widened cosines and sines of table pass p start.
int twiddleOffset(int p) { return (1 << p) - 8 + 2 * (p - 3); }

#define TESSAVO_VARIANT_BODY "spectral/RealFftKernels.inc"
#include "core/VariantBodies.h"

// Below this many bits a sweep has fewer than four blocks of 8 for the
// lanes; those lengths take the plain path.
constexpr int kFastBits = 5;

}  // namespace

const FftKernels& fftKernels(VectorVariant variant)
{
    return TESSAVO_OF_VARIANT(variant, kKernels);
}

RealFft::RealFft(int n, VectorVariant variant) : kernels_(&fftKernels(variant)), halfRoot_(0.0f), n_(n), bits_(0)
{
    if (!isPowerOfTwo(n))
        throw InvalidSize("FFT length " + std::to_string(n) + " is not a power of two >= 1");

    // Exact for every power of two that fits an int.
    bits_ = static_cast<int>(std::floor(std::log(static_cast<double>(n)) / std::log(2.0) + 0.5));

    // Reversed-order counter: each entry adds one at the top bit and carries
    // downwards.
    bitReversal_.assign(static_cast<std::size_t>(n), 0);
    int r = 0;
    for (int i = 1; i < n; ++i) {
        int c = n / 2;
        r ^= c;
        while ((r & c) == 0) {
            c /= 2;
            r ^= c;
        }
        bitReversal_[static_cast<std::size_t>(i)] = r;
    }

    if (bits_ > 3) {
        const double pi = 4.0 * std::atan(1.0);
        cosines_.resize(static_cast<std::size_t>(n / 2 - 4));
        for (int p = 3; p < bits_; ++p) {
            const int m = 1 << (p - 1);
            const double step = pi / static_cast<double>(1 << p);
            for (int j = 0; j < m; ++j)
                cosines_[static_cast<std::size_t>(m - 4 + j)] = toFloat(std::cos(step * j));
        }
    }

    // For pass p at offset 2^p - 8 + 2 (p - 3): c[i] = t[i] for i < m and
    // s[i] = t[m - i] for 1 <= i <= m, so that four butterflies read their
    // cosines and sines with two contiguous loads. c[m] and s[0] belong to no
    // butterfly; they only fill the unused lane of the first or last vector
    // of a block.
    if (bits_ > 3) {
        twiddles_.assign(static_cast<std::size_t>(n + 2 * (bits_ - 3) - 8), 0.0);
        for (int p = 3; p < bits_; ++p) {
            const int m = 1 << (p - 1);
            const float* t = cosines_.data() + (m - 4);
            double* c = twiddles_.data() + twiddleOffset(p);
            double* s = c + (m + 1);
            for (int i = 0; i < m; ++i)
                c[i] = t[i];
            for (int i = 1; i <= m; ++i)
                s[i] = t[m - i];
        }
    }

    halfRoot_ = toFloat(std::sqrt(2.0) * 0.5);

    if (bits_ > 2)
        scratch_.resize(static_cast<std::size_t>(n));
}

void RealFft::forwardPlain(float* f, const float* x)
{
    if (bits_ == 0) {
        f[0] = x[0];
        return;
    }
    if (bits_ == 1) {
        const double x0 = x[0], x1 = x[1];
        f[0] = toFloat(x0 + x1);
        f[1] = toFloat(x0 - x1);
        return;
    }
    if (bits_ == 2) {
        const double x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3];
        f[1] = toFloat(x0 - x2);
        f[3] = toFloat(x1 - x3);
        const double s0 = x0 + x2;
        const double s2 = x1 + x3;
        f[0] = toFloat(s0 + s2);
        f[2] = toFloat(s0 - s2);
        return;
    }

    // b - 1 passes alternate between f and the scratch; starting in the
    // scratch for odd b makes the last one write f.
    float* dst = (bits_ % 2 == 1) ? scratch_.data() : f;
    float* src = (dst == f) ? scratch_.data() : f;
    forwardQuad(dst, x);
    std::swap(src, dst);
    forwardEight(dst, src, n_, halfRoot_);
    for (int p = 3; p < bits_; ++p) {
        std::swap(src, dst);
        forwardPass(dst, src, p);
    }
}

// Size-2 and size-4 passes in one step, reading the input in bit-reversed
// order.
void RealFft::forwardQuad(float* d, const float* x) const
{
    const int* br = bitReversal_.data();
    for (int c = 0; c < n_; c += 4) {
        const double x0 = x[br[c]], x1 = x[br[c + 1]], x2 = x[br[c + 2]], x3 = x[br[c + 3]];
        d[c + 1] = toFloat(x0 - x1);
        d[c + 3] = toFloat(x2 - x3);
        const double s0 = x0 + x1;
        const double s2 = x2 + x3;
        d[c] = toFloat(s0 + s2);
        d[c + 2] = toFloat(s0 - s2);
    }
}

void RealFft::forwardEight(float* d, const float* s, int n, double h)
{
    for (int c = 0; c < n; c += 8) {
        const double s0 = s[c], s1 = s[c + 1], s2 = s[c + 2], s3 = s[c + 3];
        const double s4 = s[c + 4], s5 = s[c + 5], s6 = s[c + 6], s7 = s[c + 7];
        d[c] = toFloat(s0 + s4);
        d[c + 4] = toFloat(s0 - s4);
        d[c + 2] = toFloat(s2);
        d[c + 6] = toFloat(s6);
        double v = (s5 - s7) * h;
        d[c + 1] = toFloat(s1 + v);
        d[c + 3] = toFloat(s1 - v);
        v = (s5 + s7) * h;
        d[c + 5] = toFloat(v + s3);
        d[c + 7] = toFloat(v - s3);
    }
}

// Combines pairs of half-complex blocks of n = 2^p values into blocks of 2n.
void RealFft::forwardPass(float* d, const float* s, int p) const
{
    const int n = 1 << p;
    const int m = n / 2;
    const float* t = cosines_.data() + (m - 4);
    for (int c = 0; c < n_; c += 2 * n) {
        const double a = s[c], b = s[c + n];
        d[c] = toFloat(a + b);
        d[c + n] = toFloat(a - b);
        d[c + m] = s[c + m];
        d[c + n + m] = s[c + n + m];
        for (int i = 1; i < m; ++i) {
            const double cs = t[i];
            const double sn = t[m - i];  // sin(i pi / n)
            const double re = s[c + n + i], im = s[c + n + m + i];
            const double lo = s[c + i], hi = s[c + m + i];
            double v = re * cs - im * sn;
            d[c + i] = toFloat(lo + v);
            d[c + n - i] = toFloat(lo - v);
            v = re * sn + im * cs;
            d[c + n + i] = toFloat(v + hi);
            d[c + 2 * n - i] = toFloat(v - hi);
        }
    }
}

void RealFft::inversePlain(const float* f, float* x)
{
    if (bits_ == 0) {
        x[0] = f[0];
        return;
    }
    if (bits_ == 1) {
        const double f0 = f[0], f1 = f[1];
        x[0] = toFloat(f0 + f1);
        x[1] = toFloat(f0 - f1);
        return;
    }
    if (bits_ == 2) {
        const double c0 = static_cast<double>(f[0]) + f[2];
        const double d0 = static_cast<double>(f[0]) - f[2];
        const double f1 = 2.0 * f[1], f3 = 2.0 * f[3];
        x[0] = toFloat(c0 + f1);
        x[2] = toFloat(c0 - f1);
        x[1] = toFloat(d0 + f3);
        x[3] = toFloat(d0 - f3);
        return;
    }

    // The passes alternate between x and the scratch so that the size-8 pass
    // writes the scratch and the final fused pass writes x; f is only read.
    float* scratch = scratch_.data();
    const float* src = f;
    for (int p = bits_ - 1; p >= 3; --p) {
        float* dst = ((p - 3) % 2 == 0) ? x : scratch;
        inversePass(dst, src, p);
        src = dst;
    }
    inverseEight(scratch, src, n_, halfRoot_);
    inverseQuad(x, scratch);
}

// Splits half-complex blocks of 2n values, n = 2^p, into pairs of blocks of
// n, doubling the terms the forward pass halved.
void RealFft::inversePass(float* d, const float* s, int p) const
{
    const int n = 1 << p;
    const int m = n / 2;
    const float* t = cosines_.data() + (m - 4);
    for (int c = 0; c < n_; c += 2 * n) {
        const double a = s[c], b = s[c + n];
        d[c] = toFloat(a + b);
        d[c + n] = toFloat(a - b);
        d[c + m] = toFloat(2.0 * s[c + m]);
        d[c + n + m] = toFloat(2.0 * s[c + n + m]);
        for (int i = 1; i < m; ++i) {
            const double cs = t[i];
            const double sn = t[m - i];
            const double lo = s[c + i], mirror = s[c + n - i];
            const double im = s[c + n + i], imMirror = s[c + 2 * n - i];
            d[c + i] = toFloat(lo + mirror);
            d[c + m + i] = toFloat(im - imMirror);
            const double vr = lo - mirror;
            const double vi = im + imMirror;
            d[c + n + i] = toFloat(vr * cs + vi * sn);
            d[c + n + m + i] = toFloat(vi * cs - vr * sn);
        }
    }
}

void RealFft::inverseEight(float* d, const float* s, int n, double h)
{
    for (int c = 0; c < n; c += 8) {
        const double s0 = s[c], s1 = s[c + 1], s2 = s[c + 2], s3 = s[c + 3];
        const double s4 = s[c + 4], s5 = s[c + 5], s6 = s[c + 6], s7 = s[c + 7];
        d[c] = toFloat(s0 + s4);
        d[c + 4] = toFloat(s0 - s4);
        d[c + 2] = toFloat(2.0 * s2);
        d[c + 6] = toFloat(2.0 * s6);
        d[c + 1] = toFloat(s1 + s3);
        d[c + 3] = toFloat(s5 - s7);
        const double vr = s1 - s3;
        const double vi = s5 + s7;
        d[c + 5] = toFloat((vr + vi) * h);
        d[c + 7] = toFloat((vi - vr) * h);
    }
}

// Size-4 and size-2 passes in one step, writing the output in bit-reversed
// order.
void RealFft::inverseQuad(float* x, const float* s) const
{
    const int* br = bitReversal_.data();
    for (int c = 0; c < n_; c += 8) {
        for (int g = c; g < c + 8; g += 4) {
            const double a = s[g], b = s[g + 2];
            const double b0 = a + b;
            const double b2 = a - b;
            const double b1 = 2.0 * s[g + 1];
            const double b3 = 2.0 * s[g + 3];
            x[br[g]] = toFloat(b0 + b1);
            x[br[g + 1]] = toFloat(b0 - b1);
            x[br[g + 2]] = toFloat(b2 + b3);
            x[br[g + 3]] = toFloat(b2 - b3);
        }
    }
}

void RealFft::rescalePlain(float* x) const
{
    const double scale = 1.0 / static_cast<double>(n_);
    for (int i = n_ - 1; i >= 0; --i)
        x[i] = toFloat(x[i] * scale);
}

void RealFft::forward(float* f, const float* x)
{
    if (bits_ < kFastBits) {
        forwardPlain(f, x);
        return;
    }
    kernels_->forward(f, x, scratch_.data(), bitReversal_.data(), twiddles_.data(), n_, bits_, halfRoot_);
}

void RealFft::inverse(const float* f, float* x)
{
    if (bits_ < kFastBits) {
        inversePlain(f, x);
        return;
    }
    kernels_->inverse(f, x, scratch_.data(), bitReversal_.data(), twiddles_.data(), n_, bits_, halfRoot_);
}

void RealFft::rescale(float* x) const { kernels_->rescale(x, n_, 1.0 / static_cast<double>(n_)); }

}  // namespace tessavo
