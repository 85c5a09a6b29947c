#include "app/batch/source_guard.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vellumar::batch {

SourceGuard::SourceGuard(const std::vector<std::string>& sources)
    : sources_(sources),
      statError_(sources.size(), 0),
      started_(sources.size(), false),
      kept_(sources.size(), -1) {
    for (size_t i = 0; i < sources.size(); ++i) {
        struct stat st {};
        if (stat(sources[i].c_str(), &st) != 0) statError_[i] = errno;
        else rowsOf_.emplace(FileId{st.st_dev, st.st_ino}, int(i) + 1);
    }
    // Decoders open files by name; a kept descriptor is reached through its
    // /proc name, which opens the file even after its name was replaced.
    procFds_ = access("/proc/self/fd", R_OK | X_OK) == 0;
}

SourceGuard::~SourceGuard() {
    for (int fd : kept_)
        if (fd >= 0) close(fd);
}

std::string SourceGuard::ReadPath(int fd, const std::string& source) const {
    return procFds_ ? "/proc/self/fd/" + std::to_string(fd) : source;
}

SourceGuard::Opened SourceGuard::Open(int row) {
    const size_t i = size_t(row - 1);
    Opened o;
    std::lock_guard lock(mutex_);
    started_[i] = true;
    if (kept_[i] >= 0) {
        o.fd = kept_[i];
        kept_[i] = -1;
    } else if (statError_[i] != 0) {
        // Missing when the run started: whatever an earlier row may have put
        // there since is not what the user listed.
        o.error = statError_[i];
        return o;
    } else {
        o.fd = open(sources_[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (o.fd < 0) {
            o.error = errno;
            return o;
        }
    }
    o.readPath = ReadPath(o.fd, sources_[i]);
    return o;
}

void SourceGuard::Close(Opened& opened) {
    if (opened.fd >= 0) close(opened.fd);
    opened.fd = -1;
}

int SourceGuard::OpenKept(const std::string& path, const FileId& id) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            if (fstat(fd, &st) == 0 && FileId{st.st_dev, st.st_ino} == id) return fd;
            close(fd);
            errno = ESTALE;
            return -1;
        }
        if (errno != EMFILE) return -1;
        // A folder of thousands rotated into itself keeps thousands open.
        struct rlimit lim {};
        if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur >= lim.rlim_max) return -1;
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
    return -1;
}

bool SourceGuard::KeepBeforeReplacing(int row, const std::string& output, std::string& why) {
    struct stat st {};
    if (stat(output.c_str(), &st) != 0) return true;  // nothing there to lose
    const FileId id{st.st_dev, st.st_ino};
    std::lock_guard lock(mutex_);
    const auto [first, last] = rowsOf_.equal_range(id);
    for (auto it = first; it != last; ++it) {
        const int later = it->second;
        const size_t i = size_t(later - 1);
        if (later <= row || started_[i] || kept_[i] >= 0) continue;
        const int fd = procFds_ ? OpenKept(output, id) : -1;
        if (fd < 0) {
            why = "would replace " + sources_[i] + ", which row " + std::to_string(later) +
                  " has still to read";
            return false;
        }
        kept_[i] = fd;
    }
    return true;
}

}  // namespace vellumar::batch
