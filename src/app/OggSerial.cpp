#include "app/OggSerial.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace tessavo {

namespace {

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, no reflection,
// starting from 0.
std::uint32_t oggCrc(const unsigned char* data, std::size_t n)
{
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

void put32(unsigned char* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool readAt(int fd, unsigned char* to, std::size_t n, off_t at)
{
    while (n > 0) {
        const ssize_t got = pread(fd, to, n, at);
        if (got <= 0)
            return false;
        to += got;
        n -= static_cast<std::size_t>(got);
        at += got;
    }
    return true;
}

// FNV-1a of the name's last path component.
std::uint32_t serialFor(const std::string& name)
{
    std::uint32_t h = 2166136261u;
    for (std::size_t i = name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1; i < name.size(); ++i)
        h = (h ^ static_cast<unsigned char>(name[i])) * 16777619u;
    return h;
}

}  // namespace

bool fixOggSerial(int fd, const std::string& name)
{
    constexpr std::size_t kHeader = 27;
    const std::uint32_t serial = serialFor(name);
    std::vector<unsigned char> page;
    for (off_t at = 0;;) {
        unsigned char header[kHeader + 255];
        const ssize_t got = pread(fd, header, kHeader, at);
        if (got == 0)
            return true;  // the end
        if (got != static_cast<ssize_t>(kHeader) || std::memcmp(header, "OggS", 4) != 0)
            return false;
        const std::size_t segments = header[26];
        if (!readAt(fd, header + kHeader, segments, at + static_cast<off_t>(kHeader)))
            return false;
        std::size_t body = 0;
        for (std::size_t s = 0; s < segments; ++s)
            body += header[kHeader + s];
        page.resize(kHeader + segments + body);
        if (!readAt(fd, page.data(), page.size(), at))
            return false;
        put32(page.data() + 14, serial);
        put32(page.data() + 22, 0);
        put32(page.data() + 22, oggCrc(page.data(), page.size()));
        if (pwrite(fd, page.data(), kHeader, at) != static_cast<ssize_t>(kHeader))
            return false;
        at += static_cast<off_t>(page.size());
    }
}

}  // namespace tessavo
