#include "spectral/Window.h"

#include "spectral/InvalidSize.h"

#include <cmath>
#include <string>

namespace tessavo {

float Window::pi()
{
    // Every window is computed with this float value, not the double one, so
    // a type 4 window ends slightly above zero.
    static const float value = static_cast<float>(4.0 * std::atan(1.0));
    return value;
}

Window::Window(int length, int type) : length_(length), type_(type)
{
    if (length < 2)
        throw InvalidSize("window length " + std::to_string(length) + " is below 2");
    coefficients_.assign(static_cast<std::size_t>(length), 0.0f);

    const double piF = pi();
    const double last = static_cast<double>(length - 1);
    for (int i = 0; i < length; ++i) {
        const double t = ((i / last) * piF) * 2.0;
        float& w = coefficients_[static_cast<std::size_t>(i)];
        if (type == 0)
            w = static_cast<float>((1.0 - std::cos(t)) * 0.5);
        else if (type == 3)
            w = 1.0f;
        else if (type == 4)
            w = static_cast<float>(std::sin(t));
    }
}

Window::~Window() = default;

}  // namespace tessavo
