#include "app/StreamSpool.h"

#include "app/MemoryBudget.h"
#include "app/RunError.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessavo {

namespace {

// The library needs a sound's header to know it, and no header we read is
// longer than this; a stream that is still no sound then never will be.
constexpr std::size_t kLongestHeader = std::size_t{16} << 20;

// Opens spool's bytes so far from their start, or returns null.
SNDFILE* openMemory(MemoryFile& spool, SF_INFO& info)
{
    spool.position = 0;
    info = SF_INFO{};
    SF_VIRTUAL_IO io = MemoryFile::io();
    return sf_open_virtual(&io, SFM_READ, &info, &spool);
}

// Whether the bytes so far begin a sound the library knows.
bool knownSoFar(MemoryFile& spool)
{
    SF_INFO info{};
    SNDFILE* file = openMemory(spool, info);
    if (file)
        sf_close(file);
    return file != nullptr;
}

class Descriptor {
public:
    explicit Descriptor(const std::string& filename)
        : fd_(filename == "-" ? STDIN_FILENO : ::open(filename.c_str(), O_RDONLY | O_CLOEXEC)), own_(filename != "-")
    {
    }
    ~Descriptor()
    {
        if (own_ && fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
    bool own_;
};

}  // namespace

bool isStream(const std::string& filename)
{
    struct stat st {};
    const int status = filename == "-" ? ::fstat(STDIN_FILENO, &st) : ::stat(filename.c_str(), &st);
    return status == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

SNDFILE* openSpooled(const std::string& filename, MemoryFile& spool, SF_INFO& info)
{
    const std::string name = filename == "-" ? "standard input" : "input file " + filename;
    const Descriptor in(filename);
    if (in.fd() < 0)
        throw RunError("Not able to open " + name + "\n" + std::strerror(errno) + "\n");
    if (::isatty(in.fd()))
        throw RunError("Not able to read " + name + ": it is a terminal, not a sound\n");

    // The stream is held as it comes; its floats come on top, so it may
    // take half of what the run may hold.
    const double most = memoryAvailable() / 2;
    std::vector<char>& bytes = spool.bytes;
    std::size_t probe = 1 << 16;  // the size at which to ask whether it is a sound yet
    bool known = false;
    for (;;) {
        if (bytes.size() == bytes.capacity() && static_cast<double>(bytes.size()) * 2 > most)
            throw RunError("Not enough memory for this input and these settings\n");
        const std::size_t have = bytes.size();
        bytes.resize(std::max<std::size_t>(have + (1 << 16), bytes.capacity()));
        const ssize_t got = ::read(in.fd(), bytes.data() + have, bytes.size() - have);
        if (got < 0 && errno == EINTR) {
            bytes.resize(have);
            continue;
        }
        if (got < 0)
            throw RunError("Not able to read " + name + "\n" + std::strerror(errno) + "\n");
        bytes.resize(have + static_cast<std::size_t>(got));
        if (got == 0)
            break;
        if (!known && bytes.size() >= probe) {
            known = knownSoFar(spool);
            if (!known && bytes.size() >= kLongestHeader)
                break;  // the open below says what it is not
            probe *= 2;
        }
    }
    return openMemory(spool, info);
}

}  // namespace tessavo
