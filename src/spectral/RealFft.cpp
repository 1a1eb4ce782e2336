#include "spectral/RealFft.h"

#include "factorisation/VectorClones.h"
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

// ---- Four butterflies at once ----------------------------------------------
//
// The butterflies of one pass are independent of each other, so the fast
// path runs four of them in the four lanes of a vector. Each lane performs
// exactly the double operations of the plain path, in the same order, on the
// same inputs (widening a float to a double is exact), and each stored value
// is rounded to float once. A lane operation is one IEEE operation: the build
// neither contracts to fused multiply-add nor reassociates, so every lane
// gives the bits of the scalar code.

typedef double D4 __attribute__((vector_size(32)));
typedef float F4 __attribute__((vector_size(16)));

__attribute__((always_inline)) inline F4 load4(const float* p)
{
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline D4 load4(const double* p)
{
    D4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

__attribute__((always_inline)) inline void store4(float* p, F4 v) { std::memcpy(p, &v, sizeof v); }

// Written lane by lane because GCC 12 turns __builtin_convertvector from
// four floats to four doubles into two half-width conversions and an insert;
// this form becomes one conversion instruction.
__attribute__((always_inline)) inline D4 widen(F4 v)
{
    return D4{static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2]),
              static_cast<double>(v[3])};
}

// The one rounding of each stored value.
__attribute__((always_inline)) inline F4 narrow(const D4& v) { return __builtin_convertvector(v, F4); }

__attribute__((always_inline)) inline F4 reversed(F4 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }

// Lane k holds p[k].
__attribute__((always_inline)) inline D4 loadUp(const float* p) { return widen(load4(p)); }

// Lane k holds p[-k]: the mirrored halves of a block run downwards.
__attribute__((always_inline)) inline D4 loadDown(const float* p) { return widen(reversed(load4(p - 3))); }

// Rows a, b, c, d become columns (lane k of the new a is the old lane 0 of
// row k, and so on); shuffles only move values.
__attribute__((always_inline)) inline void transpose(F4& a, F4& b, F4& c, F4& d)
{
    const F4 ab0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const F4 ab1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const F4 cd0 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const F4 cd1 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5);
    b = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
    c = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
    d = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
}

__attribute__((always_inline)) inline void transpose(D4& a, D4& b, D4& c, D4& d)
{
    const D4 ab0 = __builtin_shufflevector(a, b, 0, 4, 2, 6);
    const D4 ab1 = __builtin_shufflevector(a, b, 1, 5, 3, 7);
    const D4 cd0 = __builtin_shufflevector(c, d, 0, 4, 2, 6);
    const D4 cd1 = __builtin_shufflevector(c, d, 1, 5, 3, 7);
    a = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5);
    b = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5);
    c = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
    d = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
}

// The size-2/4 pass and the size-8 pass in one sweep. Lane k builds the
// block of 8 at c = br[r + k]; its inputs x[br[c + j]] are x[r + k + br[j]],
// so every input vector is one contiguous load. The size-4 results are
// rounded to float, as the plain path stores them, before the size-8
// butterflies read them back; the blocks go out through a transpose.
__attribute__((always_inline)) inline void forwardFirst(float* d, const float* x, const int* br, int n, double h)
{
    const int e = n / 8;
    for (int r = 0; r < e; r += 4) {
        const float* y = x + r;
        // Size-4 block at c: x0 .. x3 = x[br[c]], x[br[c + 1]], ...
        D4 x0 = loadUp(y), x1 = loadUp(y + 4 * e), x2 = loadUp(y + 2 * e), x3 = loadUp(y + 6 * e);
        const F4 q1 = narrow(x0 - x1);
        const F4 q3 = narrow(x2 - x3);
        D4 s0 = x0 + x1;
        D4 s2 = x2 + x3;
        const F4 q0 = narrow(s0 + s2);
        const F4 q2 = narrow(s0 - s2);
        // Size-4 block at c + 4.
        x0 = loadUp(y + e);
        x1 = loadUp(y + 5 * e);
        x2 = loadUp(y + 3 * e);
        x3 = loadUp(y + 7 * e);
        const F4 q5 = narrow(x0 - x1);
        const F4 q7 = narrow(x2 - x3);
        s0 = x0 + x1;
        s2 = x2 + x3;
        const F4 q4 = narrow(s0 + s2);
        const F4 q6 = narrow(s0 - s2);

        const D4 e0 = widen(q0), e1 = widen(q1), e3 = widen(q3);
        const D4 e4 = widen(q4), e5 = widen(q5), e7 = widen(q7);
        F4 o0 = narrow(e0 + e4);
        F4 o4 = narrow(e0 - e4);
        // Rounding a widened float gives that float back (q2 and q6 come out
        // of arithmetic, so they are never signalling NaNs).
        F4 o2 = q2;
        F4 o6 = q6;
        D4 v = (e5 - e7) * h;
        F4 o1 = narrow(e1 + v);
        F4 o3 = narrow(e1 - v);
        v = (e5 + e7) * h;
        F4 o5 = narrow(v + e3);
        F4 o7 = narrow(v - e3);

        transpose(o0, o1, o2, o3);
        transpose(o4, o5, o6, o7);
        float* b0 = d + br[r];
        float* b1 = d + br[r + 1];
        float* b2 = d + br[r + 2];
        float* b3 = d + br[r + 3];
        store4(b0, o0);
        store4(b0 + 4, o4);
        store4(b1, o1);
        store4(b1 + 4, o5);
        store4(b2, o2);
        store4(b2 + 4, o6);
        store4(b3, o3);
        store4(b3 + 4, o7);
    }
}

// Butterflies i .. i + 3 of one block of forwardPass (d and s point at the
// block), each lane with the operations of one iteration of its loop.
__attribute__((always_inline)) inline void forwardFour(float* d, const float* s, int i, int n, int m, const D4& cs,
                                                      const D4& sn, const D4& im)
{
    const D4 re = loadUp(s + n + i);
    const D4 lo = loadUp(s + i), hi = loadUp(s + m + i);
    D4 v = re * cs - im * sn;
    store4(d + i, narrow(lo + v));
    store4(d + n - i - 3, reversed(narrow(lo - v)));
    v = re * sn + im * cs;
    store4(d + n + i, narrow(v + hi));
    store4(d + 2 * n - i - 3, reversed(narrow(v - hi)));
}

// forwardPass, four butterflies at a time. A block has m - 1 butterflies,
// 3 more than a multiple of 4, so the last vector also covers i = m; its
// fourth lane lands exactly on the two copied values d[m] and d[n + m],
// which are written afterwards. Its load of im past the block is replaced by
// in-block values, so nothing is read outside the arrays.
__attribute__((always_inline)) inline void forwardTable(float* d, const float* s, const double* twiddles, int total,
                                                       int p)
{
    const int n = 1 << p;
    const int m = n / 2;
    const double* cs = twiddles + twiddleOffset(p);
    const double* sn = cs + (m + 1);
    for (int c = 0; c < total; c += 2 * n) {
        const float* sb = s + c;
        float* db = d + c;
        const double a = sb[0], b = sb[n];
        db[0] = toFloat(a + b);
        db[n] = toFloat(a - b);
        int i = 1;
        for (; i < m - 3; i += 4)
            forwardFour(db, sb, i, n, m, load4(cs + i), load4(sn + i), loadUp(sb + n + m + i));
        forwardFour(db, sb, i, n, m, load4(cs + i), load4(sn + i),
                    widen(__builtin_shufflevector(load4(sb + 2 * n - 4), load4(sb + 2 * n - 4), 1, 2, 3, 3)));
        db[m] = sb[m];
        db[n + m] = sb[n + m];
    }
}

// Butterflies i .. i + 3 of one block of inversePass.
__attribute__((always_inline)) inline void inverseFour(float* d, const float* s, int i, int n, int m, const D4& cs,
                                                      const D4& sn, const D4& mirror, const D4& imMirror)
{
    const D4 lo = loadUp(s + i), im = loadUp(s + n + i);
    store4(d + i, narrow(lo + mirror));
    store4(d + m + i, narrow(im - imMirror));
    const D4 vr = lo - mirror;
    const D4 vi = im + imMirror;
    store4(d + n + i, narrow(vr * cs + vi * sn));
    store4(d + n + m + i, narrow(vi * cs - vr * sn));
}

// inversePass, four butterflies at a time. The first vector also covers
// i = 0: its first lane computes d[0] = s[0] + s[n] exactly as the plain
// path does, and its other three results for i = 0 (d[m], d[n], d[n + m])
// are written again afterwards with the operations of the plain path. The
// mirrored values it would read past the block are replaced by in-block
// values.
__attribute__((always_inline)) inline void inverseTable(float* d, const float* s, const double* twiddles, int total,
                                                       int p)
{
    const int n = 1 << p;
    const int m = n / 2;
    const double* cs = twiddles + twiddleOffset(p);
    const double* sn = cs + (m + 1);
    for (int c = 0; c < total; c += 2 * n) {
        const float* sb = s + c;
        float* db = d + c;
        inverseFour(db, sb, 0, n, m, load4(cs), load4(sn), loadDown(sb + n),
                    widen(__builtin_shufflevector(load4(sb + 2 * n - 4), load4(sb + 2 * n - 4), 3, 3, 2, 1)));
        for (int i = 4; i < m; i += 4)
            inverseFour(db, sb, i, n, m, load4(cs + i), load4(sn + i), loadDown(sb + n - i),
                        loadDown(sb + 2 * n - i));
        const double a = sb[0], b = sb[n];
        db[n] = toFloat(a - b);
        db[m] = toFloat(2.0 * sb[m]);
        db[n + m] = toFloat(2.0 * sb[n + m]);
    }
}

// The size-8 pass and the size-4/2 pass in one sweep, the mirror image of
// forwardFirst: lane k reads the block of 8 at br[r + k] (widened rows, then
// a transpose), the size-8 results are rounded to float before the size-4
// butterflies read them, and x[br[c + j]] = x[r + k + br[j]] is written by
// contiguous stores.
__attribute__((always_inline)) inline void inverseLast(float* x, const float* s, const int* br, int n, double h)
{
    const int e = n / 8;
    for (int r = 0; r < e; r += 4) {
        const float* b0 = s + br[r];
        const float* b1 = s + br[r + 1];
        const float* b2 = s + br[r + 2];
        const float* b3 = s + br[r + 3];
        D4 s0 = loadUp(b0), s1 = loadUp(b1), s2 = loadUp(b2), s3 = loadUp(b3);
        D4 s4 = loadUp(b0 + 4), s5 = loadUp(b1 + 4), s6 = loadUp(b2 + 4), s7 = loadUp(b3 + 4);
        transpose(s0, s1, s2, s3);
        transpose(s4, s5, s6, s7);

        const F4 e0 = narrow(s0 + s4);
        const F4 e4 = narrow(s0 - s4);
        const F4 e2 = narrow(2.0 * s2);
        const F4 e6 = narrow(2.0 * s6);
        const F4 e1 = narrow(s1 + s3);
        const F4 e3 = narrow(s5 - s7);
        const D4 vr = s1 - s3;
        const D4 vi = s5 + s7;
        const F4 e5 = narrow((vr + vi) * h);
        const F4 e7 = narrow((vi - vr) * h);

        float* y = x + r;
        // Size-4 block at c, written to x[br[c]], x[br[c + 1]], ...
        D4 a = widen(e0), b = widen(e2);
        D4 g0 = a + b;
        D4 g2 = a - b;
        D4 g1 = 2.0 * widen(e1);
        D4 g3 = 2.0 * widen(e3);
        store4(y, narrow(g0 + g1));
        store4(y + 4 * e, narrow(g0 - g1));
        store4(y + 2 * e, narrow(g2 + g3));
        store4(y + 6 * e, narrow(g2 - g3));
        // Size-4 block at c + 4.
        a = widen(e4);
        b = widen(e6);
        g0 = a + b;
        g2 = a - b;
        g1 = 2.0 * widen(e5);
        g3 = 2.0 * widen(e7);
        store4(y + e, narrow(g0 + g1));
        store4(y + 5 * e, narrow(g0 - g1));
        store4(y + 3 * e, narrow(g2 + g3));
        store4(y + 7 * e, narrow(g2 - g3));
    }
}

// One clone per instruction set; each runs the same lane operations.
TESSAVO_CLONES
void forwardFast(float* f, const float* x, float* scratch, const int* br, const double* twiddles, int n, int bits,
                 double h)
{
    // bits - 3 table passes follow the first sweep and alternate between f
    // and the scratch; starting so that the last one writes f.
    float* dst = ((bits - 3) % 2 == 0) ? f : scratch;
    float* src = (dst == f) ? scratch : f;
    forwardFirst(dst, x, br, n, h);
    for (int p = 3; p < bits; ++p) {
        std::swap(src, dst);
        forwardTable(dst, src, twiddles, n, p);
    }
}

TESSAVO_CLONES
void inverseFast(const float* f, float* x, float* scratch, const int* br, const double* twiddles, int n, int bits,
                 double h)
{
    // The last sweep reads blocks from all over its source while it writes
    // all over x, so its source must be the scratch: pass 3 writes the
    // scratch, and the passes before it alternate back from there. f is only
    // read.
    const float* src = f;
    for (int p = bits - 1; p >= 3; --p) {
        float* dst = ((p - 3) % 2 == 0) ? scratch : x;
        inverseTable(dst, src, twiddles, n, p);
        src = dst;
    }
    inverseLast(x, src, br, n, h);
}

TESSAVO_CLONES
void rescaleFast(float* x, int n, double scale)
{
    int i = 0;
    for (; i + 4 <= n; i += 4)
        store4(x + i, narrow(widen(load4(x + i)) * scale));
    for (; i < n; ++i)
        x[i] = toFloat(x[i] * scale);
}

// Below this many bits a sweep has fewer than four blocks of 8 for the
// lanes; those lengths take the plain path.
constexpr int kFastBits = 5;

}  // namespace

RealFft::RealFft(int n) : halfRoot_(0.0f), n_(n), bits_(0)
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
    forwardFast(f, x, scratch_.data(), bitReversal_.data(), twiddles_.data(), n_, bits_, halfRoot_);
}

void RealFft::inverse(const float* f, float* x)
{
    if (bits_ < kFastBits) {
        inversePlain(f, x);
        return;
    }
    inverseFast(f, x, scratch_.data(), bitReversal_.data(), twiddles_.data(), n_, bits_, halfRoot_);
}

void RealFft::rescale(float* x) const { rescaleFast(x, n_, 1.0 / static_cast<double>(n_)); }

}  // namespace tessavo
