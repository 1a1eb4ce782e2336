#include "app/OutputNames.h"

namespace tessavo {

OutputNames::OutputNames(std::string input) : input_(std::move(input))
{
    const std::size_t slash = input_.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = input_.rfind('.');
    // A dot in a folder name, or a leading dot as in ".hidden", is no extension.
    extension_ = dot == std::string::npos || dot <= start ? std::string::npos : dot;
}

std::string OutputNames::sound(const std::string& suffix) const
{
    if (extension_ == std::string::npos)
        return input_ + suffix;
    std::string name = input_;
    name.insert(extension_, suffix);
    return name;
}

}  // namespace tessavo
