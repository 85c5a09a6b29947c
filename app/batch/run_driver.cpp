// Workers take rows in order and encode each into a temporary file beside its
// target; the calling thread commits (renames) them and reports them in row
// order, so that a failed row stops the run before any later row's file
// appears, and the files and reports are those of a one-worker run whatever
// the timing. A file that would replace what another row still has to read
// waits until that row's own file is safely in place (CommitOrder).
#include "app/batch/run_driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "app/batch/commit_journal.h"
#include "app/batch/commit_order.h"
#include "app/batch/file_places.h"
#include "app/batch/folder_lock.h"
#include "app/batch/memory_budget.h"
#include "app/batch/name_key.h"
#include "app/batch/picture_memory.h"
#include "app/batch/row_output.h"
#include "app/batch/source_guard.h"
#include "app/format_table/format_table.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

struct Slot {
    bool ready = false;
    RowResult result;
    std::string temporary;  // encoded file waiting for its commit
    std::string output;
};

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

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
          budget_(options.maxMemory ? options.maxMemory : DefaultMemoryBudget()),
          locks_(options.folderLocking),
          order_(PlanCommits()),
          results_(size_t(rows_) + 1) {
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
        // The folder is the run's from here: no other run can plan against it.
        std::string why;
        if (options_.outputs.empty() && !options_.outDir.empty() &&
            !locks_.Hold(options_.outDir, why)) {
            summary_.refusal = why;
            return summary_;
        }
        if (readSizes_) StopKeepingFreedPictureMemory();
        bool ended = false;
        if (jobs_ == 1) {
            ImageHandle handle = nullptr;
            int row = 0;
            while (Claim(row)) {
                Report(row);
                Slot slot = Convert(row, &handle);
                if (!Finish(row, slot)) {
                    ended = true;
                    break;
                }
            }
            ImageFacade::Free(&handle);
        } else {
            std::vector<std::thread> workers;
            for (int j = 0; j < jobs_; ++j) workers.emplace_back([this] { Worker(); });
            for (int row = 1; row <= rows_; ++row) {
                if (Cancelled() || row > StopAt()) break;
                Report(row);
                Slot slot;
                if (!WaitFor(row, slot) || !Finish(row, slot)) {
                    ended = true;
                    break;
                }
            }
            {
                std::lock_guard lock(mutex_);
                closing_ = true;
            }
            for (auto& w : workers) w.join();
            // Rows finished after the end were never committed: drop their files.
            for (Slot& slot : slots_) Discard(slot);
        }
        if (Cancelled()) {
            // Files still waiting for rows cut short are not written, and not reported.
            for (auto& [row, slot] : waiting_) Discard(slot);
            waiting_.clear();
        } else if (!ended) {
            Settle(true);
            Strand("the run ended before");
        }
        // Rows in place behind one that was cut short are still told.
        for (int row = reported_ + 1; row <= rows_; ++row)
            if (results_[size_t(row)]) {
                reported_ = row - 1;
                Flush();
            }
        summary_.cancelled =
            Cancelled() && summary_.converted + summary_.failed + summary_.skipped < rows_;
        summary_.peakReserved = budget_.PeakHeld();
        summary_.memoryWaits = budget_.Waits();
        return summary_;
    }

private:
    bool Cancelled() const { return cancel_ && cancel_->Requested(); }

    // Which rows each row's file must wait for, and which files must be on the
    // disk before the rename that follows them.
    CommitOrder PlanCommits() {
        names_ = PlanOutputs(options_, sources_);
        std::unordered_map<NameKey, std::vector<int>, NameKeyHash> readers;
        for (int row = 1; row <= rows_; ++row)
            for (const NameKey& key : guard_.KeysOf(row)) readers[key].push_back(row);
        std::unordered_map<NameKey, int, NameKeyHash> writer;
        std::vector<std::vector<int>> waitsFor(static_cast<size_t>(rows_));
        durable_.assign(size_t(rows_) + 1, false);
        for (int row = 1; row <= rows_; ++row) {
            const PlannedOutput& name = names_[size_t(row - 1)];
            if (name.path.empty() || !name.why.empty()) continue;
            const NameKey key = KeyOfName(name.path);
            writer.emplace(key, row);
            const auto it = readers.find(key);
            if (it == readers.end()) continue;
            // Replacing a file some row reads: the new one must be whole on
            // the disk first, and the rows that read the old one done.
            durable_[size_t(row)] = true;
            // A row reading the very file this row converts is no picture to
            // keep: this row's file holds it.
            for (const int reader : it->second)
                if (reader != row && !guard_.SameFile(reader, row))
                    waitsFor[size_t(row - 1)].push_back(reader);
        }
        // A row whose source another row's file replaces must have its own
        // file on the disk before that happens.
        for (int row = 1; row <= rows_; ++row)
            for (const NameKey& key : guard_.KeysOf(row)) {
                const auto it = writer.find(key);
                if (it != writer.end() && it->second != row) durable_[size_t(row)] = true;
            }
        return CommitOrder(std::move(waitsFor));
    }

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

    // Rows that failed for want of descriptors, inodes or disk space while
    // other rows held theirs are tried again alone, so the outcome is that of
    // one worker.
    static bool ShortOfResources(const Slot& slot) {
        if (slot.result.outcome == RowOutcome::Done) return false;
        for (const int err : {EMFILE, ENFILE, ENOSPC, EDQUOT}) {
            char buf[128];
            if (slot.result.error.find(strerror_r(err, buf, sizeof buf)) != std::string::npos)
                return true;
        }
        return false;
    }

    void EnterShared() {
        std::unique_lock lock(gateMutex_);
        gate_.wait(lock, [this] { return !solo_ && soloWaiting_ == 0; });
        ++active_;
    }
    void LeaveShared() {
        std::lock_guard lock(gateMutex_);
        --active_;
        gate_.notify_all();
    }
    void EnterSolo() {
        std::unique_lock lock(gateMutex_);
        ++soloWaiting_;
        gate_.wait(lock, [this] { return active_ == 0 && !solo_; });
        --soloWaiting_;
        solo_ = true;
    }
    void LeaveSolo() {
        std::lock_guard lock(gateMutex_);
        solo_ = false;
        gate_.notify_all();
    }

    void Worker() {
        ImageHandle handle = nullptr;
        int row = 0;
        while (Claim(row)) {
            EnterShared();
            Slot slot = Convert(row, &handle);
            LeaveShared();
            if (ShortOfResources(slot) && !Cancelled()) {
                EnterSolo();
                Discard(slot);
                slot = Convert(row, &handle);
                LeaveSolo();
            }
            const bool failed = slot.result.outcome != RowOutcome::Done &&
                                slot.result.outcome != RowOutcome::Skipped;
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
        if (!name.skip.empty()) {
            Fail(slot, RowOutcome::Skipped, name.skip);
            slot.result.output = name.path;
            return slot;
        }
        const auto began = std::chrono::steady_clock::now();
        // Folders the template names are made; a caller naming files has its own.
        const size_t folderEnd = slot.output.rfind('/');
        if (size_t(row) > options_.outputs.size() && folderEnd > options_.outDir.size() &&
            !MakeDirectories(slot.output.substr(0, folderEnd), 0777)) {
            Fail(slot, RowOutcome::EncodeFailed,
                 "cannot create the folder " + slot.output.substr(0, folderEnd));
            return slot;
        }
        // Before its temporary file is there: no other run may take it for one
        // a killed run left.
        std::string why;
        if (!locks_.Hold(VxFolderOf(slot.output), why)) {
            Fail(slot, RowOutcome::EncodeFailed, why);
            return slot;
        }
        const std::string& source = sources_[size_t(row - 1)];
        SourceGuard::Opened in =
            guard_.Open(row, [this] { return Cancelled(); }, budget_.Limit());
        if (!in.error.empty()) {
            Fail(slot, RowOutcome::DecodeFailed, in.error);
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
                     "the picture needs about " + BytesText(reserved) + ", more than the memory budget of " +
                         BytesText(budget_.Limit()));
                SourceGuard::Close(in);
                return slot;
            case MemoryBudget::Grant::Stopped:
                SourceGuard::Close(in);
                return slot;
        }
        struct stat st {};
        if (fstat(in.fd, &st) == 0) slot.result.sourceBytes = uint64_t(st.st_size);
        if (!Cancelled() &&
            DecodeAndFit(handle, source, options_.target, slot.result, in.readPath, options_.steps) &&
            !Cancelled()) {
            slot.result.sourceFormat = (*handle)->GetType();
            slot.result.width = (*handle)->GetWidth();
            slot.result.height = (*handle)->GetHeight();
            if (EncodeRow(**handle, options_, slot.output, durable_[size_t(row)], slot.temporary,
                          slot.result))
                slot.result.output = slot.output;
        }
        slot.result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        SourceGuard::Close(in);
        ReleasePicture(handle);
        budget_.Release(reserved);
        return slot;
    }

    // Takes one row's work; false when the run ends here.
    bool Finish(int row, Slot& slot) {
        if (Cancelled()) {
            Discard(slot);
            return false;
        }
        lastFinished_ = row;
        if (slot.result.outcome != RowOutcome::Done || slot.temporary.empty()) {
            Discard(slot);
            Resolve(row, slot.result);
            order_.Failed(row);
            const bool failed = slot.result.outcome != RowOutcome::Done &&
                                slot.result.outcome != RowOutcome::Skipped;
            if (failed && !options_.keepGoing) {
                Stop(row);
                return false;
            }
        } else {
            waiting_[row] = std::move(slot);
            order_.Ready(row);
        }
        return Settle(false);
    }

    // The run ends at `row`: no later row starts; files whose rows can go in
    // now do, and those that wait for rows that will never run are not written.
    void Stop(int row) {
        // Before anyone hears of the failure, so no worker starts a later row.
        StopAfter(row);
        stopped_ = true;
        Settle(true);
        Strand("the run stopped before");
        summary_.stoppedEarly = row < rows_;
    }

    // Files that still wait for a row that will never have its own are not written.
    void Strand(const char* when) {
        for (const auto& [waiting, by] : order_.Waiting()) {
            Slot& held = waiting_[waiting];
            Discard(held);
            RowResult result;
            result.outcome = RowOutcome::NotWritten;
            result.error = "not written: " + held.output + " is what row " + std::to_string(by) +
                           " reads, and " + when + " row " + std::to_string(by) +
                           " had its own file in place";
            waiting_.erase(waiting);
            Resolve(waiting, result);
        }
        Flush();
    }

    // Puts in place every file that may go now; false when a failure ends the run.
    bool Settle(bool searchRings) {
        CommitOrder::Step step;
        while (order_.Next(step, searchRings)) {
            if (step.blocked) {
                Slot& held = waiting_[step.blocked];
                Discard(held);
                RowResult result;
                result.outcome = RowOutcome::NotWritten;
                result.error = "not written: " + held.output + " is what row " +
                               std::to_string(step.blockedBy) + " reads, and row " +
                               std::to_string(step.blockedBy) +
                               " has no file of its own: replacing it would lose that picture";
                waiting_.erase(step.blocked);
                Resolve(step.blocked, result);
                order_.Failed(step.blocked);
                continue;
            }
            const std::vector<int> failed =
                step.commit.size() == 1 ? CommitOne(step.commit[0]) : CommitRing(step.commit);
            std::vector<int> done;
            for (const int row : step.commit)
                if (std::find(failed.begin(), failed.end(), row) == failed.end()) done.push_back(row);
            order_.Committed(done);
            for (const int row : failed) order_.Failed(row);
            if (!failed.empty() && !options_.keepGoing && !stopped_) {
                Stop(lastFinished_);
                return false;
            }
        }
        Flush();
        return true;
    }

    // Returns the rows that failed.
    std::vector<int> CommitOne(int row) {
        Slot slot = std::move(waiting_[row]);
        waiting_.erase(row);
        VxImage committer(0);
        if (!committer.CommitTemporary(slot.temporary, slot.output.c_str())) {
            Fail(slot, RowOutcome::EncodeFailed, committer.GetLastError());
            Resolve(row, slot.result);
            return {row};
        }
        // A later rename may replace this row's source, which only this file
        // now holds: the rename must reach the disk first.
        if (durable_[size_t(row)]) VxSyncFolder(VxFolderOf(slot.output));
        Resolve(row, slot.result);
        return {};
    }

    // Rows whose files replace each other's sources go in at once, through a
    // journal a later run finishes if this one dies halfway.
    std::vector<int> CommitRing(const std::vector<int>& rows) {
        std::vector<Slot> slots;
        for (const int row : rows) {
            slots.push_back(std::move(waiting_[row]));
            waiting_.erase(row);
        }
        const std::string folder = VxFolderOf(slots[0].output);
        const NameKey folderKey = KeyOfName(folder);
        std::vector<JournalEntry> entries;
        std::string why;
        for (const Slot& slot : slots) {
            if (!(KeyOfName(VxFolderOf(slot.output)) == folderKey))
                why = "not written: its file and those of rows it swaps sources with (" +
                      std::to_string(rows.front()) + " to " + std::to_string(rows.back()) +
                      ") lie in different folders, which cannot be replaced together safely";
            entries.push_back({FileNameOf(slot.temporary), FileNameOf(slot.output)});
        }
        std::unique_ptr<CommitJournal> journal;
        if (why.empty()) journal = CommitJournal::Write(folder, entries, why);
        size_t done = 0;
        if (journal && journal->Apply(why, done)) done = rows.size();
        std::vector<int> failed;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (i < done) {
                Resolve(rows[i], slots[i].result);
                continue;
            }
            // Once the journal is on the disk its files are the next run's to put
            // in place; before that nothing was renamed and they can go.
            if (!journal) Discard(slots[i]);
            else why += "; the next run into " + folder + " finishes it";
            Fail(slots[i], journal ? RowOutcome::EncodeFailed : RowOutcome::NotWritten, why);
            Resolve(rows[i], slots[i].result);
            failed.push_back(rows[i]);
        }
        return failed;
    }

    void Resolve(int row, const RowResult& result) { results_[size_t(row)] = result; }

    // Reports, in row order, every row whose outcome is known.
    void Flush() {
        while (reported_ < rows_ && results_[size_t(reported_ + 1)]) {
            const int row = ++reported_;
            const RowResult result = std::move(*results_[size_t(row)]);
            results_[size_t(row)].reset();
            if (result.outcome == RowOutcome::Done) ++summary_.converted;
            else if (result.outcome == RowOutcome::Skipped) ++summary_.skipped;
            else ++summary_.failed;
            if (result.outcome == RowOutcome::NotWritten) ++summary_.notWritten;
            if (callbacks_.onRowDone) callbacks_.onRowDone(row, result);
        }
    }

    const std::vector<std::string>& sources_;
    const RunOptions& options_;
    const RunCallbacks& callbacks_;
    const CancelFlag* cancel_;
    const int rows_;
    const int jobs_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::mutex gateMutex_;
    std::condition_variable gate_;
    int active_ = 0;       // rows converting beside others
    int soloWaiting_ = 0;  // rows waiting to be tried again alone
    bool solo_ = false;
    int next_ = 1;
    int stopAt_;  // no row beyond this one is started
    bool closing_ = false;
    std::vector<Slot> slots_;

    std::vector<PlannedOutput> names_;  // row r's is names_[r - 1]
    SourceGuard guard_;
    MemoryBudget budget_;
    FolderLocks locks_;
    std::vector<bool> durable_;  // by row: its file must be on the disk before the next step
    CommitOrder order_;
    std::map<int, Slot> waiting_;  // encoded rows whose files wait for other rows
    std::vector<std::optional<RowResult>> results_;  // known outcomes not yet reported
    int reported_ = 0;
    int lastFinished_ = 0;
    bool stopped_ = false;
    bool readSizes_ = false;
    RunSummary summary_;
};

}  // namespace

RunSummary RunRows(const std::vector<std::string>& sources, const RunOptions& options,
                   const RunCallbacks& callbacks, const CancelFlag* cancel) {
    return Run(sources, options, callbacks, cancel).Go();
}

}  // namespace vellumar::batch
