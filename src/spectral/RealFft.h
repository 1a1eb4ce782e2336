#pragma once
// Real FFT of fixed power-of-two length N on 32-bit float signals.
//
// Spectrum layout (half-complex), with X[k] = sum x[n] e^(-2 pi i k n / N):
//   f[0] = X[0], f[k] = Re X[k] for 1 <= k < N/2, f[N/2] = X[N/2],
//   f[N/2 + k] = -Im X[k] = sum x[n] sin(2 pi k n / N) for 1 <= k < N/2.
// For N = 2 the spectrum is [DC, Nyquist]; for N = 1 it is [x[0]].
//
// Scaling: forward is unscaled; inverse(forward(x)) = N * x; rescale
// multiplies by 1/N. Every stored value is rounded to float, every
// intermediate is a double, so results are reproducible to the last bit.
//
// Accepted lengths: any power of two N >= 1 that fits an int; anything else
// throws InvalidSize. f and x of a transform must be distinct arrays of N
// floats, owned by the caller; the input array is never modified.
//
// Thread-safety: the transforms share one scratch array of the object, so an
// object must not run two transforms at the same time. The transforms never
// allocate; the constructor builds every table they need.

#include "core/VectorVariants.h"

#include <vector>

namespace tessavo {

// The fast path's loops of one vector variant.
struct FftKernels {
    void (*forward)(float* f, const float* x, float* scratch, const int* br, const double* twiddles, int n, int bits,
                    double h);
    void (*inverse)(const float* f, float* x, float* scratch, const int* br, const double* twiddles, int n, int bits,
                    double h);
    void (*rescale)(float* x, int n, double scale);
};

// Those of a variant this build holds (the baseline for any other).
const FftKernels& fftKernels(VectorVariant variant);

class RealFft {
public:
    // variant: which compiled vector code the fast transforms run.
    explicit RealFft(int n, VectorVariant variant = bestVariant());
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    // Reads N floats from x, writes the half-complex spectrum to f.
    void forward(float* f, const float* x);
    // Reads a half-complex spectrum from f, writes N times the signal to x.
    void inverse(const float* f, float* x);
    // Multiplies the N floats of x by 1/N in place.
    void rescale(float* x) const;

    // The same three operations, one scalar double operation at a time. They
    // give the same bits as the ones above (which compute several independent
    // butterflies at once) and are kept as the reference the tests and
    // benchmarks compare them with.
    void forwardPlain(float* f, const float* x);
    void inversePlain(const float* f, float* x);
    void rescalePlain(float* x) const;

    int size() const { return n_; }

    // Tables, read-only. bitReversal()[i] is i with its log2(N) low bits
    // reversed. cosines() holds, for each pass p = 3 .. log2(N) - 1, the
    // values cos(pi / 2^p * j), j < 2^(p-1), from offset 2^(p-1) - 4;
    // it is empty for N <= 8.
    const std::vector<int>& bitReversal() const { return bitReversal_; }
    const std::vector<float>& cosines() const { return cosines_; }
    // float(sqrt(2) * 0.5), the twiddle of the size-8 passes.
    float halfRoot() const { return halfRoot_; }

private:
    void forwardQuad(float* d, const float* x) const;
    static void forwardEight(float* d, const float* s, int n, double h);
    void forwardPass(float* d, const float* s, int p) const;
    void inversePass(float* d, const float* s, int p) const;
    static void inverseEight(float* d, const float* s, int n, double h);
    void inverseQuad(float* x, const float* s) const;

    const FftKernels* kernels_;
    std::vector<int> bitReversal_;
    std::vector<float> cosines_;
    // The cosines widened to double for the fast path: for each table pass,
    // m + 1 values cos[i] then m + 1 values sin[i] = cos[m - i] (see
    // RealFft.cpp). Widening is exact, so they are the same inputs.
    std::vector<double> twiddles_;
    float halfRoot_;
    int n_;
    int bits_;
    std::vector<float> scratch_;
};

}  // namespace tessavo
