#pragma once
// Thrown by the spectral classes when a size or ratio given to a constructor
// lies outside the range they can work with (instead of indexing outside
// their arrays later).

#include <stdexcept>

namespace tessavo {

class InvalidSize : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

}  // namespace tessavo
