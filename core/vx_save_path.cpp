#include "core/vx_save_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Read once: umask can only be read by setting it, which two saving threads
// must not do at the same time (one could see the other's 0), and a batch
// need not pay two system calls a file for it.
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

constexpr char kPrefix[] = ".vxtmp-";
constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
constexpr size_t kRandomLength = 6;  // mkstemp's XXXXXX

std::string TemporaryPrefix(const std::string& tag) {
    return tag.empty() ? kPrefix : kPrefix + tag + "-";
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string VxFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool VxReplaceable(const std::string& file, std::string& why) {
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
        why = VxSaveErrorText("cannot create the output file", errno);
        return false;
    }
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return true;
    // A device or a pipe would be swapped for a plain file under its user.
    why = S_ISDIR(st.st_mode) ? VxSaveErrorText("cannot replace the output file", EISDIR)
                              : "cannot replace the output file: it is not a regular file";
    return false;
}

int VxCreateTemporaryBeside(const std::string& file, std::string& tmpPath,
                            const std::string& tag) {
    tmpPath = VxFolderOf(file) + "/" + TemporaryPrefix(tag) + "XXXXXX";
    const int fd = mkostemp(tmpPath.data(), O_CLOEXEC);
    if (fd < 0) {
        tmpPath.clear();
        return -1;
    }
    // Nobody else has the name yet, so this never waits.
    flock(fd, LOCK_EX | LOCK_NB);
    // mkstemp makes 0600 files. Replacing a file keeps its access as it was:
    // never wider (a private file stays private), never narrower. A link is
    // replaced, so what it points to says nothing about the new file.
    mode_t mode = 0666 & ~CurrentUmask();
    struct stat old {};
    if (lstat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 0777;
        struct stat made {};
        // Group bits are about the old file's group; without it they would
        // open the picture to ours.
        if (fstat(fd, &made) == 0 && made.st_gid != old.st_gid &&
            fchown(fd, uid_t(-1), old.st_gid) != 0)
            mode &= ~mode_t(070);
    }
    fchmod(fd, mode);
    return fd;
}

bool VxIsTemporaryName(const std::string& name) {
    if (name.size() < kPrefixLength + kRandomLength || name.compare(0, kPrefixLength, kPrefix) != 0)
        return false;
    // An optional tag of letters and digits and its dash, then six characters.
    const size_t tagEnd = name.size() - kRandomLength;
    if (tagEnd == kPrefixLength) return true;
    if (name[tagEnd - 1] != '-' || tagEnd - 1 == kPrefixLength) return false;
    for (size_t i = kPrefixLength; i + 1 < tagEnd; ++i)
        if (!IsAlnum(name[i])) return false;
    return true;
}

int VxRemoveTemporaries(const std::string& folder, const std::string& tag) {
    const std::string prefix = TemporaryPrefix(tag);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() == prefix.size() + kRandomLength &&
            name.compare(0, prefix.size(), prefix) == 0 &&
            unlinkat(dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

int VxRemoveDeadTemporaries(const std::string& folder,
                            const std::function<bool(const std::string&)>& keep) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!VxIsTemporaryName(name) || (keep && keep(name))) continue;
        const int fd = openat(dirfd(dir), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        // A writer holds its file locked; one nobody holds was left by a
        // process that died before it could rename or remove it.
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            unlinkat(dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
        close(fd);
    }
    closedir(dir);
    return removed;
}

bool VxSyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

std::string VxSaveErrorText(const char* step, int err) {
    char buf[128];
    // The GNU strerror_r: thread-safe, returns the text (maybe not in buf).
    const char* why = strerror_r(err, buf, sizeof(buf));
    return std::string(step) + ": " + why;
}
