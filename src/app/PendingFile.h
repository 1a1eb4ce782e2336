#pragma once
// An output file that appears whole or not at all.
//
// The data goes to a new temporary file in the destination's own folder,
// created exclusively under a name nobody can guess (never through an
// existing file or link), and written through its descriptor. Only commit()
// renames it over the final name. A run that fails or is interrupted before
// that leaves any earlier file of the final name as it was: the destructor,
// or the signal handler through removePendingFiles(), removes the temporary.
//
// A run killed outright (SIGKILL, a power cut) cannot remove anything, so
// every temporary carries an advisory lock (flock) for as long as its run
// lives: a later run takes the temporaries whose lock is free for abandoned
// ones and removes them (removeAbandonedTemporaries), and never touches those
// of a run still at work.

#include <string>
#include <sys/stat.h>

namespace tessavo {

class PendingFile {
public:
    // Checks that finalName can become a file (it is not a folder, and the
    // system accepts the name) and creates the empty temporary, locked.
    // Throws RunError ("Not able to open output file " + name, a line end,
    // then the system's reason with no line end) when either fails. The lock
    // holds one descriptor until commit() or destruction.
    explicit PendingFile(std::string finalName);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& finalName() const { return finalName_; }
    const std::string& tempName() const { return tempName_; }

    // Opens the temporary for reading and writing (the sound library reads
    // back headers), without following a link, and checks that it is still
    // the file this object created. Throws RunError as the constructor does.
    void open();
    // The descriptor from open(); -1 before it and after finish().
    int descriptor() const { return fd_; }
    // Closes the descriptor. A failed close (a write error the file system
    // reports late) throws RunError ("Not able to write output file " + name).
    void finish();

    // Moves the finished temporary to the final name. Throws RunError
    // ("Not able to write output file " + name) when the rename fails.
    void commit();

private:
    // Locks the new temporary fd and checks that it still has its name.
    bool lockAsOwn(int fd, struct stat& st);

    std::string finalName_;
    std::string tempName_;
    unsigned long long device_ = 0, inode_ = 0;  // of the temporary
    int lock_ = -1;  // holds the temporary's lock while it is not committed
    int fd_ = -1;
    bool committed_ = false;
};

// Removes every temporary file that is not yet committed. Safe to call from
// a signal handler: it only reads fixed storage and calls unlink.
void removePendingFiles();

// Removes from folder the temporaries of runs that ended without removing
// them: this user's regular files named like a temporary (".part-" and ten
// letters or digits at the end) whose lock can be taken. Anything that
// cannot be read or locked is left alone.
void removeAbandonedTemporaries(const std::string& folder);

}  // namespace tessavo
