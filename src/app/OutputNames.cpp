#include "app/OutputNames.h"

#include <climits>
#include <cstdlib>
#include <memory>

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

namespace {

bool under(const std::string& path, const std::string& folder)
{
    return path == folder || path.compare(0, folder.size() + 1, folder + "/") == 0;
}

}  // namespace

bool OutputNames::inDevices(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr), &std::free);
    const std::string resolved = real ? real.get() : folder;
    return under(resolved, "/dev") || under(resolved, "/proc");
}

std::string OutputNames::inputName(const std::string& input, const std::string& extension)
{
    if (input == "-")
        return "stdin." + extension;
    if (!inDevices(input))
        return input;
    const std::size_t slash = input.rfind('/');
    const std::string last = slash == std::string::npos ? input : input.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    return dot == std::string::npos || dot == 0 ? last + "." + extension : last;
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
