// Arbitrary bytes as an .npy file, as --templates reads one: either a
// RunError or a matrix, which the writer must then give back bit for bit.

#include "app/NpyFormat.h"
#include "app/RunError.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto read = [](const void* bytes, std::size_t length) {
        // fmemopen of 0 bytes fails: an empty file is one byte already read.
        static char one[1];
        std::FILE* file = length == 0 ? fmemopen(one, 1, "rb") : fmemopen(const_cast<void*>(bytes), length, "rb");
        if (!file)
            std::abort();
        if (length == 0)
            std::fgetc(file);
        tessavo::Matrix m;
        try {
            m = tessavo::readNpy(file, "fuzz.npy", "Template file");
        } catch (const tessavo::RunError&) {
        }
        std::fclose(file);
        return m;
    };
    const tessavo::Matrix m = read(data, size);
    if (m.rows() == 0 && m.cols() == 0)
        return 0;  // refused, or a 0 x 0 matrix, which gives nothing to compare
    const std::string again = tessavo::npyBytes(m);
    const tessavo::Matrix back = read(again.data(), again.size());
    if (back.rows() != m.rows() || back.cols() != m.cols())
        std::abort();
    if (m.size() > 0 &&
        std::memcmp(back.data(), m.data(), static_cast<std::size_t>(m.size()) * sizeof(double)) != 0)
        std::abort();
    return 0;
}
