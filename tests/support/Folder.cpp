#include "support/Folder.h"

#include "support/Program.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace tessavo::test {

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

Snapshot snapshot(const std::string& dir)
{
    Snapshot s;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(e.path(), dir).string();
        if (e.is_symlink())
            s[name] = "<link to " + fs::read_symlink(e.path()).string() + ">";
        else if (e.is_directory())
            s[name] = "<folder>";
        else if (!e.is_regular_file())
            s[name] = "<special file>";
        else if (e.file_size() > (1u << 20))
            s[name] = "<" + std::to_string(e.file_size()) + " bytes>";
        else
            s[name] = readFile(e.path().string());
    }
    return s;
}

std::vector<std::string> names(const Snapshot& s)
{
    std::vector<std::string> n;
    for (const auto& [name, contents] : s)
        n.push_back(name);
    return n;
}

std::vector<std::string> listing(const std::string& dir)
{
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(dir))
        entries.push_back(e.path().filename().string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> changed(const Snapshot& before, const Snapshot& after)
{
    std::vector<std::string> n;
    for (const auto& [name, contents] : before) {
        const auto other = after.find(name);
        if (other != after.end() && other->second != contents)
            n.push_back(name);
    }
    return n;
}

}  // namespace tessavo::test
