// The run over many rows, for the command line and the window alike: rows
// handed to workers in order, files committed and reported in row order,
// stop at the first failure or keep going, cancellation, a memory budget
// across the workers, and sources that no earlier row's output can destroy.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/batch/batch_engine.h"
#include "app/batch/run_options.h"

namespace vellumar::batch {

// A cancel request: raise it from any thread, or from a signal handler.
class CancelFlag {
public:
    void Request() { requested_.store(1, std::memory_order_relaxed); }
    bool Requested() const { return requested_.load(std::memory_order_relaxed) != 0; }
    // What a picture polls while a codec works on it (VxImage::SetCancelRequest).
    const std::atomic<int32_t>* Raw() const { return &requested_; }

private:
    std::atomic<int32_t> requested_{0};
    static_assert(std::atomic<int32_t>::is_always_lock_free, "signal handlers set it");
};

struct RunCallbacks {
    // A worker took the row and starts on it; called on that worker's thread.
    std::function<void(int row)> onRowBegun;
    // These two are called on the thread that called RunRows, in row order.
    // The run now waits for this row (progress).
    std::function<void(int row)> onRowStart;
    // The row ended: its file is in place, or it failed and says why. Rows
    // cut short by a stop or a cancel are not reported.
    std::function<void(int row, const RowResult&)> onRowDone;
};

struct RunSummary {
    // Not empty when the run did not start (another run holds the output folder).
    std::string refusal;
    int converted = 0;
    int skipped = 0;     // left alone as --if-exists says
    int failed = 0;      // rows not converted, the not written ones included
    int notWritten = 0;  // rows whose files would have destroyed a picture
    int decodes = 0;     // sources decoded: one for all the outputs made of each
    bool stoppedEarly = false;  // a failure ended the run before its last row
    bool cancelled = false;     // a cancel request ended it
    // How the memory budget went: the most reserved at once, and how often a
    // row waited for memory.
    uint64_t peakReserved = 0;
    int memoryWaits = 0;
    // Rows converted at once, and the threads each row's coders were given.
    int jobs = 0, rowThreads = 0;
};

// Converts `sources` (row r is sources[r - 1]) as `options` say. A cancel
// request stops the run: no row starts after it, rows in progress leave no
// file, rows already reported keep theirs.
RunSummary RunRows(const std::vector<std::string>& sources, const RunOptions& options,
                   const RunCallbacks& callbacks, const CancelFlag* cancel = nullptr);

}  // namespace vellumar::batch
