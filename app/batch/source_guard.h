// Every row reads its source as it was when the run started, even when an
// earlier row's output replaces that file (a folder converted into itself,
// the shell listing main1, main10, main11, main2, ...). Files are told apart
// by device and inode, not by name.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumar::batch {

class SourceGuard {
public:
    explicit SourceGuard(const std::vector<std::string>& sources);
    ~SourceGuard();
    SourceGuard(const SourceGuard&) = delete;
    SourceGuard& operator=(const SourceGuard&) = delete;

    // A row's source, open from the moment the row starts until it is read.
    struct Opened {
        int fd = -1;
        std::string readPath;  // what the decoder opens; empty when `error` is set
        int error = 0;         // errno when the source cannot be opened
    };
    // Called once per row (1-based), when the row starts; give it back with Close.
    Opened Open(int row);
    static void Close(Opened& opened);

    // Called before row `row`'s output replaces the file `output` names: keeps
    // that file open for every later row that has still to read it. False, with
    // the reason, when it cannot be kept (the output must then not be written).
    bool KeepBeforeReplacing(int row, const std::string& output, std::string& why);

private:
    struct FileId {
        dev_t dev = 0;
        ino_t ino = 0;
        bool operator==(const FileId&) const = default;
    };
    struct FileIdHash {
        size_t operator()(const FileId& id) const { return std::hash<ino_t>()(id.ino) ^ id.dev; }
    };

    std::string ReadPath(int fd, const std::string& source) const;
    int OpenKept(const std::string& path, const FileId& id);

    std::mutex mutex_;
    const std::vector<std::string>& sources_;
    std::vector<int> statError_;  // by row - 1: errno of the first look, 0 when found
    std::vector<bool> started_;
    std::vector<int> kept_;  // descriptors kept for rows not yet started, -1 for none
    std::unordered_multimap<FileId, int, FileIdHash> rowsOf_;
    bool procFds_ = false;  // descriptors can be reopened through /proc/self/fd
};

}  // namespace vellumar::batch
