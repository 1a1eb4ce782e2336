#include "app/OutputSet.h"

#include "app/RunError.h"
#include "app/Signals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessavo {

OutputSet::OutputSet(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        files_.push_back(std::make_unique<PendingFile>(name));
}

void OutputSet::commit()
{
    for (const auto& file : files_)
        file->finish();
    HeldSignals held;
    for (const auto& file : files_)
        file->commit();
}

void checkOutputFolder(const std::string& folder)
{
    struct stat st {};
    int error = 0;
    if (stat(folder.c_str(), &st) != 0)
        error = errno;
    else if (!S_ISDIR(st.st_mode))
        error = ENOTDIR;
    // Creating a file takes write and search permission, with this process's
    // own identity, on a file system that is not read-only.
    else if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0)
        throw RunError("Not able to use output folder " + folder + "\n" + std::strerror(error));
}

}  // namespace tessavo
