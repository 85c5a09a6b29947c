#include "app/gui/native_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>

namespace vellumar::gui {

std::string NativePath(const QString& path) {
    std::string encoded = QFile::encodeName(path).toStdString();
    struct stat st {};
    if (!path.contains(QChar::ReplacementCharacter) || lstat(encoded.c_str(), &st) == 0)
        return encoded;
    const QFileInfo info(path);
    if (info.fileName().isEmpty() || info.path() == path) return encoded;
    // The folder's own name may be the one that lost its bytes.
    const std::string dir = NativePath(info.path());
    DIR* d = opendir(dir.c_str());
    if (!d) return encoded;
    std::string found;
    int matches = 0;
    while (const dirent* e = readdir(d)) {
        if (QFile::decodeName(e->d_name) == info.fileName()) {
            found = e->d_name;
            ++matches;
        }
    }
    closedir(d);
    if (matches != 1) return encoded;
    return (dir == "/" ? std::string() : dir) + "/" + found;
}

}  // namespace vellumar::gui
