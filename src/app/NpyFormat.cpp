#include "app/NpyFormat.h"

#include "app/RunError.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <limits>
#include <vector>

namespace tessavo {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr std::size_t kMagicLength = 6;
// np.save's headers are a few hundred bytes; a longer one is no matrix of ours.
constexpr std::uint32_t kLongestHeader = 1 << 16;

void putLittle(std::string& out, std::uint64_t bits, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((bits >> (8 * i)) & 0xffu));
}

std::uint64_t getLittle(const unsigned char* in, int bytes)
{
    std::uint64_t bits = 0;
    for (int i = bytes - 1; i >= 0; --i)
        bits = bits << 8 | in[i];
    return bits;
}

// The header is a Python dict literal: {'descr': '<f8', 'fortran_order':
// False, 'shape': (3, 4), }. This reads that much of Python and no more.
class HeaderParser {
public:
    HeaderParser(const std::string& text, const std::string& where) : text_(text), where_(where) {}

    void parse(std::string& descr, bool& fortran, std::vector<long long>& shape)
    {
        bool hasDescr = false, hasOrder = false, hasShape = false;
        expect('{');
        while (!peek('}')) {
            const std::string key = quoted();
            expect(':');
            if (key == "descr") {
                descr = quoted();
                hasDescr = true;
            } else if (key == "fortran_order") {
                fortran = word() == "True";
                hasOrder = true;
            } else if (key == "shape") {
                shape = tuple();
                hasShape = true;
            } else {
                bad();
            }
            if (!peek('}'))
                expect(',');
        }
        expect('}');
        if (!hasDescr || !hasOrder || !hasShape)
            bad();
    }

private:
    [[noreturn]] void bad() { throw RunError(where_ + " has a header that is not NumPy's\n"); }
    void blanks()
    {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_])))
            ++at_;
    }
    bool peek(char c)
    {
        blanks();
        return at_ < text_.size() && text_[at_] == c;
    }
    void expect(char c)
    {
        if (!peek(c))
            bad();
        ++at_;
    }
    std::string quoted()
    {
        blanks();
        if (at_ >= text_.size() || (text_[at_] != '\'' && text_[at_] != '"'))
            bad();
        const char quote = text_[at_++];
        const std::size_t end = text_.find(quote, at_);
        if (end == std::string::npos)
            bad();
        std::string s = text_.substr(at_, end - at_);
        at_ = end + 1;
        return s;
    }
    std::string word()
    {
        blanks();
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[at_])))
            ++at_;
        std::string w = text_.substr(start, at_ - start);
        if (w != "True" && w != "False")
            bad();
        return w;
    }
    std::vector<long long> tuple()
    {
        std::vector<long long> items;
        expect('(');
        while (!peek(')')) {
            long long n = 0;
            bool digits = false;
            while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
                if (n > (std::numeric_limits<long long>::max() - 9) / 10)
                    bad();
                n = n * 10 + (text_[at_++] - '0');
                digits = true;
            }
            if (!digits)
                bad();
            items.push_back(n);
            if (!peek(')'))
                expect(',');
        }
        expect(')');
        return items;
    }

    const std::string& text_;
    const std::string& where_;
    std::size_t at_ = 0;
};

void readExactly(std::FILE* file, void* to, std::size_t bytes, const std::string& where)
{
    if (std::fread(to, 1, bytes, file) != bytes) {
        if (std::ferror(file))
            throw RunError("Not able to read " + where + ": " + std::strerror(errno) + "\n");
        throw RunError(where + " ends before its last value\n");
    }
}

}  // namespace

std::string npyBytes(const Matrix& m)
{
    std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(m.rows()) + ", " +
                         std::to_string(m.cols()) + "), }";
    // Magic, version, length, header and its closing line end fill whole
    // 64-byte blocks.
    const std::size_t prelude = kMagicLength + 2 + 2;
    header.append((64 - (prelude + header.size() + 1) % 64) % 64, ' ');
    header.push_back('\n');
    std::string out(kMagic, kMagicLength);
    out.push_back('\x01');
    out.push_back('\x00');
    putLittle(out, header.size(), 2);
    out += header;
    const std::size_t count = static_cast<std::size_t>(m.size());
    out.reserve(out.size() + count * 8);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, m.data() + i, 8);
        putLittle(out, bits, 8);
    }
    return out;
}

Matrix readNpy(std::FILE* file, const std::string& path, const std::string& what)
{
    const std::string where = what + " " + path;
    unsigned char prelude[12];
    readExactly(file, prelude, 8, where);
    if (std::memcmp(prelude, kMagic, kMagicLength) != 0 || prelude[6] < 1 || prelude[6] > 3)
        throw RunError(where + " is not a NumPy .npy file of version 1, 2 or 3\n");
    const int lengthBytes = prelude[6] == 1 ? 2 : 4;
    readExactly(file, prelude + 8, static_cast<std::size_t>(lengthBytes), where);
    const std::uint64_t length = getLittle(prelude + 8, lengthBytes);
    if (length > kLongestHeader)
        throw RunError(where + " has a header that is not NumPy's\n");
    std::string text(length, '\0');
    readExactly(file, text.data(), length, where);

    std::string descr;
    bool fortran = false;
    std::vector<long long> shape;
    HeaderParser(text, where).parse(descr, fortran, shape);
    if (descr != "<f8")
        throw RunError(where + " holds values of type '" + descr +
                       "', not 64-bit floats ('<f8'): save it with .astype('<f8')\n");
    if (shape.size() != 2)
        throw RunError(where + " holds an array of " + std::to_string(shape.size()) +
                       " dimensions, not a matrix (2)\n");
    const long long rows = shape[0], cols = shape[1];
    if (rows > std::numeric_limits<int>::max() || cols > std::numeric_limits<int>::max() ||
        (cols > 0 && rows > std::numeric_limits<int>::max() / cols))
        throw RunError(where + " claims " + std::to_string(rows) + " x " + std::to_string(cols) +
                       " values, more than a run can hold\n");

    // Values are kept as they arrive, so that a header claiming more than the
    // file holds costs no more memory than the file's own values.
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    std::vector<double> values;
    std::vector<unsigned char> block(1 << 16);
    while (values.size() < count) {
        const std::size_t n = std::min<std::size_t>(block.size() / 8, count - values.size());
        readExactly(file, block.data(), n * 8, where);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t bits = getLittle(block.data() + 8 * i, 8);
            double x = 0;
            std::memcpy(&x, &bits, 8);
            values.push_back(x);
        }
    }
    if (std::fgetc(file) != EOF)
        throw RunError(where + " holds more bytes than its " + std::to_string(rows) + " x " + std::to_string(cols) +
                       " values\n");
    Matrix m(static_cast<int>(rows), static_cast<int>(cols));
    for (std::size_t at = 0; at < count; ++at) {
        // Fortran order lists the columns one after another.
        const std::size_t r = fortran ? at % static_cast<std::size_t>(rows) : at / static_cast<std::size_t>(cols);
        const std::size_t c = fortran ? at / static_cast<std::size_t>(rows) : at % static_cast<std::size_t>(cols);
        m.data()[r * static_cast<std::size_t>(cols) + c] = values[at];
    }
    return m;
}

}  // namespace tessavo
