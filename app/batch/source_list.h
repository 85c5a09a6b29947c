// The rows of a run from what the user named: files as they are, folders
// (when asked) as every file beneath them.
#pragma once

#include <string>
#include <vector>

namespace vellumar::batch {

struct SourceFile {
    std::string path;
    std::string dir;  // its folder relative to the folder named; "" for a file named itself
};

// With `recursive`, a folder becomes every file beneath it, sorted by path
// (bytes compared, so the order does not depend on the locale). Links to
// folders are not followed and sockets, pipes and devices are left out (a
// pipe would stall the run); a folder that cannot be listed stays a row of
// its own, so that its failure is reported. Without `recursive`, or for
// anything that is not a folder, the name is a row as given.
std::vector<SourceFile> ListSources(const std::vector<std::string>& names, bool recursive);

}  // namespace vellumar::batch
