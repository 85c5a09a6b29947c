// File names as the file system holds them.
#pragma once

#include <QString>

#include <string>
#include <unordered_map>

namespace vellumar::gui {

// Turns the texts a file dialog hands back into the bytes that name the files
// on disk. Names that are not valid UTF-8 (old archives named in GBK) reach
// the window with their bad bytes replaced; the folder is read for the one
// entry the text stands for. Where no single entry matches, the text's own
// encoding is returned (a name that does not exist, rather than a guess).
// Each folder is read once, however many of its names lost bytes.
class NativeNames {
public:
    std::string Resolve(const QString& path);
    int FoldersRead() const { return foldersRead_; }

private:
    // The entries of a folder whose names lose bytes as text, by that text;
    // empty where several entries read the same.
    using Listing = std::unordered_map<QString, std::string>;
    const Listing* ListingOf(const std::string& dir);

    std::unordered_map<std::string, Listing> folders_;
    int foldersRead_ = 0;
};

}  // namespace vellumar::gui
