#include "spectral/Window.h"

#include "spectral/InvalidSize.h"

#include <cmath>
#include <string>

namespace tessavo {

float Window::pi()
{
    // The window is computed with this float value, not the double one, so
    // it ends slightly above zero.
    static const float value = static_cast<float>(4.0 * std::atan(1.0));
    return value;
}

Window::Window(int length) : length_(length)
{
    if (length < 2)
        throw InvalidSize("window length " + std::to_string(length) + " is below 2");
    const double piF = pi();
    const double last = static_cast<double>(length - 1);
    for (int i = 0; i < length; ++i)
        coefficients_.push_back(static_cast<float>(std::sin(((i / last) * piF) * 2.0)));
}

Window::~Window() = default;

}  // namespace tessavo
