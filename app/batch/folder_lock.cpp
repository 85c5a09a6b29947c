#include "app/batch/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "app/batch/commit_journal.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

// What a killed run left: its renames are finished first, since its
// temporary files may be the only copies of pictures.
void Recover(const std::string& folder) {
    std::vector<std::string> keep;
    FinishJournals(folder, keep);
    if (std::find(keep.begin(), keep.end(), std::string()) != keep.end()) return;
    VxRemoveDeadTemporaries(folder, [&](const std::string& name) {
        return std::find(keep.begin(), keep.end(), name) != keep.end();
    });
}

std::string Holder(int fd) {
    char buf[32] = {};
    const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    std::string pid(buf, n > 0 ? size_t(n) : 0);
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    const bool digits = !pid.empty() && std::all_of(pid.begin(), pid.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
    return digits ? " (process " + pid + ")" : "";
}

}  // namespace

std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, FolderLocking mode,
                                             std::string& why) {
    const std::string path = folder + "/" + kFolderLockName;
    // A holder that ends removes the file; one who opened it just before must
    // not lock a file nobody else can find: try again with the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        const int err = errno;
        // Another user's lock file can still be locked through a reading descriptor.
        if (fd < 0 && err == EACCES) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            why = VxSaveErrorText(("cannot lock the folder " + folder).c_str(), err);
            return nullptr;
        }
        bool exclusive = flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!exclusive && (mode != FolderLocking::Shared || flock(fd, LOCK_SH | LOCK_NB) != 0)) {
            why = "another conversion is writing into " + folder + Holder(fd) +
                  "; try again when it has finished";
            close(fd);
            return nullptr;
        }
        struct stat mine {}, named {};
        if (fstat(fd, &mine) != 0 || lstat(path.c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
            mine.st_ino != named.st_ino) {
            close(fd);
            continue;
        }
        if (exclusive) {
            Recover(folder);
            if (mode == FolderLocking::Shared) {
                flock(fd, LOCK_SH);
                exclusive = false;
            } else {
                const std::string pid = std::to_string(getpid()) + "\n";
                if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid.data(), pid.size(), 0);
            }
        }
        return std::unique_ptr<FolderLock>(new FolderLock(path, fd, exclusive));
    }
    why = "cannot lock the folder " + folder + ": its lock file keeps changing";
    return nullptr;
}

FolderLock::~FolderLock() {
    // Only a sole holder may remove the file; a sharer that can take it alone
    // was the last. Whoever opened the file meanwhile finds it gone and retries.
    if (exclusive_ || flock(fd_, LOCK_EX | LOCK_NB) == 0) unlink(path_.c_str());
    close(fd_);
}

bool FolderLocks::Hold(const std::string& folder, std::string& why) {
    if (mode_ == FolderLocking::None) return true;
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) {
        // No folder, no file of anyone's in it: the save says why it cannot write.
        if (errno == ENOENT || errno == ENOTDIR) return true;
        why = VxSaveErrorText(("cannot lock the folder " + folder).c_str(), errno);
        return false;
    }
    std::lock_guard lock(mutex_);
    const std::pair<dev_t, ino_t> key{st.st_dev, st.st_ino};
    if (held_.count(key)) return true;
    std::unique_ptr<FolderLock> taken = FolderLock::Take(folder, mode_, why);
    if (!taken) return false;
    held_.emplace(key, std::move(taken));
    return true;
}

}  // namespace vellumar::batch
