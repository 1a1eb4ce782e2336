#pragma once
// Every output file of a run, all or nothing: each is written under its own
// temporary name, and all are renamed into place together once every one is
// complete. A run that fails or is interrupted before then leaves the folder
// exactly as it was.

#include "app/PendingFile.h"

#include <memory>
#include <string>
#include <vector>

namespace tessavo {

class OutputSet {
public:
    // Checks every name and creates its temporary, in the order given, so
    // that an unusable name (a folder, a name too long, a folder nobody may
    // write to) is found before any work. Throws RunError for the first
    // name that fails; the temporaries made so far are removed.
    explicit OutputSet(const std::vector<std::string>& names);

    PendingFile& operator[](std::size_t i) { return *files_[i]; }
    std::size_t size() const { return files_.size(); }

    // Renames every file into place, with the terminating signals held back
    // meanwhile, so that an interruption cannot leave part of the set renamed.
    void commit();

private:
    std::vector<std::unique_ptr<PendingFile>> files_;
};

// Throws RunError ("Not able to use output folder " + folder, a line end,
// then the system's reason with no line end) unless folder exists, is a
// folder (or a link to one), and this process may create files in it.
void checkOutputFolder(const std::string& folder);

}  // namespace tessavo
