#pragma once
// What a folder holds, to show that a failed run changed nothing in it.

#include <map>
#include <string>
#include <vector>

namespace tessavo::test {

void writeBytes(const std::string& path, const std::string& bytes);

// Every entry of a folder tree (relative name) with what it holds: the bytes
// of a small file, the size of a large one, the target of a link.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir);

std::vector<std::string> names(const Snapshot& s);
// The names of a folder's own entries, sorted.
std::vector<std::string> listing(const std::string& dir);
// Names in both snapshots whose contents differ.
std::vector<std::string> changed(const Snapshot& before, const Snapshot& after);

}  // namespace tessavo::test
