#pragma once
// The L coefficients of a tapering window, as 32-bit floats, computed once at
// construction from a type code:
//   0  Hann, (1 - cos t) / 2
//   3  rectangular, 1.0
//   4  one full period of a sine, sin t (negative in its second half)
//   any other code: all 0.0 (the code is still stored)
// with t(i) = ((i / (L - 1)) * pi_f) * 2 in double precision, where pi_f is
// pi rounded to float (see pi()). The L - 1 denominator makes each window
// symmetric about its centre.
//
// Accepted lengths: L >= 2; smaller lengths throw InvalidSize.
// The object owns its coefficients; reading them from several threads is safe.

#include <vector>

namespace tessavo {

class Window {
public:
    Window(int length, int type);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    const float* coefficients() const { return coefficients_.data(); }
    float operator[](int i) const { return coefficients_[static_cast<std::size_t>(i)]; }
    int length() const { return length_; }
    int type() const { return type_; }

    // Process-wide pi as a float, float(4 * atan(1)), slightly above pi.
    // Computed once, on first use.
    static float pi();

private:
    std::vector<float> coefficients_;
    int length_;
    int type_;
};

}  // namespace tessavo
