// The sources of a run: which names each row reads through (so that no output
// replaces them before their row's file is safely in place), and each row's
// file opened when its row starts. Pipes and devices are read once, while a
// cancel can still stop the wait for their writer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/batch/name_key.h"

namespace vellumar::batch {

class SourceGuard {
public:
    explicit SourceGuard(const std::vector<std::string>& sources);

    // The names row `row` (1-based) reads through; empty when its file was
    // missing when the run started (nothing of the user's is there to keep).
    const std::vector<NameKey>& KeysOf(int row) const { return keys_[size_t(row - 1)]; }
    // Whether rows `a` and `b` read one file (device and inode), so that
    // either's file holds the other's picture.
    bool SameFile(int a, int b) const;

    // A row's source, open from the moment the row starts until it is read.
    struct Opened {
        int fd = -1;
        std::string readPath;  // what the decoder opens; empty when `error` is set
        std::string error;     // why the source cannot be read
    };
    // Called once per row, when the row starts; give it back with Close. A
    // pipe or device is read whole (at most `pipeLimit` bytes) into memory,
    // giving up when `cancelled` says so.
    Opened Open(int row, const std::function<bool()>& cancelled, uint64_t pipeLimit) const;
    static void Close(Opened& opened);

private:
    const std::vector<std::string>& sources_;
    std::vector<int> statError_;  // by row - 1: errno of the first look, 0 when found
    std::vector<std::vector<NameKey>> keys_;
    std::vector<std::pair<dev_t, ino_t>> files_;
    bool procFds_ = false;  // descriptors can be opened by name through /proc/self/fd
};

}  // namespace vellumar::batch
