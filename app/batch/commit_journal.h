// Files that must go in place together (rows whose files replace each other's
// sources) go in through a journal: the list of renames is on the disk before
// the first of them, so a run that dies halfway (a signal, SIGKILL, a power
// loss) leaves every picture either under its old name or in a temporary file
// the journal names, and the next run into the folder finishes the renames.
//
// Names used in a folder (all start with a dot):
//   .vxtmp-XXXXXX            a file being written or waiting to be renamed
//   .vxjournal-XXXXXX        renames to finish (temporary file -> name)
//   .vellumar-lock           the lock a run holds on the folder
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vellumar::batch {

struct JournalEntry {
    std::string temporary;  // file names within the journal's folder
    std::string target;
};

class CommitJournal {
public:
    // Writes the journal into `folder` and makes it and the folder durable; the
    // journal stays locked while this object lives. Null with `why` on failure
    // (nothing has been renamed then).
    static std::unique_ptr<CommitJournal> Write(const std::string& folder,
                                                const std::vector<JournalEntry>& entries,
                                                std::string& why);
    ~CommitJournal();

    // Does the renames in order, makes them durable and removes the journal.
    // On failure the journal stays for the next run, `why` says what failed
    // and `done` counts the entries renamed.
    bool Apply(std::string& why, size_t& done);

private:
    CommitJournal(std::string folder, std::string path, int fd, std::vector<JournalEntry> entries)
        : folder_(std::move(folder)), path_(std::move(path)), fd_(fd), entries_(std::move(entries)) {}
    std::string folder_;
    std::string path_;
    int fd_;
    std::vector<JournalEntry> entries_;
};

// Finishes the journals in `folder` that no live process holds; returns how
// many were finished. Names of temporary files that journals still need (a
// rename that failed) are added to `keep`; an empty name there means that a
// journal could not be read, so no temporary file may be taken for dead.
int FinishJournals(const std::string& folder, std::vector<std::string>& keep);

// Whether `name` is one of the names above.
bool IsRunWorkFileName(const std::string& name);

inline constexpr char kFolderLockName[] = ".vellumar-lock";

}  // namespace vellumar::batch
