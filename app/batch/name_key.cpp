#include "app/batch/name_key.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace vellumar::batch {

namespace {

// "a//b/./c" -> "a/b/c": only for parts below the nearest existing folder,
// where no link can stand and make ".." mean something else.
std::string Tidy(const std::string& rest) {
    std::string out;
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = rest.find('/', at);
        if (end == std::string::npos) end = rest.size();
        const std::string part = rest.substr(at, end - at);
        if (!part.empty() && part != ".") {
            if (!out.empty()) out += '/';
            out += part;
        }
        at = end + 1;
    }
    return out;
}

}  // namespace

NameKey KeyOfName(const std::string& path) {
    std::string folder = path;
    std::string rest;
    // Climb until a folder exists; what lies below it is spelled out.
    for (;;) {
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const size_t slash = folder.rfind('/');
        const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
        if (!rest.empty()) rest.insert(0, 1, '/');
        rest.insert(0, name);
        if (slash == std::string::npos) folder = ".";
        else folder = slash == 0 ? "/" : folder.substr(0, slash);
        struct stat st {};
        if (stat(folder.c_str(), &st) == 0) return {st.st_dev, st.st_ino, Tidy(rest)};
        if (folder == "." || folder == "/") return {0, 0, Tidy(path)};
    }
}

std::vector<NameKey> KeysReadThrough(const std::string& path) {
    std::vector<NameKey> keys{KeyOfName(path)};
    std::string name = path;
    // Every link on the way counts: replacing any of them changes what is read.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t n = readlink(name.c_str(), target.data(), target.size());
        if (n <= 0) break;
        target.resize(size_t(n));
        const size_t slash = name.rfind('/');
        name = target[0] == '/' || slash == std::string::npos ? target
                                                               : name.substr(0, slash + 1) + target;
        keys.push_back(KeyOfName(name));
    }
    return keys;
}

}  // namespace vellumar::batch
