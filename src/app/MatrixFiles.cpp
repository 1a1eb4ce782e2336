#include "app/MatrixFiles.h"

#include "app/RunError.h"
#include "factorisation/MatrixText.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <unistd.h>
#include <vector>

namespace tessavo {

namespace {

// An output stream buffer over a file descriptor; the first failed write
// is kept, with its errno, and fails the stream.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(1 << 16) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        const char* from = pbase();
        while (from < pptr() && error_ == 0) {
            const ssize_t n = ::write(fd_, from, static_cast<std::size_t>(pptr() - from));
            if (n > 0)
                from += n;
            else if (n < 0 && errno != EINTR)
                error_ = errno;
        }
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return error_ == 0;
    }

    int fd_;
    std::vector<char> buffer_;
    int error_ = 0;
};

// Opens file, lets put write into it, and closes it.
template <typename Put>
void writeFile(PendingFile& file, Put put)
{
    file.open();
    DescriptorBuffer buffer(file.descriptor());
    std::ostream out(&buffer);
    put(out);
    out.flush();
    if (buffer.error() != 0 || !out)
        throw RunError("Not able to write output file " + file.finalName() + "\n" +
                       std::strerror(buffer.error() != 0 ? buffer.error() : EIO) + "\n");
    file.finish();
}

}  // namespace

void writeMatrix(PendingFile& file, const Matrix& m, int precision)
{
    writeFile(file, [&](std::ostream& out) {
        out.precision(precision);
        out << m;
    });
}

void writeText(PendingFile& file, const std::string& text)
{
    writeFile(file, [&](std::ostream& out) { out << text; });
}

}  // namespace tessavo
