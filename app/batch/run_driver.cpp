// Workers take rows in order and encode each into a temporary file beside its
// target; the calling thread commits (renames) them and reports them in row
// order, so that a failed row stops the run before any later row's file
// appears, and the files and reports are those of a one-worker run whatever
// the timing. A file that would replace what another row still has to read
// waits until that row's own file is safely in place (CommitOrder).
#include "app/batch/run_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <map>
#include <new>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "app/batch/commit_journal.h"
#include "app/batch/commit_order.h"
#include "app/batch/file_places.h"
#include "app/batch/folder_lock.h"
#include "app/batch/frame_steps.h"
#include "app/batch/memory_budget.h"
#include "app/batch/name_key.h"
#include "app/batch/picture_memory.h"
#include "app/batch/row_output.h"
#include "app/batch/source_guard.h"
#include "app/format_table/format_table.h"
#include "core/vx_deep.h"
#include "core/vx_save_path.h"

namespace vellumar::batch {

namespace {

struct Slot {
    bool ready = false;
    RowResult result;
    std::string temporary;  // encoded file waiting for its commit
    std::string output;
};

// Gives the encoded file its source's access and modification times, which
// the rename into place keeps. Only a source that is a file has dates of its
// own (a pipe's are the moment it was read).
bool StampDates(const std::string& source, const std::string& temporary, std::string& why) {
    struct stat st {};
    if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (utimensat(AT_FDCWD, temporary.c_str(), times, 0) == 0) return true;
    why = std::string("cannot give the file its source's dates: ") + std::strerror(errno);
    return false;
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Run {
public:
    Run(const std::vector<std::string>& sources, const RunOptions& options,
        const RunCallbacks& callbacks, const CancelFlag* cancel)
        : plans_(ExpandRows(sources.size(), options)),
          rowSources_(RowSources(sources, plans_)),
          sources_(sources),
          options_(options),
          callbacks_(callbacks),
          cancel_(cancel),
          rows_(int(plans_.size())),
          threads_(options.threads > 0 ? options.threads
                                       : int(std::max(1u, std::thread::hardware_concurrency()))),
          // --jobs keeps its meaning; only a --threads given bounds it.
          jobs_(std::clamp(options.jobs <= 0      ? threads_
                           : options.threads > 0 ? std::min(options.jobs, threads_)
                                                 : options.jobs,
                           1, std::max(1, rows_))),
          stopAt_(rows_),
          slots_(size_t(rows_) + 1),
          guard_(rowSources_),
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
        // An enlarged picture is not bounded by the picture limit; a source
        // kept while several outputs are made of it takes more than one row.
        for (const RowPlan& plan : plans_) {
            const vx::ResizeRequest& resize = plan.resize;
            readSizes_ = readSizes_ ||
                         (resize.kind == vx::ResizeRequest::Kind::Fit && resize.allowEnlarge) ||
                         (resize.kind == vx::ResizeRequest::Kind::Percent && resize.percent > 100);
        }
        readSizes_ = readSizes_ || plans_.size() > sources.size();
    }

    static std::vector<std::string> RowSources(const std::vector<std::string>& sources,
                                               const std::vector<RowPlan>& plans) {
        std::vector<std::string> rows;
        rows.reserve(plans.size());
        for (const RowPlan& p : plans) rows.push_back(sources[size_t(p.source)]);
        return rows;
    }

    // The row after the last one made from row `row`'s decode.
    int GroupEnd(int row) const {
        int end = row + 1;
        while (end <= rows_ && !plans_[size_t(end - 1)].firstOfSource) ++end;
        return end;
    }

    RunSummary Go() {
        // The folder is the run's from here: no other run can plan against it.
        std::string why;
        if (options_.outputs.empty() && !options_.outDir.empty() &&
            !locks_.Hold(options_.outDir, why)) {
            summary_.refusal = why;
            return summary_;
        }
        bool ended = false;
        if (jobs_ == 1) {
            ImageHandle handle = nullptr;
            int row = 0;
            while (!ended && Claim(row)) {
                Report(row);
                std::vector<Slot> group = Convert(row, &handle);
                for (size_t k = 0; k < group.size(); ++k) {
                    if (ended) {
                        Discard(group[k]);
                    } else if (!Finish(row + int(k), group[k])) {
                        ended = true;
                    }
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
        summary_.decodes = decodes_;
        summary_.jobs = jobs_;
        summary_.rowThreads = RowThreads();
        summary_.peakReserved = budget_.PeakHeld();
        summary_.memoryWaits = budget_.Waits();
        return summary_;
    }

private:
    bool Cancelled() const { return cancel_ && cancel_->Requested(); }
    int RowThreads() const { return std::max(1, threads_ / jobs_); }

    // Which rows each row's file must wait for, and which files must be on the
    // disk before the rename that follows them.
    CommitOrder PlanCommits() {
        names_ = PlanOutputs(options_, sources_);  // by row, as ExpandRows gives them
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
        // Formats that store deep samples may bring them, and their light.
        const VxFormatCaps* caps = VxFindFormatCaps(source);
        const uint32_t deep = (!caps || caps->sampleBits > 8 ? vx::kDeepBytesPerPixel : 0) *
                              (!caps || caps->keepsLight ? 2 : 1);
        const uint64_t still = RowMemoryEstimate(options_.maxPixels, 1, source, options_.target, deep);
        if (options_.frameGiven || !TargetAnimates(options_.target)) return still;
        // The limit bounds an animation's frames together.
        const uint64_t half = std::max<uint64_t>(options_.maxPixels / 2, 1);
        return std::max(still, AnimationMemoryEstimate(half, 1, half, 1, source,
                                                       options_.target, 2, deep));
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

    // Takes the rows of the next source (they come from one decode).
    bool Claim(int& row) {
        int end = 0;
        {
            std::lock_guard lock(mutex_);
            if (closing_ || Cancelled() || next_ > stopAt_) return false;
            row = next_;
            end = next_ = GroupEnd(row);
        }
        if (callbacks_.onRowBegun)
            for (int r = row; r < end; ++r) callbacks_.onRowBegun(r);
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

    static bool AnyShortOfResources(const std::vector<Slot>& group) {
        for (const Slot& slot : group)
            if (ShortOfResources(slot)) return true;
        return false;
    }

    void Worker() {
        ImageHandle handle = nullptr;
        int row = 0;
        while (Claim(row)) {
            EnterShared();
            std::vector<Slot> group = Convert(row, &handle);
            LeaveShared();
            if (AnyShortOfResources(group) && !Cancelled()) {
                EnterSolo();
                for (Slot& slot : group) Discard(slot);
                group = Convert(row, &handle);
                LeaveSolo();
            }
            std::lock_guard lock(mutex_);
            for (size_t k = 0; k < group.size(); ++k) {
                Slot& slot = group[k];
                const int r = row + int(k);
                const bool failed = slot.result.outcome != RowOutcome::Done &&
                                    slot.result.outcome != RowOutcome::Skipped;
                if (failed && !options_.keepGoing) stopAt_ = std::min(stopAt_, r);
                slot.ready = true;
                slots_[size_t(r)] = std::move(slot);
            }
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

    // The memory the rows `row` to `end` - 1 (one source's) will take, read
    // from its header; the largest a row may take when the header does not tell.
    uint64_t Estimate(int row, int end, const std::string& source,
                      const std::string& readPath) const {
        const ImageFormat named = FormatFromExtension(source);
        VxImage probe(0);
        probe.SetEscape(-1);
        probe.SetFrame(options_.frame);
        probe.SetMaxPixels(options_.maxPixels);
        SteerDecoder(probe, options_.decode);
        bool pages = false;
        for (int r = row; r < end; ++r) pages |= TargetKeepsPages(plans_[size_t(r - 1)].target);
        probe.SetWantPages(pages && !options_.frameGiven);
        const uint64_t largest = std::min(Largest(named), budget_.Limit());
        // A picture over the limit fails before its decoder allocates: it
        // needs no more than the largest one allowed, and fails with the limit's text.
        if (!probe.Load(readPath.c_str(), named)) return largest;
        const uint32_t w = probe.GetWidth(), h = probe.GetHeight();
        if (w == 0 || h == 0 || (options_.maxPixels != 0 && uint64_t(w) * h > options_.maxPixels))
            return largest;
        const ImageFormat type = probe.GetType() ? probe.GetType() : named;
        const uint32_t deep = vx::DeepBytesPerPixel(probe);
        uint64_t most = 0;
        for (int r = row; r < end; ++r) {
            const RowPlan& plan = plans_[size_t(r - 1)];
            // The size the picture steps give it, in either orientation (an
            // EXIF turn comes before the resize).
            uint32_t ow = 0, oh = 0, tw = 0, th = 0;
            vx::ResizedSize(plan.resize, w, h, ow, oh);
            vx::ResizedSize(plan.resize, h, w, tw, th);
            if (uint64_t(tw) * th > uint64_t(ow) * oh) ow = tw, oh = th;
            // Every frame when the row keeps the animation.
            uint64_t frames = !options_.frameGiven && TargetAnimates(plan.target)
                                  ? uint64_t(std::max(1, probe.GetNumFrames()))
                                  : 1;
            // Pages keep their own sizes: as many first pages as hold them all.
            if (frames > 1 && TargetKeepsPages(plan.target) && probe.GetPagesPixels())
                frames = std::max(frames, (probe.GetPagesPixels() + uint64_t(w) * h - 1) /
                                              (uint64_t(w) * h));
            most = std::max(most, AnimationMemoryEstimate(w, h, ow, oh, type, plan.target, frames,
                                                          deep));
        }
        // Several outputs keep the decoded picture beside each one's copy.
        if (end - row > 1) {
            const uint64_t kept = RowMemoryEstimate(w, h, type, 0, deep);
            most = most > UINT64_MAX - kept ? UINT64_MAX : most + kept;
        }
        return most;
    }

    // The rows of one source, outside any lock: one decode, then for each row
    // its steps, depth and encode into a temporary file.
    std::vector<Slot> Convert(int row, ImageHandle* handle) {
        const int end = GroupEnd(row);
        std::vector<Slot> group(size_t(end - row));
        std::vector<int> wanted;  // rows that need the picture
        for (int r = row; r < end; ++r) {
            Slot& slot = group[size_t(r - row)];
            const PlannedOutput& name = names_[size_t(r - 1)];
            slot.output = name.path;
            if (!name.why.empty()) {
                Fail(slot, RowOutcome::EncodeFailed, name.why);
                continue;
            }
            if (!name.skip.empty()) {
                Fail(slot, RowOutcome::Skipped, name.skip);
                slot.result.output = name.path;
                continue;
            }
            // Folders the template names are made; a caller naming files has its own.
            const size_t folderEnd = slot.output.rfind('/');
            if (size_t(r) > options_.outputs.size() && folderEnd > options_.outDir.size() &&
                !MakeDirectories(slot.output.substr(0, folderEnd), 0777)) {
                Fail(slot, RowOutcome::EncodeFailed,
                     "cannot create the folder " + slot.output.substr(0, folderEnd));
                continue;
            }
            // Before its temporary file is there: no other run may take it for
            // one a killed run left.
            std::string why;
            if (!locks_.Hold(VxFolderOf(slot.output), why)) {
                Fail(slot, RowOutcome::EncodeFailed, why);
                continue;
            }
            wanted.push_back(r);
        }
        if (wanted.empty()) return group;
        const auto began = std::chrono::steady_clock::now();
        const std::string& source = rowSources_[size_t(row - 1)];
        const auto failAll = [&](RowOutcome outcome, const std::string& why) {
            for (const int r : wanted) Fail(group[size_t(r - row)], outcome, why);
        };
        SourceGuard::Opened in =
            guard_.Open(row, [this] { return Cancelled(); }, budget_.Limit());
        if (!in.error.empty()) {
            failAll(RowOutcome::DecodeFailed, in.error);
            return group;
        }
        ImageFacade::SetFrame(handle, options_.frame);
        bool animates = false;
        for (const int r : wanted) animates = animates || TargetAnimates(plans_[size_t(r - 1)].target);
        (*handle)->SetWantAnimation(animates && !options_.frameGiven);
        bool pages = false;
        for (const int r : wanted) pages = pages || TargetKeepsPages(plans_[size_t(r - 1)].target);
        (*handle)->SetWantPages(pages);
        ImageFacade::SetJpegQuality(handle, options_.quality);
        (*handle)->SetMaxPixels(options_.maxPixels);
        // Rows at once are the fewer of --jobs and the rows: a few large
        // pictures get the threads the rows leave.
        (*handle)->SetThreads(uint32_t(RowThreads()));
        (*handle)->SetAllowTruncated(options_.allowTruncated);
        // Codecs that poll it stop a row in progress when the run is cancelled.
        (*handle)->SetCancelRequest(cancel_ ? cancel_->Raw() : nullptr);
        const uint64_t reserved = readSizes_ ? Estimate(row, end, source, in.readPath) : 0;
        switch (budget_.Reserve(reserved, [this] { return Cancelled(); })) {
            case MemoryBudget::Grant::Granted:
                // Freed blocks stay in the process until the rows could need
                // half the budget: what they keep is then at most what was held
                // below that, so kept and held stay within it. Returning every
                // block from the start cost a fault per page on every row.
                if (readSizes_ && budget_.PeakHeld() > budget_.Limit() / 2)
                    std::call_once(stopKeeping_, StopKeepingFreedPictureMemory);
                break;
            case MemoryBudget::Grant::TooLarge:
                failAll(RowOutcome::DecodeFailed,
                        "the picture needs about " + BytesText(reserved) +
                            ", more than the memory budget of " + BytesText(budget_.Limit()));
                SourceGuard::Close(in);
                return group;
            case MemoryBudget::Grant::Stopped:
                SourceGuard::Close(in);
                return group;
        }
        struct stat st {};
        const uint64_t sourceBytes = fstat(in.fd, &st) == 0 ? uint64_t(st.st_size) : 0;
        const auto stamp = [&](Slot& slot) {
            std::string why;
            if (options_.keepDates && !slot.temporary.empty() &&
                !StampDates(source, slot.temporary, why)) {
                Discard(slot);
                slot.result.output.clear();
                Fail(slot, RowOutcome::EncodeFailed, why);
            }
        };
        // Rows that take a direct way need no pixels: the picture is decoded
        // only when a row still needs them.
        std::vector<int> needPixels;
        for (const int r : wanted) {
            Slot& slot = group[size_t(r - row)];
            slot.result.sourceBytes = sourceBytes;
            if (Cancelled() || !Direct(r, source, in.readPath, slot)) needPixels.push_back(r);
            else stamp(slot);
        }
        std::vector<vx::ResizeRequest> sizes;
        for (const int r : needPixels) sizes.push_back(plans_[size_t(r - 1)].resize);
        StoredSize stored;
        RowResult decoded;
        if (!needPixels.empty()) ++decodes_;
        if (needPixels.empty() || Cancelled()) {
            // Nothing to decode, or nothing more to do.
        } else if (!DecodeSource(handle, source, decoded, in.readPath, sizes, stored,
                                        options_.decode)) {
            if (!Cancelled())
                for (const int r : needPixels) Fail(group[size_t(r - row)], decoded.outcome, decoded.error);
        } else {
            const bool alone = needPixels.size() == 1;
            for (const int r : needPixels) {
                if (Cancelled()) break;
                Slot& slot = group[size_t(r - row)];
                Produce(r, handle, stored, alone, slot);
                stamp(slot);
            }
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        for (const int r : wanted) group[size_t(r - row)].result.seconds = seconds;
        SourceGuard::Close(in);
        ReleasePicture(handle);
        budget_.Release(reserved);
        return group;
    }

    // Straight from the source's file where no pixel needs to change; the
    // source's format and size come from its header alone. True when the row
    // is done (written or failed) this way.
    bool Direct(int row, const std::string& source, const std::string& readPath, Slot& slot) {
        const RowPlan& plan = plans_[size_t(row - 1)];
        const ImageFormat named = FormatFromExtension(source);
        // Only a target some way writes is worth reading the header for.
        bool some = false;
        for (ImageFormat f = 1; f < kVxFormatCount && !some; ++f)
            some = TranscoderFor(f, plan.target, plan.resize, options_) != nullptr;
        if (!some) return false;
        VxImage probe(0);
        probe.SetEscape(-1);
        probe.SetFrame(options_.frame);
        probe.SetMaxPixels(options_.maxPixels);
        SteerDecoder(probe, options_.decode);
        if (!probe.Load(readPath.c_str(), named) || !probe.GetType()) return false;
        const VxTranscoder* way = TranscoderFor(probe.GetType(), plan.target, plan.resize, options_);
        if (!way) return false;
        slot.result.sourceFormat = probe.GetType();
        slot.result.width = probe.GetWidth();
        slot.result.height = probe.GetHeight();
        RunOptions options = options_;
        options.target = plan.target;
        switch (TranscodeRow(*way, readPath, options, slot.output, durable_[size_t(row)],
                             slot.temporary, slot.result)) {
            case Transcoded::Done:
                slot.result.output = slot.output;
                return true;
            case Transcoded::Failed:
                return true;
            case Transcoded::NotThisWay:
                return false;
        }
        return false;
    }

    // One output of a decoded picture. A source's only row works on the
    // decoded picture itself; rows sharing it work on copies.
    void Produce(int row, ImageHandle* handle, const StoredSize& stored, bool alone, Slot& slot) {
        const RowPlan& plan = plans_[size_t(row - 1)];
        PictureSteps steps = options_.steps;
        steps.resize = plan.resize;
        const uint32_t w = stored.width ? stored.width : (*handle)->GetWidth();
        const uint32_t h = stored.height ? stored.height : (*handle)->GetHeight();
        if (!options_.alsoSizes.empty() && WouldEnlarge(plan.resize, w, h)) {
            Fail(slot, RowOutcome::Skipped,
                 "the picture is " + std::to_string(w) + "x" + std::to_string(h) + ": no " +
                     SizeName(plan.resize) + " version, sizes never enlarge");
            return;
        }
        ImageHandle copy = alone ? nullptr : new (std::nothrow) VxImage(**handle);
        if (!alone && (!copy || !copy->IsValid())) {
            ImageFacade::Free(&copy);
            Fail(slot, RowOutcome::EncodeFailed, "cannot copy the picture for this output");
            return;
        }
        ImageHandle* work = alone ? handle : &copy;
        RunOptions options = options_;
        options.target = plan.target;
        if (FitPicture(work, plan.target, steps, stored, slot.result)) {
            slot.result.sourceFormat = (*work)->GetType();
            slot.result.width = (*work)->GetWidth();
            slot.result.height = (*work)->GetHeight();
            if (options_.strict && !slot.result.notes.empty()) {
                std::string why = "would lose what the source has (strict): ";
                for (size_t i = 0; i < slot.result.notes.size(); ++i)
                    why += (i ? "; " : "") + slot.result.notes[i];
                Fail(slot, RowOutcome::EncodeFailed, why);
            } else if (EncodeRow(**work, options, slot.output, durable_[size_t(row)],
                                 slot.temporary, slot.result)) {
                slot.result.output = slot.output;
            }
        }
        ImageFacade::Free(&copy);
    }

    // Whether a size of several asks for more than the picture has: the
    // picture would stay as it is without reaching the size asked.
    static bool WouldEnlarge(const vx::ResizeRequest& r, uint32_t w, uint32_t h) {
        if (r.kind == vx::ResizeRequest::Kind::Percent) return r.percent > 100;
        if (r.kind != vx::ResizeRequest::Kind::Fit || r.allowEnlarge) return false;
        uint32_t ow = 0, oh = 0;
        vx::ResizedSize(r, w, h, ow, oh);
        return ow == w && oh == h && !(r.width == w || r.height == h);
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

    const std::vector<RowPlan> plans_;           // by row - 1
    const std::vector<std::string> rowSources_;  // the source of each row, by row - 1
    const std::vector<std::string>& sources_;
    const RunOptions& options_;
    const RunCallbacks& callbacks_;
    const CancelFlag* cancel_;
    const int rows_;
    const int threads_;
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
    std::once_flag stopKeeping_;
    std::atomic<int> decodes_{0};
    RunSummary summary_;
};

}  // namespace

RunSummary RunRows(const std::vector<std::string>& sources, const RunOptions& options,
                   const RunCallbacks& callbacks, const CancelFlag* cancel) {
    return Run(sources, options, callbacks, cancel).Go();
}

}  // namespace vellumar::batch
