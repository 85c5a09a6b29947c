// Rows converted by several workers at once, with the files and the reports of
// a one-worker run: each worker encodes into a temporary file beside its
// target, and the calling thread commits (renames) them in row order, so that
// a failed row stops the run before any later row's file appears.
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/batch/batch_engine.h"

namespace vellumar::batch {

namespace {

struct Slot {
    bool ready = false;
    RowResult result;
    std::string temporary;  // encoded file waiting for its commit
    std::string output;
};

}  // namespace

RunSummary RunParallel(const std::vector<std::string>& sources, ImageFormat target,
                       const RunOptions& options, const RunCallbacks& callbacks) {
    const int rows = int(sources.size());
    const int jobs = std::max(1, std::min(options.jobs, rows));
    std::vector<Slot> slots(size_t(rows) + 1);
    std::mutex mutex;
    std::condition_variable changed;
    int next = 1;
    int stopAfter = rows;  // no row beyond this one is started
    bool closing = false;

    auto worker = [&] {
        ImageHandle handle = nullptr;
        for (;;) {
            int row;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (closing || next > stopAfter) break;
                row = next++;
            }
            ImageFacade::SetFrame(&handle, options.frame);
            ImageFacade::SetJpegQuality(&handle, options.quality);
            Slot slot;
            if (DecodeAndFit(&handle, sources[size_t(row - 1)], target, slot.result)) {
                slot.output = callbacks.outputPath ? callbacks.outputPath(row) : std::string();
                if (!handle->SaveToTemporary(slot.output.c_str(), target, slot.temporary)) {
                    slot.result.outcome = RowOutcome::EncodeFailed;
                    slot.result.error = handle->GetLastError();
                }
                ReleasePicture(&handle);
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (slot.result.outcome != RowOutcome::Done && !options.keepGoing)
                stopAfter = std::min(stopAfter, row);
            slot.ready = true;
            slots[size_t(row)] = std::move(slot);
            changed.notify_all();
        }
        ImageFacade::Free(&handle);
    };

    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) workers.emplace_back(worker);

    RunSummary summary;
    int reported = 0;
    for (int i = 1; i <= rows; ++i) {
        if (callbacks.onRowStart) callbacks.onRowStart(i);
        Slot slot;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return slots[size_t(i)].ready; });
            slot = std::move(slots[size_t(i)]);
        }
        if (!slot.temporary.empty() && std::rename(slot.temporary.c_str(), slot.output.c_str()) != 0) {
            unlink(slot.temporary.c_str());
            slot.result.outcome = RowOutcome::EncodeFailed;
            slot.result.error = "cannot write the output file";
        }
        reported = i;
        if (slot.result.outcome == RowOutcome::Done) ++summary.converted;
        else ++summary.failed;
        if (callbacks.onRowDone) callbacks.onRowDone(i, slot.result);
        if (slot.result.outcome != RowOutcome::Done && !options.keepGoing) {
            summary.stoppedEarly = i < rows;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    for (auto& w : workers) w.join();
    // Rows finished after the stop were never committed: drop their files.
    for (int i = reported + 1; i <= rows; ++i)
        if (slots[size_t(i)].ready && !slots[size_t(i)].temporary.empty())
            unlink(slots[size_t(i)].temporary.c_str());
    return summary;
}

}  // namespace vellumar::batch
