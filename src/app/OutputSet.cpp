#include "app/OutputSet.h"

#include "app/RunError.h"
#include "app/Signals.h"

#include "separation/OutputStage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessavo {

namespace {

std::string folderOf(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

// Every output's lock holds a descriptor for the whole run, besides those
// of the outputs written at once and the run's own: the soft limit is raised
// as far as that needs and the hard limit allows.
void reserveDescriptors(std::size_t outputs)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return;
    const rlim_t wanted = outputs + kOutputsAtOnce + kOwnDescriptors;
    if (files.rlim_cur < wanted) {
        files.rlim_cur = files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &files) != 0 || getrlimit(RLIMIT_NOFILE, &files) != 0)
            return;
    }
    if (files.rlim_cur < outputs + kOwnDescriptors + 1)
        throw RunError("Not able to hold " + std::to_string(outputs) + " output files open: this process may open " +
                       std::to_string(files.rlim_cur) + " files (ulimit -n)\n");
}

}  // namespace

OutputSet::OutputSet(const std::vector<std::string>& names)
{
    reserveDescriptors(names.size());
    std::set<std::string> folders;
    for (const std::string& name : names)
        folders.insert(folderOf(name));
    for (const std::string& folder : folders)
        removeAbandonedTemporaries(folder);
    for (const std::string& name : names)
        files_.push_back(std::make_unique<PendingFile>(name));
}

int OutputSet::writersAtOnce() const
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return kOutputsAtOnce;
    const auto spare = static_cast<long long>(files.rlim_cur) - kOwnDescriptors - static_cast<long long>(size());
    return static_cast<int>(std::clamp<long long>(spare, 1, kOutputsAtOnce));
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
