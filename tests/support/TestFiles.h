#pragma once
// Helpers shared by the tests: scratch folders and bit patterns.

#include <cstdint>
#include <cstring>
#include <string>

namespace tessavo::test {

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it when the object goes out of scope.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::uint64_t bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

inline std::uint32_t bits(float v)
{
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace tessavo::test
