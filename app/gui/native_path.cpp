#include "app/gui/native_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>

namespace vellumar::gui {

namespace {

std::string Join(const std::string& dir, const std::string& name) {
    return (dir == "/" ? std::string() : dir) + "/" + name;
}

}  // namespace

const NativeNames::Listing* NativeNames::ListingOf(const std::string& dir) {
    if (auto it = folders_.find(dir); it != folders_.end()) return &it->second;
    DIR* d = opendir(dir.c_str());
    if (!d) return nullptr;
    ++foldersRead_;
    Listing& listing = folders_[dir];
    while (const dirent* e = readdir(d)) {
        const QString shown = QFile::decodeName(e->d_name);
        if (!shown.contains(QChar::ReplacementCharacter)) continue;
        auto [it, added] = listing.try_emplace(shown, e->d_name);
        if (!added) it->second.clear();
    }
    closedir(d);
    return &listing;
}

std::string NativeNames::Resolve(const QString& path) {
    std::string encoded = QFile::encodeName(path).toStdString();
    struct stat st {};
    if (!path.contains(QChar::ReplacementCharacter) || lstat(encoded.c_str(), &st) == 0)
        return encoded;
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.isEmpty() || info.path() == path) return encoded;
    // The folder's own name may be the one that lost its bytes.
    const std::string dir = Resolve(info.path());
    if (!name.contains(QChar::ReplacementCharacter))
        return Join(dir, QFile::encodeName(name).toStdString());
    const Listing* listing = ListingOf(dir);
    if (!listing) return encoded;
    const auto it = listing->find(name);
    if (it == listing->end() || it->second.empty()) return encoded;
    return Join(dir, it->second);
}

}  // namespace vellumar::gui
