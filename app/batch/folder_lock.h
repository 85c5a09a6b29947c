// One run at a time converts into a folder: a run holds the folder's lock file
// (flock on .vellumar-lock) from its first file there to its end, so that two
// runs never plan replacements that destroy each other's sources. Callers that
// write single files (the Python package) share the lock with each other.
// Taking the lock alone also finishes what a killed run left there: its commit
// journals, then its temporary files.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace vellumar::batch {

enum class FolderLocking {
    Exclusive,  // a run
    Shared,     // single files, any number at once
    None,       // the caller holds the lock (one share of a distributed run)
};

class FolderLock {
public:
    // Takes the lock of `folder` without waiting; null with `why` when another
    // run holds it or the lock file cannot be made.
    static std::unique_ptr<FolderLock> Take(const std::string& folder, FolderLocking mode,
                                            std::string& why);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    FolderLock(std::string path, int fd, bool exclusive)
        : path_(std::move(path)), fd_(fd), exclusive_(exclusive) {}
    std::string path_;
    int fd_;
    bool exclusive_;
};

// The locks of one run: each folder taken once, however it is spelled, from
// any worker thread.
class FolderLocks {
public:
    explicit FolderLocks(FolderLocking mode) : mode_(mode) {}
    // True when the run holds `folder` (now or already); false with `why`.
    bool Hold(const std::string& folder, std::string& why);

private:
    FolderLocking mode_;
    std::mutex mutex_;
    std::map<std::pair<dev_t, ino_t>, std::unique_ptr<FolderLock>> held_;
};

}  // namespace vellumar::batch
