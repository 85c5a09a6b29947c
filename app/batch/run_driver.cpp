// Workers take rows in order and encode each into a temporary file beside its
// target; the calling thread commits (renames) them in row order, so that a
// failed row stops the run before any later row's file appears, and the files
// and reports are those of a one-worker run whatever the timing.
#include "app/batch/run_driver.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "app/batch/file_places.h"
#include "app/batch/memory_budget.h"
#include "app/batch/picture_memory.h"
#include "app/batch/source_guard.h"
#include "app/format_table/format_table.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

std::string OutputPathOf(const RunOptions& options, int row, const std::string& source,
                         std::string& why) {
    const size_t at = size_t(row - 1);
    if (row >= 1 && at < options.outputs.size()) return options.outputs[at];
    const std::string dir = at < options.sourceDirs.size() ? options.sourceDirs[at] : std::string();
    const std::string name = ExpandName(
        options.nameTemplate, {options.prefix, row, source, dir, options.extension}, why);
    return name.empty() ? name : options.outDir + '/' + name;
}

std::vector<PlannedOutput> PlanOutputs(const RunOptions& options,
                                       const std::vector<std::string>& sources) {
    std::vector<PlannedOutput> plan(sources.size());
    std::unordered_map<std::string, int> firstRow;
    for (int row = 1; row <= int(sources.size()); ++row) {
        PlannedOutput& out = plan[size_t(row - 1)];
        out.path = OutputPathOf(options, row, sources[size_t(row - 1)], out.why);
        if (out.path.empty()) continue;
        const auto [it, fresh] = firstRow.emplace(out.path, row);
        if (!fresh)
            out.why = "row " + std::to_string(row) + " would write row " +
                      std::to_string(it->second) + "'s output file " + out.path;
    }
    return plan;
}

namespace {

struct Slot {
    bool ready = false;
    RowResult result;
    std::string temporary;  // encoded file waiting for its commit
    std::string output;
};

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

class Run {
public:
    Run(const std::vector<std::string>& sources, const RunOptions& options,
        const RunCallbacks& callbacks, const CancelFlag* cancel)
        : sources_(sources),
          options_(options),
          callbacks_(callbacks),
          cancel_(cancel),
          rows_(int(sources.size())),
          jobs_(std::clamp(options.jobs > 0 ? options.jobs
                                            : int(std::max(1u, std::thread::hardware_concurrency())),
                           1, std::max(1, rows_))),
          stopAt_(rows_),
          slots_(size_t(rows_) + 1),
          guard_(sources),
          budget_(options.maxMemory ? options.maxMemory : DefaultMemoryBudget()) {
        names_ = PlanOutputs(options_, sources_);
        // Sizes are read ahead only when the largest pictures the decoders
        // take could, on every worker at once, pass the budget.
        bool seen[kVxFormatCount] = {};
        for (const std::string& source : sources) {
            const ImageFormat named = FormatFromExtension(source);
            if (seen[named]) continue;
            seen[named] = true;
            readSizes_ = readSizes_ || Largest(named) > budget_.Limit() / uint64_t(jobs_);
        }
        // An enlarged picture is not bounded by the picture limit.
        const vx::ResizeRequest& resize = options_.steps.resize;
        readSizes_ = readSizes_ || (resize.kind == vx::ResizeRequest::Kind::Fit && resize.allowEnlarge) ||
                     (resize.kind == vx::ResizeRequest::Kind::Percent && resize.percent > 100);
    }

    RunSummary Go() {
        if (readSizes_) StopKeepingFreedPictureMemory();
        if (jobs_ == 1) {
            ImageHandle handle = nullptr;
            int row = 0;
            while (Claim(row)) {
                Report(row);
                Slot slot = Convert(row, &handle);
                if (!Finish(row, slot)) break;
            }
            ImageFacade::Free(&handle);
        } else {
            std::vector<std::thread> workers;
            for (int j = 0; j < jobs_; ++j) workers.emplace_back([this] { Worker(); });
            for (int row = 1; row <= rows_; ++row) {
                if (Cancelled() || row > StopAt()) break;
                Report(row);
                Slot slot;
                if (!WaitFor(row, slot) || !Finish(row, slot)) break;
            }
            {
                std::lock_guard lock(mutex_);
                closing_ = true;
            }
            for (auto& w : workers) w.join();
            // Rows finished after the end were never committed: drop their files.
            for (Slot& slot : slots_) Discard(slot);
        }
        summary_.cancelled = Cancelled() && summary_.converted + summary_.failed < rows_;
        summary_.peakReserved = budget_.PeakHeld();
        summary_.memoryWaits = budget_.Waits();
        return summary_;
    }

private:
    bool Cancelled() const { return cancel_ && cancel_->Requested(); }

    // The most a row of this source format may take, given the picture limit.
    uint64_t Largest(ImageFormat source) const {
        if (options_.maxPixels == 0) return UINT64_MAX;
        return RowMemoryEstimate(options_.maxPixels, 1, source, options_.target);
    }

    int StopAt() {
        std::lock_guard lock(mutex_);
        return stopAt_;
    }

    // No row after `row` starts from now on.
    void StopAfter(int row) {
        std::lock_guard lock(mutex_);
        stopAt_ = std::min(stopAt_, row);
    }

    bool Claim(int& row) {
        {
            std::lock_guard lock(mutex_);
            if (closing_ || Cancelled() || next_ > stopAt_) return false;
            row = next_++;
        }
        if (callbacks_.onRowBegun) callbacks_.onRowBegun(row);
        return true;
    }

    void Report(int row) {
        if (callbacks_.onRowStart) callbacks_.onRowStart(row);
    }

    void Worker() {
        ImageHandle handle = nullptr;
        int row = 0;
        while (Claim(row)) {
            Slot slot = Convert(row, &handle);
            const bool failed = slot.result.outcome != RowOutcome::Done;
            std::lock_guard lock(mutex_);
            if (failed && !options_.keepGoing) stopAt_ = std::min(stopAt_, row);
            slot.ready = true;
            slots_[size_t(row)] = std::move(slot);
            changed_.notify_all();
        }
        ImageFacade::Free(&handle);
    }

    // False when the run was cancelled while waiting.
    bool WaitFor(int row, Slot& slot) {
        std::unique_lock lock(mutex_);
        // The timeout lets a cancel raised by a signal handler be seen.
        while (!slots_[size_t(row)].ready) {
            if (Cancelled()) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(50));
        }
        slot = std::move(slots_[size_t(row)]);
        slots_[size_t(row)] = Slot{};
        return true;
    }

    static void Fail(Slot& slot, RowOutcome outcome, std::string why) {
        slot.result.outcome = outcome;
        slot.result.error = std::move(why);
    }

    static void Discard(Slot& slot) {
        if (!slot.temporary.empty()) unlink(slot.temporary.c_str());
        slot.temporary.clear();
    }

    // The memory a row's picture will take, read from its header; the largest
    // a row may take when the header does not tell.
    uint64_t Estimate(const std::string& source, const std::string& readPath) const {
        const ImageFormat named = FormatFromExtension(source);
        VxImage probe(0);
        probe.SetEscape(-1);
        probe.SetFrame(options_.frame);
        probe.SetMaxPixels(options_.maxPixels);
        const uint64_t largest = std::min(Largest(named), budget_.Limit());
        // A picture over the limit fails before its decoder allocates: it
        // needs no more than the largest one allowed, and fails with the limit's text.
        if (!probe.Load(readPath.c_str(), named)) return largest;
        const uint32_t w = probe.GetWidth(), h = probe.GetHeight();
        if (w == 0 || h == 0 || (options_.maxPixels != 0 && uint64_t(w) * h > options_.maxPixels))
            return largest;
        // The size the picture steps give it, in either orientation (an EXIF
        // turn comes before the resize).
        uint32_t ow = 0, oh = 0, tw = 0, th = 0;
        vx::ResizedSize(options_.steps.resize, w, h, ow, oh);
        vx::ResizedSize(options_.steps.resize, h, w, tw, th);
        if (uint64_t(tw) * th > uint64_t(ow) * oh) ow = tw, oh = th;
        return RowMemoryEstimate(w, h, ow, oh, probe.GetType() ? probe.GetType() : named,
                                 options_.target);
    }

    // The row's work, outside any lock: decode, fit, encode into a temporary file.
    Slot Convert(int row, ImageHandle* handle) {
        Slot slot;
        const PlannedOutput& name = names_[size_t(row - 1)];
        slot.output = name.path;
        if (!name.why.empty()) {
            Fail(slot, RowOutcome::EncodeFailed, name.why);
            return slot;
        }
        // Folders the template names are made; a caller naming files has its own.
        const size_t folderEnd = slot.output.rfind('/');
        if (size_t(row) > options_.outputs.size() && folderEnd > options_.outDir.size() &&
            !MakeDirectories(slot.output.substr(0, folderEnd), 0777)) {
            Fail(slot, RowOutcome::EncodeFailed,
                 "cannot create the folder " + slot.output.substr(0, folderEnd));
            return slot;
        }
        const std::string& source = sources_[size_t(row - 1)];
        SourceGuard::Opened in = guard_.Open(row);
        if (in.error) {
            Fail(slot, RowOutcome::DecodeFailed, VxSaveErrorText("cannot open the file", in.error));
            return slot;
        }
        ImageFacade::SetFrame(handle, options_.frame);
        ImageFacade::SetJpegQuality(handle, options_.quality);
        (*handle)->SetMaxPixels(options_.maxPixels);
        // Codecs that poll it stop a row in progress when the run is cancelled.
        (*handle)->SetCancelRequest(cancel_ ? cancel_->Raw() : nullptr);
        const uint64_t reserved = readSizes_ ? Estimate(source, in.readPath) : 0;
        switch (budget_.Reserve(reserved, [this] { return Cancelled(); })) {
            case MemoryBudget::Grant::Granted:
                break;
            case MemoryBudget::Grant::TooLarge:
                Fail(slot, RowOutcome::DecodeFailed,
                     "the picture needs about " + MiB(reserved) + ", more than the memory budget of " +
                         MiB(budget_.Limit()));
                SourceGuard::Close(in);
                return slot;
            case MemoryBudget::Grant::Stopped:
                SourceGuard::Close(in);
                return slot;
        }
        if (!Cancelled() &&
            DecodeAndFit(handle, source, options_.target, slot.result, in.readPath, options_.steps) &&
            !Cancelled() &&
            !(*handle)->SaveToTemporary(slot.output.c_str(), options_.target, slot.temporary,
                                          options_.temporaryTag)) {
            Fail(slot, RowOutcome::EncodeFailed, (*handle)->GetLastError());
        }
        SourceGuard::Close(in);
        ReleasePicture(handle);
        budget_.Release(reserved);
        return slot;
    }

    // Commits and reports one row; false when the run ends here.
    bool Finish(int row, Slot& slot) {
        if (Cancelled()) {
            Discard(slot);
            return false;
        }
        if (!slot.temporary.empty()) {
            std::string why;
            if (!guard_.KeepBeforeReplacing(row, slot.output, why)) {
                Discard(slot);
                Fail(slot, RowOutcome::EncodeFailed, why);
            } else {
                VxImage committer(0);
                if (!committer.CommitTemporary(slot.temporary, slot.output.c_str()))
                    Fail(slot, RowOutcome::EncodeFailed, committer.GetLastError());
                slot.temporary.clear();
            }
        }
        const bool failed = slot.result.outcome != RowOutcome::Done;
        const bool stop = failed && !options_.keepGoing;
        // Before anyone hears of the failure, so no worker starts a later row.
        if (stop) StopAfter(row);
        if (failed) ++summary_.failed;
        else ++summary_.converted;
        if (callbacks_.onRowDone) callbacks_.onRowDone(row, slot.result);
        if (stop) summary_.stoppedEarly = row < rows_;
        return !stop;
    }

    const std::vector<std::string>& sources_;
    const RunOptions& options_;
    const RunCallbacks& callbacks_;
    const CancelFlag* cancel_;
    const int rows_;
    const int jobs_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int next_ = 1;
    int stopAt_;  // no row beyond this one is started
    bool closing_ = false;
    std::vector<Slot> slots_;

    std::vector<PlannedOutput> names_;  // row r's is names_[r - 1]
    SourceGuard guard_;
    MemoryBudget budget_;
    bool readSizes_ = false;
    RunSummary summary_;
};

}  // namespace

RunSummary RunRows(const std::vector<std::string>& sources, const RunOptions& options,
                   const RunCallbacks& callbacks, const CancelFlag* cancel) {
    return Run(sources, options, callbacks, cancel).Go();
}

}  // namespace vellumar::batch
