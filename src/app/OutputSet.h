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

// Descriptors a run needs besides those of its outputs: the standard
// streams, the input, the library's own.
constexpr int kOwnDescriptors = 16;

class OutputSet {
public:
    // Removes the temporaries that ended runs left in the outputs' folders,
    // then checks every name and creates its temporary, in the order given,
    // so that an unusable name (a folder, a name too long, a folder nobody
    // may write to) is found before any work. Throws RunError for the first
    // name that fails, or when the process may not hold a descriptor for
    // each; the temporaries made so far are removed.
    explicit OutputSet(const std::vector<std::string>& names);

    PendingFile& operator[](std::size_t i) { return *files_[i]; }
    std::size_t size() const { return files_.size(); }

    // How many outputs may be written at once within the limit of open
    // files, beside the descriptors the set holds (at least 1).
    int writersAtOnce() const;

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
