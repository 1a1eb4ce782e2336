#pragma once
// An output file that appears whole or not at all.
//
// The data is written to a temporary name in the destination's own folder,
// and only commit() renames it over the final name. A run that fails or is
// interrupted before that leaves any earlier file of the final name as it
// was, and the destructor removes the unfinished temporary file.

#include <string>

namespace tessavo {

class PendingFile {
public:
    explicit PendingFile(std::string finalName);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Where to write the contents.
    const std::string& tempName() const { return tempName_; }
    const std::string& finalName() const { return finalName_; }

    // Moves the finished temporary file to the final name. Throws RunError
    // ("Not able to write output file " + name) when the rename fails.
    void commit();

private:
    std::string finalName_;
    std::string tempName_;
    bool committed_ = false;
};

// Removes every temporary output file that is not yet committed. Safe to
// call from a signal handler.
void removePendingFiles();

}  // namespace tessavo
