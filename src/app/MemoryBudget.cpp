#include "app/MemoryBudget.h"

#include "app/RunError.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace tessavo {

namespace {

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string word; in >> word;)
        w.push_back(word);
    return w;
}

bool hasItem(const std::string& list, const std::string& item)
{
    std::istringstream in(list);
    for (std::string part; std::getline(in, part, ',');)
        if (part == item)
            return true;
    return false;
}

// The cgroup path of this process in the hierarchy that a mount with these
// super options (v1) or of type cgroup2 (v2) shows, from /proc/self/cgroup.
std::string cgroupPath(const std::string& cgroup, bool v2)
{
    std::istringstream in(cgroup);
    for (std::string line; std::getline(in, line);) {
        const std::size_t a = line.find(':');
        const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos)
            continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        if (v2 ? controllers.empty() && line.compare(0, a, "0") == 0 : hasItem(controllers, "memory"))
            return line.substr(b + 1);
    }
    return "";
}

double byteValue(const std::string& text)
{
    std::istringstream in(text);
    double v = -1;
    if (!(in >> v))
        return -1;  // "max", or unreadable
    // cgroup v1 shows no limit as a number near 2^63.
    return v >= 4.0e18 ? -1 : v;
}

double physicalMemory()
{
    return static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Pages of this process's address space and of its resident set.
void ownSize(double& virtualBytes, double& residentBytes)
{
    std::istringstream in(fileText("/proc/self/statm"));
    double pages = 0, resident = 0;
    in >> pages >> resident;
    const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
    virtualBytes = pages * page;
    residentBytes = resident * page;
}

double threadStackBytes()
{
    pthread_attr_t attr;
    std::size_t size = 8u << 20;
    if (pthread_getattr_default_np(&attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    return static_cast<double>(size);
}

}  // namespace

double cgroupMemoryLimit(const std::string& mountinfo, const std::string& cgroup,
                         std::string (*readFile)(const std::string& path))
{
    double limit = -1;
    std::istringstream in(mountinfo);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> w = words(line);
        const auto dash = std::find(w.begin(), w.end(), "-");
        if (w.size() < 5 || dash == w.end() || w.end() - dash < 4)
            continue;
        const std::string& type = dash[1];
        const bool v2 = type == "cgroup2";
        if (!v2 && !(type == "cgroup" && hasItem(dash[3], "memory")))
            continue;
        const std::string root = w[3];
        const std::string mountPoint = w[4];
        std::string path = cgroupPath(cgroup, v2);
        if (path.empty() || path.compare(0, root.size(), root) != 0)
            continue;
        path = root == "/" ? path : path.substr(root.size());
        const char* file = v2 ? "/memory.max" : "/memory.limit_in_bytes";
        // This cgroup and every one above it, up to the mount's root.
        for (std::string dir = mountPoint + (path == "/" ? "" : path);;) {
            const double value = byteValue(readFile(dir + file));
            if (value >= 0)
                limit = limit < 0 ? value : std::min(limit, value);
            if (dir.size() <= mountPoint.size())
                break;
            dir.erase(dir.rfind('/'));
        }
    }
    return limit;
}

double memoryAvailable()
{
    double virtualBytes = 0, residentBytes = 0;
    ownSize(virtualBytes, residentBytes);
    double available = physicalMemory() - residentBytes;
    const double cgroup = cgroupMemoryLimit(fileText("/proc/self/mountinfo"), fileText("/proc/self/cgroup"), fileText);
    if (cgroup >= 0)
        available = std::min(available, cgroup - residentBytes);
    struct rlimit as {};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) {
        // The address space also holds the stacks of the threads the run starts.
        const double stacks = 4.0 * threadStackBytes();
        available = std::min(available, static_cast<double>(as.rlim_cur) - virtualBytes - stacks);
    }
    return available;
}

void checkMemory(const RunShape& shape)
{
    const MemoryNeed need = separationMemory(shape);
    const double available = memoryAvailable();
    if (need.total <= available)
        return;
    if (need.withoutFactors <= available) {
        const long long rows = shape.frames / (shape.fftLength / shape.overlap) + 1;
        throw RunError("Not able to hold " + std::to_string(shape.components) + " components for " +
                       std::to_string(rows) + " frames and " + std::to_string(shape.fftLength / 2) +
                       " bins: too many components\n");
    }
    throw RunError("Not enough memory for this input and these settings\n");
}

}  // namespace tessavo
