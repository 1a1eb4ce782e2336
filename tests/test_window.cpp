#include "spectral/Window.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using tessavo::Window;

TEST(Window, FloatPiIsSlightlyAbovePi)
{
    EXPECT_EQ(tessavo::test::bits(Window::pi()), 0x40490FDBu);
    Window w(8);  // building windows does not change it
    EXPECT_EQ(tessavo::test::bits(Window::pi()), 0x40490FDBu);
}

TEST(Window, FullSinePeriodOfEight)
{
    const Window w(8);
    ASSERT_EQ(w.length(), 8);
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

TEST(Window, RefusesLengthsBelowTwo)
{
    EXPECT_THROW(Window(1), std::invalid_argument);
    EXPECT_THROW(Window(0), std::invalid_argument);
    EXPECT_THROW(Window(-5), std::invalid_argument);
}
