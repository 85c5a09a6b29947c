#include "app/batch/program_dir.h"

#include <unistd.h>

#include <climits>

namespace vellumar {

std::string ProgramDirectory() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace vellumar
