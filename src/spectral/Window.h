#pragma once
// The L coefficients of the analysis and synthesis window, one full period
// of a sine (negative in its second half), as 32-bit floats computed once at
// construction: w(i) = sin t(i), with t(i) = ((i / (L - 1)) * pi_f) * 2 in
// double precision, where pi_f is pi rounded to float (see pi()). The L - 1
// denominator makes the window symmetric about its centre, with its first
// coefficient 0 and its last slightly above it.
//
// Accepted lengths: L >= 2; smaller lengths throw InvalidSize.
// The object owns its coefficients; reading them from several threads is safe.

#include <vector>

namespace tessavo {

class Window {
public:
    explicit Window(int length);
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    const float* coefficients() const { return coefficients_.data(); }
    float operator[](int i) const { return coefficients_[static_cast<std::size_t>(i)]; }
    int length() const { return length_; }

    // Process-wide pi as a float, float(4 * atan(1)), slightly above pi.
    // Computed once, on first use.
    static float pi();

private:
    std::vector<float> coefficients_;
    int length_;
};

}  // namespace tessavo
