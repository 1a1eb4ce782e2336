#pragma once
// A failure that ends the run. what() is the exact text shown to the user on
// standard output, line ends included; the entry point prints it and exits
// with status 1.

#include <stdexcept>
#include <string>

namespace tessavo {

class RunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tessavo
