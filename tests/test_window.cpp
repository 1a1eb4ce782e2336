#include "spectral/Window.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

using tessavo::Window;

namespace {

std::vector<float> values(const Window& w)
{
    return std::vector<float>(w.coefficients(), w.coefficients() + w.length());
}

}  // namespace

TEST(Window, FloatPiIsSlightlyAbovePi)
{
    EXPECT_EQ(tessavo::test::bits(Window::pi()), 0x40490FDBu);
    Window w(8, 4);  // building windows does not change it
    EXPECT_EQ(tessavo::test::bits(Window::pi()), 0x40490FDBu);
}

TEST(Window, HannOfEight)
{
    const Window w(8, 0);
    ASSERT_EQ(w.length(), 8);
    EXPECT_EQ(w.type(), 0);
    const double expected[8] = {0, 0.188255, 0.61126, 0.950484, 0.950484, 0.61126, 0.188255, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(w[i], expected[i], 6e-7) << i;
    EXPECT_EQ(w[0], 0.0f);
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(w[i], w[7 - i], 1e-6) << "symmetry at " << i;
}

TEST(Window, FullSinePeriodOfEight)
{
    const Window w(8, 4);
    const double expected[8] = {0, 0.781832, 0.974928, 0.433884, -0.433884, -0.974928, -0.781831, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_NEAR(w[i], expected[i], 6e-7) << i;
    EXPECT_EQ(w[0], 0.0f);
    EXPECT_LT(w[4], 0.0f);
    // The float pi overshoots pi by about 8.74e-8, so the last coefficient is
    // sin(2 pi_f) ~ 2 (pi_f - pi) rather than (almost) zero.
    const double overshoot = static_cast<double>(Window::pi()) - std::acos(-1.0);
    EXPECT_NEAR(w[7], 2.0 * overshoot, 1e-6 * overshoot);
}

TEST(Window, RectangularAndUnknownTypes)
{
    for (int length : {2, 8, 1001}) {
        const Window rect(length, 3);
        for (float v : values(rect))
            ASSERT_EQ(v, 1.0f);
        for (int type : {1, 2, 5, -1}) {
            const Window w(length, type);
            EXPECT_EQ(w.type(), type);
            EXPECT_EQ(values(w), std::vector<float>(static_cast<std::size_t>(length), 0.0f)) << type;
        }
    }
}

TEST(Window, RefusesLengthsBelowTwo)
{
    EXPECT_THROW(Window(1, 4), std::invalid_argument);
    EXPECT_THROW(Window(0, 0), std::invalid_argument);
    EXPECT_THROW(Window(-5, 3), std::invalid_argument);
}
