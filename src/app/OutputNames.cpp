#include "app/OutputNames.h"

namespace tessavo {

OutputNames::OutputNames(std::string input, const std::string& folder) : input_(std::move(input))
{
    if (!folder.empty()) {
        // "out/" and "out" are the same folder; "/" stays itself.
        std::string base = folder;
        while (base.size() > 1 && base.back() == '/')
            base.pop_back();
        if (base.back() != '/')
            base += '/';
        const std::size_t slash = input_.rfind('/');
        input_ = base + (slash == std::string::npos ? input_ : input_.substr(slash + 1));
    }
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
