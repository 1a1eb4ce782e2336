#pragma once
// Failures of the separation itself. what() is the text shown to the user,
// line end included.

#include <stdexcept>
#include <string>

namespace tessavo {

class SeparationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The factors or an output's samples stopped being finite numbers: the
// input's values are too large for the arithmetic. The caller names the file.
class OverflowError : public std::runtime_error {
public:
    OverflowError() : std::runtime_error("the numbers of the separation overflowed") {}
};

}  // namespace tessavo
