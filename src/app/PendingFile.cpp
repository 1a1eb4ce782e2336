#include "app/PendingFile.h"

#include "app/RunError.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
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

constexpr char kTemporaryMark[] = ".part-";
constexpr std::size_t kTagLength = 10;

std::string openFailure(const std::string& name, int error)
{
    return "Not able to open output file " + name + "\n" + std::strerror(error);
}

// Ten characters from the system's random source: a name that a process
// planting links cannot guess.
std::string randomTag()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kTagLength];
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
    const std::string suffix = kTemporaryMark + randomTag();
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
        int error = errno;
        if (fd >= 0) {
            if (lockAsOwn(fd, st))
                break;
            // Another run, cleaning up, took it between its creation and the
            // lock, and removes it: draw another name.
            close(fd);
            error = EEXIST;
        }
        unregisterName(tempName_);
        if (error != EEXIST || attempt == 100)
            throw RunError(openFailure(finalName_, error));
    }
}

bool PendingFile::lockAsOwn(int fd, struct stat& st)
{
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        // A file system without locks: the temporary is unlocked, and no run
        // can lock it to remove it either.
        if (errno != EINTR)
            break;
    }
    struct stat named {};
    if (fstat(fd, &st) != 0 || lstat(tempName_.c_str(), &named) != 0 || named.st_dev != st.st_dev ||
        named.st_ino != st.st_ino)
        return false;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    lock_ = fd;
    return true;
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
    if (lock_ >= 0)
        close(lock_);
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
    close(lock_);
    lock_ = -1;
}

void removePendingFiles()
{
    for (Entry* e = registry.load(std::memory_order_acquire); e; e = e->next)
        if (e->state.load(std::memory_order_acquire) == kLive)
            unlink(e->name);
}

void removeAbandonedTemporaries(const std::string& folder)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return;  // creating the outputs' temporaries reports what is wrong
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        const std::size_t mark = name.size() - std::min(name.size(), kTagLength + sizeof kTemporaryMark - 1);
        if (mark == 0 || name.compare(mark, sizeof kTemporaryMark - 1, kTemporaryMark) != 0 ||
            !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(mark + sizeof kTemporaryMark - 1), name.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
            continue;
        const std::string path = folder + "/" + name;
        struct stat named {}, opened {};
        if (lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_uid != geteuid())
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Free: its run has ended. Still the file that was looked at: not
        // renamed into place by a run that has just finished.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            unlink(path.c_str());
        close(fd);
    }
}

}  // namespace tessavo
