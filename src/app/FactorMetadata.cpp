#include "app/FactorMetadata.h"

#include "app/Version.h"

#include <charconv>
#include <cstdio>

namespace tessavo {

namespace {

std::string number(double x)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, x);
    return std::string(text, result.ptr);
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
std::size_t utf8Length(const std::string& s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    const std::size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values beyond U+10FFFF are no characters.
    if ((c == 0xe0 && byte(i + 1) < 0xa0) || (c == 0xed && byte(i + 1) >= 0xa0) ||
        (c == 0xf0 && byte(i + 1) < 0x90) || (c == 0xf4 && byte(i + 1) >= 0x90))
        return 0;
    return n;
}

// A JSON string. File names and arguments are bytes, not always UTF-8: a
// byte that begins no character becomes U+FFFD, so the file stays JSON.
std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            const std::size_t n = utf8Length(s, i);
            out += n == 0 ? std::string("\\ufffd") : s.substr(i, n);
            i += n == 0 ? 1 : n;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

template <typename T, typename Put>
std::string list(const std::vector<T>& items, Put put)
{
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : ", ") + put(items[i]);
    return out + "]";
}

}  // namespace

std::string factorsJson(const FactorMetadata& m)
{
    const Framing& f = m.framing;
    const int bins = f.fftLength / 2;
    std::vector<double> times(static_cast<std::size_t>(m.frames));
    for (int r = 0; r < m.frames; ++r)
        times[static_cast<std::size_t>(r)] = static_cast<double>(f.start(r)) / m.sampleRate;
    std::vector<double> frequencies(static_cast<std::size_t>(bins));
    for (int j = 0; j < bins; ++j)
        frequencies[static_cast<std::size_t>(j)] = static_cast<double>(j) * m.sampleRate / f.fftLength;

    const auto integer = [](int x) { return std::to_string(x); };
    std::string sources = "[";
    for (std::size_t s = 0; s < m.sources.size(); ++s)
        sources += std::string(s == 0 ? "\n" : ",\n") + "    {\"name\": " + quoted(m.sources[s].name) +
                   ", \"rows\": " + list(m.sources[s].rows, integer) + "}";
    sources += m.sources.empty() ? "]" : "\n  ]";

    std::string out = "{\n";
    const auto field = [&out](const char* key, const std::string& value, bool last = false) {
        out += std::string("  \"") + key + "\": " + value + (last ? "\n" : ",\n");
    };
    field("program", quoted("tessavo"));
    field("version", quoted(kVersion));
    field("command_line", list(m.commandLine, quoted));
    field("input", quoted(m.input));
    field("sample_rate", integer(m.sampleRate));
    field("channels", integer(m.channels));
    field("transform_length", integer(f.fftLength));
    field("window_length", integer(f.fftLength));
    field("hop", integer(f.hop()));
    field("padded", f.padded ? "true" : "false");
    field("padding", integer(f.padding()));
    field("loss", quoted(m.loss));
    field("mask", quoted(m.mask));
    field("mask_power", number(m.maskPower));
    field("components", integer(m.components));
    field("rows", integer(m.rows));
    field("frames", integer(m.frames));
    field("bins", integer(bins));
    field("format", quoted(m.format));
    field("w_file", quoted(m.wFile));
    field("h_file", quoted(m.hFile));
    field("sources", sources);
    field("frame_times", list(times, number));
    field("bin_frequencies", list(frequencies, number), true);
    return out + "}\n";
}

}  // namespace tessavo
