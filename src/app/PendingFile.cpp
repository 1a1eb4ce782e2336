#include "app/PendingFile.h"

#include "app/RunError.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessavo {

namespace {

// The temporary names still on disk, for the signal handler. Entries are
// never freed, only marked free and reused, so the handler can walk the list
// at any moment without a lock and without allocating.
struct Entry {
    std::atomic<int> state{0};  // kFree, kFilling or kLive
    std::size_t capacity = 0;
    char* name = nullptr;
    Entry* next = nullptr;
};
constexpr int kFree = 0, kFilling = 1, kLive = 2;
std::atomic<Entry*> registry{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<Entry*>::is_always_lock_free,
              "the signal handler reads the registry without a lock");

Entry* registerName(const std::string& name)
{
    for (Entry* e = registry.load(std::memory_order_acquire); e; e = e->next) {
        int expected = kFree;
        if (e->capacity > name.size() && e->state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(e->name, name.c_str(), name.size() + 1);
            e->state.store(kLive, std::memory_order_release);
            return e;
        }
    }
    auto* e = new Entry;
    e->capacity = std::max<std::size_t>(name.size() + 1, 256);
    e->name = new char[e->capacity];
    std::memcpy(e->name, name.c_str(), name.size() + 1);
    e->state.store(kLive, std::memory_order_relaxed);
    e->next = registry.load(std::memory_order_relaxed);
    while (!registry.compare_exchange_weak(e->next, e, std::memory_order_release, std::memory_order_relaxed)) {
    }
    return e;
}

void unregisterName(const std::string& name)
{
    for (Entry* e = registry.load(std::memory_order_acquire); e; e = e->next)
        if (e->state.load(std::memory_order_acquire) == kLive && name == e->name) {
            e->state.store(kFree, std::memory_order_release);
            return;
        }
}

std::string openFailure(const std::string& name, int error)
{
    return "Not able to open output file " + name + "\n" + std::strerror(error);
}

// Ten characters from the system's random source: a name that a process
// planting links cannot guess.
std::string randomTag()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[10];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            throw RunError(std::string("Not able to draw a temporary file name\n") + std::strerror(errno));
    }
    std::string tag;
    for (unsigned char b : bytes)
        tag += alphabet[b % (sizeof alphabet - 1)];
    return tag;
}

// finalName's folder and file name with ".part-" and a random tag after it,
// the file name cut short where the whole would be longer than a file name
// may be.
std::string temporaryName(const std::string& finalName)
{
    const std::size_t slash = finalName.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::string suffix = ".part-" + randomTag();
    const std::size_t keep = std::min(finalName.size() - start, std::size_t{NAME_MAX} - suffix.size());
    return finalName.substr(0, start + keep) + suffix;
}

}  // namespace

PendingFile::PendingFile(std::string finalName) : finalName_(std::move(finalName))
{
    struct stat st {};
    if (lstat(finalName_.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            throw RunError(openFailure(finalName_, EISDIR));
    } else if (errno != ENOENT) {
        throw RunError(openFailure(finalName_, errno));
    }

    for (int attempt = 0;; ++attempt) {
        tempName_ = temporaryName(finalName_);
        // Registered before it exists, so that no moment passes in which the
        // file is on disk and unknown to the signal handler.
        registerName(tempName_);
        const int fd = ::open(tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (fstat(fd, &st) == 0) {
                device_ = st.st_dev;
                inode_ = st.st_ino;
            }
            close(fd);
            break;
        }
        const int error = errno;
        unregisterName(tempName_);
        if (error != EEXIST || attempt == 100)
            throw RunError(openFailure(finalName_, error));
    }
}

void PendingFile::open()
{
    if (fd_ >= 0)
        return;
    fd_ = ::open(tempName_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0)
        throw RunError(openFailure(finalName_, errno));
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_dev != device_ || st.st_ino != inode_) {
        close(fd_);
        fd_ = -1;
        throw RunError("Not able to open output file " + finalName_ + "\nits temporary file " + tempName_ +
                       " was replaced by another program");
    }
}

PendingFile::~PendingFile()
{
    if (fd_ >= 0)
        close(fd_);
    if (!committed_)
        unlink(tempName_.c_str());
    unregisterName(tempName_);
}

void PendingFile::finish()
{
    if (fd_ < 0)
        return;
    const int result = close(fd_);
    fd_ = -1;
    if (result != 0)
        throw RunError("Not able to write output file " + finalName_ + "\n" + std::strerror(errno));
}

void PendingFile::commit()
{
    finish();
    if (std::rename(tempName_.c_str(), finalName_.c_str()) != 0)
        throw RunError("Not able to write output file " + finalName_ + "\n" + std::strerror(errno));
    committed_ = true;
    unregisterName(tempName_);
}

void removePendingFiles()
{
    for (Entry* e = registry.load(std::memory_order_acquire); e; e = e->next)
        if (e->state.load(std::memory_order_acquire) == kLive)
            unlink(e->name);
}

}  // namespace tessavo
