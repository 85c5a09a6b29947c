#include "app/batch/source_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/batch/memory_budget.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

std::string OpenError(int err) { return VxSaveErrorText("cannot open the file", err); }

// A pipe or device copied into an anonymous file, which decoders can seek in.
// The wait for data polls the cancel request, so a signal ends a run whose
// pipe never gets a writer.
int ReadOnce(int in, const std::function<bool()>& cancelled, uint64_t limit, std::string& error) {
    const int copy = memfd_create("vellumar-source", MFD_CLOEXEC);
    if (copy < 0) {
        error = OpenError(errno);
        return -1;
    }
    char buf[65536];
    uint64_t total = 0;
    for (;;) {
        if (cancelled && cancelled()) {
            error = "cancelled";
            break;
        }
        pollfd p{in, POLLIN, 0};
        const int ready = poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) {
            error = OpenError(errno);
            break;
        }
        // A pipe reports nothing until its first writer comes, then data or
        // the end once the last writer has gone.
        if (ready <= 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n < 0) {
            error = VxSaveErrorText("cannot read the file", errno);
            break;
        }
        if (n == 0) {
            lseek(copy, 0, SEEK_SET);
            return copy;
        }
        total += uint64_t(n);
        if (total > limit) {
            error = "cannot read the file: a pipe or device giving more than " + BytesText(limit) +
                    " (the memory budget)";
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = write(copy, buf + at, size_t(n - at));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error = VxSaveErrorText("cannot read the file", errno);
                close(copy);
                return -1;
            }
            at += w;
        }
    }
    close(copy);
    return -1;
}

}  // namespace

SourceGuard::SourceGuard(const std::vector<std::string>& sources)
    : sources_(sources),
      statError_(sources.size(), 0),
      keys_(sources.size()),
      files_(sources.size(), {0, 0}) {
    for (size_t i = 0; i < sources.size(); ++i) {
        struct stat st {};
        if (stat(sources[i].c_str(), &st) != 0) {
            statError_[i] = errno;
            continue;
        }
        keys_[i] = KeysReadThrough(sources[i]);
        files_[i] = {st.st_dev, st.st_ino};
    }
    // Decoders open files by name; an open descriptor is reached through its
    // /proc name, which reads the file even after its name was replaced.
    procFds_ = access("/proc/self/fd", R_OK | X_OK) == 0;
}

bool SourceGuard::SameFile(int a, int b) const {
    const auto& x = files_[size_t(a - 1)];
    return statError_[size_t(a - 1)] == 0 && statError_[size_t(b - 1)] == 0 &&
           x == files_[size_t(b - 1)];
}

SourceGuard::Opened SourceGuard::Open(int row, const std::function<bool()>& cancelled,
                                      uint64_t pipeLimit) const {
    const size_t i = size_t(row - 1);
    Opened o;
    if (statError_[i] != 0) {
        // Missing when the run started: whatever an earlier row may have put
        // there since is not what the user listed.
        o.error = OpenError(statError_[i]);
        return o;
    }
    // Not blocking: opening a pipe would otherwise wait for a writer, beyond
    // the reach of a cancel.
    const int fd = open(sources_[i].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        o.error = OpenError(errno);
        return o;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        o.error = OpenError(errno);
        close(fd);
        return o;
    }
    if (S_ISDIR(st.st_mode)) {
        o.error = OpenError(EISDIR);
        close(fd);
        return o;
    }
    if (S_ISREG(st.st_mode)) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        o.fd = fd;
    } else if (!procFds_) {
        o.error = "cannot read the file: a pipe or device can only be read through /proc";
        close(fd);
        return o;
    } else {
        o.fd = ReadOnce(fd, cancelled, pipeLimit, o.error);
        close(fd);
        if (o.fd < 0) return o;
    }
    o.readPath = procFds_ ? "/proc/self/fd/" + std::to_string(o.fd) : sources_[i];
    return o;
}

void SourceGuard::Close(Opened& opened) {
    if (opened.fd >= 0) close(opened.fd);
    opened.fd = -1;
}

}  // namespace vellumar::batch
