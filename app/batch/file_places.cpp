#include "app/batch/file_places.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vellumar {

namespace {

std::string AbsoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    // Relative values are invalid for the XDG variables and must be ignored.
    return v && v[0] == '/' ? std::string(v) : std::string();
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty()) return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return "/";
}

std::string EnvOr(const char* name, const std::string& home, const char* fallback) {
    std::string v = AbsoluteEnv(name);
    return v.empty() ? home + fallback : v;
}

bool PrivateOwnedFolder(const std::string& dir) {
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

UserFolders UserFolders::FromEnvironment() {
    std::string home = HomeFolder();
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") home.clear();
    UserFolders u;
    u.dataHome = EnvOr("XDG_DATA_HOME", home, "/.local/share");
    u.configHome = EnvOr("XDG_CONFIG_HOME", home, "/.config");
    u.cacheHome = EnvOr("XDG_CACHE_HOME", home, "/.cache");
    u.runtimeDir = AbsoluteEnv("XDG_RUNTIME_DIR");
    // A runtime folder that others can reach is no place for code we load.
    if (!u.runtimeDir.empty() && !PrivateOwnedFolder(u.runtimeDir)) u.runtimeDir.clear();
    return u;
}

bool SystemInstall() {
#ifdef VELLUMAR_SYSTEM_INSTALL
    return true;
#else
    return false;
#endif
}

FilePlaces ChooseFilePlaces(const std::string& programDir, bool portable,
                            const UserFolders& user) {
    FilePlaces p;
    p.portable = portable;
    p.base = portable ? programDir : user.dataHome + "/vellumar";
    p.skinData = portable ? programDir : user.configHome + "/vellumar";
    p.privateDir = (user.runtimeDir.empty() ? user.cacheHome : user.runtimeDir) + "/vellumar";
    return p;
}

FilePlaces PlacesFor(const std::string& programDir) {
    const bool portable = !SystemInstall() && access(programDir.c_str(), W_OK) == 0;
    return ChooseFilePlaces(programDir, portable, UserFolders::FromEnvironment());
}

bool MakeDirectories(const std::string& dir, unsigned mode, std::vector<std::string>* made) {
    std::vector<std::string> mine;
    size_t pos = 0;
    int err = 0;
    while (pos <= dir.size()) {
        const size_t slash = dir.find('/', pos);
        const std::string partial = dir.substr(0, slash == std::string::npos ? dir.size() : slash);
        if (!partial.empty()) {
            if (mkdir(partial.c_str(), mode_t(mode)) == 0) mine.push_back(partial);
            else if (errno != EEXIST) {
                err = errno;
                break;
            }
        }
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    struct stat st {};
    if (!err && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (made) made->insert(made->end(), mine.begin(), mine.end());
        return true;
    }
    if (!err) err = errno == 0 || errno == EEXIST ? ENOTDIR : errno;
    // A failure part-way leaves none of the folders it made.
    RemoveEmptyFolders(mine);
    errno = err;
    return false;
}

void RemoveEmptyFolders(const std::vector<std::string>& made) {
    for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
}

bool MakePrivateFolder(const std::string& dir) {
    if (!MakeDirectories(dir, 0700)) return false;
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return false;
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return false;
    return PrivateOwnedFolder(dir);
}

}  // namespace vellumar
