#pragma once
// A file in memory for the library's virtual I/O: where checkWritable puts
// its trial output, and where a sound that arrives through a pipe is kept.

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tessavo {

struct MemoryFile {
    std::vector<char> bytes;
    sf_count_t position = 0;

    static MemoryFile& of(void* user) { return *static_cast<MemoryFile*>(user); }
    static sf_count_t length(void* user) { return static_cast<sf_count_t>(of(user).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* user)
    {
        MemoryFile& f = of(user);
        const sf_count_t base = whence == SEEK_CUR ? f.position : whence == SEEK_END ? length(user) : 0;
        if (base + offset < 0)
            return -1;
        f.position = base + offset;
        return f.position;
    }
    static sf_count_t read(void* to, sf_count_t count, void* user)
    {
        MemoryFile& f = of(user);
        const sf_count_t n = std::max<sf_count_t>(0, std::min(count, length(user) - f.position));
        if (n > 0)
            std::memcpy(to, f.bytes.data() + f.position, static_cast<std::size_t>(n));
        f.position += n;
        return n;
    }
    static sf_count_t write(const void* from, sf_count_t count, void* user)
    {
        MemoryFile& f = of(user);
        const auto end = static_cast<std::size_t>(f.position + count);
        if (end > f.bytes.size())
            f.bytes.resize(end);
        std::memcpy(f.bytes.data() + f.position, from, static_cast<std::size_t>(count));
        f.position += count;
        return count;
    }
    static sf_count_t tell(void* user) { return of(user).position; }
    static SF_VIRTUAL_IO io() { return {&length, &seek, &read, &write, &tell}; }
};

}  // namespace tessavo
