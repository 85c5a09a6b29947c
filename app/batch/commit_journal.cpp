#include "app/batch/commit_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

constexpr char kJournalPrefix[] = ".vxjournal-";
constexpr char kMagic[] = "vellumar commit journal 1";

// NUL-separated: file names may hold any other byte, newlines included.
std::string Encode(const std::vector<JournalEntry>& entries) {
    std::string out = kMagic;
    out += '\0';
    for (const JournalEntry& e : entries) {
        out += e.temporary;
        out += '\0';
        out += e.target;
        out += '\0';
    }
    out += "end";
    out += '\0';
    return out;
}

bool Decode(const std::string& bytes, std::vector<JournalEntry>& entries) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < bytes.size()) {
        const size_t end = bytes.find('\0', at);
        if (end == std::string::npos) return false;
        parts.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    if (parts.size() < 2 || parts.front() != kMagic || parts.back() != "end" || parts.size() % 2)
        return false;
    for (size_t i = 1; i + 1 < parts.size(); i += 2) {
        const std::string& t = parts[i];
        const std::string& n = parts[i + 1];
        // Names inside the folder only: a damaged or planted journal must not
        // move files anywhere else.
        if (!VxIsTemporaryName(t) || n.empty() || n == "." || n == ".." ||
            n.find('/') != std::string::npos)
            return false;
        entries.push_back({t, n});
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += size_t(n);
    }
    return true;
}

bool ReadAll(int fd, std::string& bytes) {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        // A journal lists one folder's rows; anything huge is not ours.
        if (bytes.size() > (size_t(64) << 20)) return false;
        bytes.append(buf, size_t(n));
    }
}

// Renames entries in order; a temporary file already gone was renamed before.
bool Rename(const std::string& folder, const std::vector<JournalEntry>& entries, std::string& why,
            size_t& done) {
    done = 0;
    for (const JournalEntry& e : entries) {
        const std::string from = folder + "/" + e.temporary;
        const std::string to = folder + "/" + e.target;
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT) {
            why = VxSaveErrorText("cannot replace the output file", errno);
            return false;
        }
        ++done;
    }
    if (!VxSyncFolder(folder)) {
        why = VxSaveErrorText("cannot make the renames durable", errno);
        return false;
    }
    return true;
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::unique_ptr<CommitJournal> CommitJournal::Write(const std::string& folder,
                                                    const std::vector<JournalEntry>& entries,
                                                    std::string& why) {
    // Written under a temporary name and renamed: a journal that exists is whole.
    std::string tmp;
    const int fd = VxCreateTemporaryBeside(folder + "/journal", tmp);
    if (fd < 0) {
        why = VxSaveErrorText("cannot write the commit journal", errno);
        return nullptr;
    }
    std::string path = tmp;
    path.replace(path.rfind("/.vxtmp-") + 1, 7, kJournalPrefix);
    if (!WriteAll(fd, Encode(entries)) || fsync(fd) != 0 ||
        std::rename(tmp.c_str(), path.c_str()) != 0 || !VxSyncFolder(folder)) {
        why = VxSaveErrorText("cannot write the commit journal", errno);
        close(fd);
        unlink(tmp.c_str());
        unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<CommitJournal>(new CommitJournal(folder, path, fd, entries));
}

CommitJournal::~CommitJournal() { close(fd_); }

bool CommitJournal::Apply(std::string& why, size_t& done) {
    if (!Rename(folder_, entries_, why, done)) return false;
    unlink(path_.c_str());
    VxSyncFolder(folder_);
    return true;
}

int FinishJournals(const std::string& folder, std::vector<std::string>& keep) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir))
        if (StartsWith(entry->d_name, kJournalPrefix)) names.push_back(entry->d_name);
    closedir(dir);
    int finished = 0;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        std::string bytes;
        std::vector<JournalEntry> entries;
        // A journal whose writer lives is its own business.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !ReadAll(fd, bytes)) {
            close(fd);
            continue;
        }
        std::string why;
        size_t done = 0;
        if (!Decode(bytes, entries)) {
            // Not one we wrote: leave it, and every temporary file with it.
            keep.push_back({});
        } else if (Rename(folder, entries, why, done)) {
            unlink(path.c_str());
            VxSyncFolder(folder);
            ++finished;
        } else {
            for (size_t i = done; i < entries.size(); ++i) keep.push_back(entries[i].temporary);
        }
        close(fd);
    }
    return finished;
}

bool IsRunWorkFileName(const std::string& name) {
    return VxIsTemporaryName(name) || StartsWith(name, kJournalPrefix) || name == kFolderLockName;
}

}  // namespace vellumar::batch
