// When a finished row may put its file in place. A row's file may replace a
// file other rows read (a folder converted into itself); it waits until each
// of those rows has its own file safely in place, so that every picture is on
// the disk, under its old name or converted, whatever ends the run. Rows that
// wait for each other in a ring (a -> b -> a) are put in place together
// (through a commit journal). Pure bookkeeping: no files are touched here.
#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace vellumar::batch {

class CommitOrder {
public:
    // waitsFor[r - 1]: the other rows whose source row r's file replaces.
    explicit CommitOrder(std::vector<std::vector<int>> waitsFor);

    // Row `row`'s file waits in its temporary file.
    void Ready(int row);
    // Row `row` ended without a file; rows waiting for it can never be written.
    void Failed(int row);
    // These rows' files are in place.
    void Committed(const std::vector<int>& rows);

    struct Step {
        // Rows to put in place now: one, or a ring that goes in at once.
        std::vector<int> commit;
        // Or a row that can never be written, and the row it waits for.
        int blocked = 0;
        int blockedBy = 0;
    };
    // The next thing to do, false when nothing can be done now. `searchRings`:
    // look for rings even if few rows wait (the run ends, or stops, and no
    // more rows will be ready).
    bool Next(Step& step, bool searchRings);

    // Ready rows that are not in place, each with a row it still waits for.
    std::vector<std::pair<int, int>> Waiting() const;

    bool waitsForOthers(int row) const { return !waitsFor_[size_t(row - 1)].empty(); }

private:
    enum class State { Unfinished, Ready, Committed, Failed };
    void FindRings();

    std::vector<std::vector<int>> waitsFor_;
    std::vector<std::vector<int>> waitedBy_;
    std::vector<State> state_;
    std::vector<int> notCommitted_;  // of the rows each row waits for
    std::deque<int> alone_;           // ready, everything it waits for in place
    std::deque<std::pair<int, int>> blocked_;
    std::deque<std::vector<int>> rings_;
    size_t ready_ = 0;      // ready rows not yet in place
    size_t nextSearch_ = 2;  // rings are searched when this many rows wait
};

}  // namespace vellumar::batch
