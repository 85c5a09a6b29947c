#include "core/vx_save_path.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string TemporaryPrefix(const std::string& tag) {
    return tag.empty() ? ".vxtmp-" : ".vxtmp-" + tag + "-";
}

}  // namespace

bool VxFollowLinks(const std::string& path, std::string& file) {
    file = path;
    // The limit the kernel puts on links followed while resolving one name.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(file.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t n = readlink(file.c_str(), target.data(), target.size());
        if (n < 0) return true;  // gone meanwhile: the name itself is replaced
        target.resize(size_t(n));
        file = target[0] == '/' ? target : Folder(file) + "/" + target;
    }
    errno = ELOOP;
    return false;
}

int VxCreateTemporaryBeside(const std::string& file, std::string& tmpPath,
                            const std::string& tag) {
    tmpPath = Folder(file) + "/" + TemporaryPrefix(tag) + "XXXXXX";
    const int fd = mkostemp(tmpPath.data(), O_CLOEXEC);
    if (fd < 0) {
        tmpPath.clear();
        return -1;
    }
    // mkstemp makes 0600 files. Replacing a file keeps its access as it was:
    // never wider (a private file stays private), never narrower.
    mode_t mode = 0666 & ~CurrentUmask();
    struct stat old {};
    if (stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
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

int VxRemoveTemporaries(const std::string& folder, const std::string& tag) {
    const std::string prefix = TemporaryPrefix(tag);
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        // mkstemp's six characters follow the prefix.
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            unlinkat(dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

std::string VxSaveErrorText(const char* step, int err) {
    char buf[128];
    // The GNU strerror_r: thread-safe, returns the text (maybe not in buf).
    const char* why = strerror_r(err, buf, sizeof(buf));
    return std::string(step) + ": " + why;
}
