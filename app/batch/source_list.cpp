#include "app/batch/source_list.h"

#include "app/batch/commit_journal.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vellumar::batch {

namespace {

namespace fs = std::filesystem;

std::string Join(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + '/' + name;
}

// Appends the files beneath `root`/`rel` with their relative folder.
void Gather(const std::string& root, const std::string& rel, std::vector<SourceFile>& out) {
    const std::string folder = rel.empty() ? root : Join(root, rel);
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        out.push_back({folder, rel});
        return;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // A run's own files in a folder converted into itself are not pictures.
        if (IsRunWorkFileName(name)) continue;
        std::error_code kind;
        const fs::file_status own = it->symlink_status(kind);
        if (fs::is_directory(own)) {
            Gather(root, Join(rel, name), out);
            continue;
        }
        const fs::file_status target = it->status(kind);
        // A dangling link is kept: its row says it cannot be opened.
        if (fs::is_regular_file(target) || !fs::exists(target))
            out.push_back({Join(folder, name), rel});
    }
    if (ec) out.push_back({folder, rel});
}

}  // namespace

std::vector<SourceFile> ListSources(const std::vector<std::string>& names, bool recursive) {
    std::vector<SourceFile> rows;
    for (const std::string& name : names) {
        std::error_code ec;
        if (!recursive || !fs::is_directory(name, ec)) {
            rows.push_back({name, {}});
            continue;
        }
        std::vector<SourceFile> found;
        Gather(name, {}, found);
        std::sort(found.begin(), found.end(),
                  [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
        rows.insert(rows.end(), found.begin(), found.end());
    }
    return rows;
}

}  // namespace vellumar::batch
