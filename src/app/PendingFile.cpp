#include "app/PendingFile.h"

#include "app/RunError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace tessavo {

namespace {

// Temporary names still on disk, kept in fixed storage so that a signal
// handler can remove them without allocating.
constexpr int maxPending = 4;
constexpr std::size_t maxNameBytes = 4096;
char pendingNames[maxPending][maxNameBytes];
volatile int pendingUsed[maxPending];
std::mutex pendingMutex;

int registerPending(const std::string& name)
{
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (name.size() >= maxNameBytes)
        return -1;
    for (int i = 0; i < maxPending; ++i) {
        if (!pendingUsed[i]) {
            std::memcpy(pendingNames[i], name.c_str(), name.size() + 1);
            pendingUsed[i] = 1;
            return i;
        }
    }
    return -1;
}

void unregisterPending(const std::string& name)
{
    std::lock_guard<std::mutex> lock(pendingMutex);
    for (int i = 0; i < maxPending; ++i)
        if (pendingUsed[i] && name == pendingNames[i])
            pendingUsed[i] = 0;
}

}  // namespace

PendingFile::PendingFile(std::string finalName)
    : finalName_(std::move(finalName)),
      tempName_(finalName_ + ".part-" + std::to_string(static_cast<long>(getpid())))
{
    registerPending(tempName_);
}

PendingFile::~PendingFile()
{
    if (!committed_)
        std::remove(tempName_.c_str());
    unregisterPending(tempName_);
}

void PendingFile::commit()
{
    if (std::rename(tempName_.c_str(), finalName_.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        throw RunError("Not able to write output file " + finalName_ + "\n" + reason);
    }
    committed_ = true;
}

void removePendingFiles()
{
    for (int i = 0; i < maxPending; ++i)
        if (pendingUsed[i])
            unlink(pendingNames[i]);
}

}  // namespace tessavo
