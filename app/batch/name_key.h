// A name in a folder, told apart by the folder's device and inode rather than
// by its spelling: "out/a.png", "out/./a.png" and "link-to-out/a.png" are one
// name. A run uses it to find the outputs that would replace a file some row
// reads, and two rows that would write one name.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace vellumar::batch {

struct NameKey {
    dev_t dev = 0;
    ino_t ino = 0;     // of the nearest folder on the way that exists
    std::string rest;  // the path below it: the file name, or folders still to be made and the name

    bool operator==(const NameKey&) const = default;
};

struct NameKeyHash {
    size_t operator()(const NameKey& k) const {
        return std::hash<std::string>()(k.rest) ^ (std::hash<ino_t>()(k.ino) * 31) ^ size_t(k.dev);
    }
};

// The key of the name `path` itself: a symbolic link is its own name, not
// what it points to.
NameKey KeyOfName(const std::string& path);

// The names whose replacement would change what reading `path` gives: the
// name itself and, when it is a symbolic link, the file it leads to.
std::vector<NameKey> KeysReadThrough(const std::string& path);

}  // namespace vellumar::batch
