#include "app/gui/batch_converter.h"

#include <QFile>
#include <QThread>

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/batch/file_places.h"

#include "app/batch/option_table.h"
#include "app/batch/picture_memory.h"
#include "app/gui/engine_texts.h"
#include "app/gui/texts.h"
#include "app/gui/work_list_model.h"
#include "core/vx_save_path.h"
#include "ui_engine/skin_message_box.h"

namespace vellumar::gui {

std::string OutputFolder(const std::string& programDir, const QString& saveDir) {
    const std::string dir = QFile::encodeName(saveDir).toStdString();
    // A folder picked with the browse button is absolute; a bare name lives
    // under the program's folder, as DATA does.
    if (!dir.empty() && dir.front() == '/') return dir;
    return programDir + "/" + dir;
}

BatchConverter::BatchConverter(WorkListModel& rows, const std::string& programDir)
    : rows_(rows), programDir_(programDir) {}

BatchConverter::~BatchConverter() { Shutdown(); }

void BatchConverter::JoinWorker() {
    // The worker never waits for this thread, so joining here cannot deadlock.
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
}

void BatchConverter::Cancel() {
    if (running_ && cancel_) cancel_->Request();
}

void BatchConverter::Shutdown() {
    shutDown_ = true;
    if (cancel_) cancel_->Request();
    JoinWorker();
    running_ = false;
}

void BatchConverter::Message(const char* words, const QString& reason, const char* title,
                             int icon) {
    // The specified text first; what really happened below it.
    QString shown = text::T(words);
    if (!reason.isEmpty()) shown += QLatin1Char('\n') + reason;
    emit messageRequested(shown, text::T(title), icon);
}

void BatchConverter::Start(const Request& request) {
    if (running_) return;
    if (request.targetItem.isEmpty()) {
        Message(text::kNoFormat, {}, text::kWarningTitle, ui::kIconWarning);
        return;
    }
    if (rows_.Rows() == 0) {
        Message(text::kEmptyList, {}, text::kWarningTitle, ui::kIconWarning);
        return;
    }
    const batch::Target target = batch::TargetFromItem(request.targetItem.toStdString());
    batch::RunOptions options;
    options.target = target.format;
    options.extension = target.extension;
    options.outDir = OutputFolder(programDir_, request.saveDir);
    if (optionsSource_) optionsSource_(options);
    // The prefix is checked as the command line checks --prefix: a name, not a
    // path; a template without it (keep the source names) ignores it.
    if (options.nameTemplate.find("{prefix}") != std::string::npos) {
        const batch::RunOption& prefix = *batch::FindRunOption("prefix");
        std::string detail;
        if (!batch::SetFromText(options, prefix, QFile::encodeName(request.prefix).toStdString(),
                                detail)) {
            Message(text::kBadPrefix,
                    QString::fromStdString(batch::OptionError("prefix", prefix, detail)),
                    text::kWarningTitle, ui::kIconWarning);
            return;
        }
    }
    // As the command line does: a missing save folder is made, and a folder
    // that cannot be made is named in the reason.
    if (!MakeDirectories(options.outDir, 0777)) {
        const std::string why =
            VxSaveErrorText(("cannot create the output folder " + options.outDir).c_str(), errno);
        Message(text::kNoOutputDir, QFile::decodeName(QByteArray::fromStdString(why)),
                text::kWarningTitle, ui::kIconWarning);
        return;
    }

    if (access(options.outDir.c_str(), W_OK | X_OK) != 0) {
        const std::string why = VxSaveErrorText(
            ("cannot write into the output folder " + options.outDir).c_str(), errno);
        Message(text::kNoOutputDir, QFile::decodeName(QByteArray::fromStdString(why)),
                text::kWarningTitle, ui::kIconWarning);
        return;
    }
    // Through the table, which also marks the quality as chosen.
    if (request.quality > 0) {
        std::string detail;
        batch::SetFromText(options, *batch::FindRunOption("quality"),
                           std::to_string(request.quality), detail);
    }

    JoinWorker();
    running_ = true;
    // Statuses of an earlier run say nothing about this one.
    rows_.ResetAll();
    // The list cannot change while the run goes (the pick is refused), so its
    // rows stay the run's rows.
    std::vector<std::string> sources = rows_.Paths();
    keepGoing_ = options.keepGoing;
    total_ = int(sources.size());
    ended_ = 0;
    folder_ = QFile::decodeName(QByteArray::fromStdString(options.outDir));
    clock_.start();
    emit runStarted(total_);

    cancel_ = std::make_unique<batch::CancelFlag>();
    worker_.reset(QThread::create([this, sources = std::move(sources), options] {
        batch::RunCallbacks cb;
        cb.onRowBegun = [this](int row) {
            // Posted before the hook runs, so a held row already shows as in flight.
            QMetaObject::invokeMethod(this, [this, row] { OnRowBegun(row); }, Qt::QueuedConnection);
            if (rowBegun_) rowBegun_(row);
        };
        cb.onRowStart = [this](int row) {
            QMetaObject::invokeMethod(this, [this, row] { OnRowStart(row); }, Qt::QueuedConnection);
        };
        cb.onRowDone = [this](int row, const batch::RowResult& r) {
            QMetaObject::invokeMethod(this, [this, row, r] { OnRowDone(row, r); },
                                      Qt::QueuedConnection);
        };
        batch::KeepFreedPictureMemory();
        const batch::RunSummary summary = batch::RunRows(sources, options, cb, cancel_.get());
        batch::ReturnFreedPictureMemory();
        QMetaObject::invokeMethod(this, [this, summary] { OnRunEnded(summary); },
                                  Qt::QueuedConnection);
    }));
    worker_->start();
}

void BatchConverter::OnRowBegun(int row) {
    if (shutDown_ || !running_) return;
    if (rows_.StatusOf(row - 1) == WorkListModel::Status::Pending)
        rows_.SetResult(row - 1, WorkListModel::Status::Converting);
}

void BatchConverter::OnRowStart(int row) {
    if (!shutDown_) emit rowStarted(row - 1);
}

// Rows reported before a cancel are shown even when the cancel came first:
// their files are in place.
void BatchConverter::OnRowDone(int row, const batch::RowResult& result) {
    if (shutDown_) return;
    if (result.outcome == batch::RowOutcome::Done) {
        QStringList notes;
        for (const VxNoteParts& note : result.noteParts) notes << EngineNote(note);
        rows_.SetResult(row - 1, WorkListModel::Status::Done, notes.join(QLatin1Char('\n')));
        emit rowConverted(row - 1);
        emit progressed(++ended_, total_, clock_.elapsed());
        return;
    }
    emit progressed(++ended_, total_, clock_.elapsed());
    const QString reason = EngineReason(batch::ReasonLine(result.error));
    // Past failures, the rows keep the reasons and the end sums them up.
    if (!keepGoing_)
        Message(result.outcome == batch::RowOutcome::DecodeFailed ? text::kUnsupported
                                                              : text::kNoOutputDir,
            reason, text::kWarningTitle, ui::kIconWarning);
    rows_.SetResult(row - 1, WorkListModel::Status::Failed, reason);
}

void BatchConverter::OnRunEnded(batch::RunSummary summary) {
    if (shutDown_) return;
    JoinWorker();
    running_ = false;
    // Rows cut short by a stop or a cancel left no file.
    rows_.ResetStatuses(WorkListModel::Status::Converting, WorkListModel::Status::Pending);
    if (!summary.refusal.empty())
        Message(text::kNoOutputDir, EngineReason(batch::ReasonLine(summary.refusal)),
                text::kWarningTitle, ui::kIconWarning);
    else if (keepGoing_ && !summary.cancelled)
        emit summaryReady(summary.converted, summary.failed, summary.skipped, clock_.elapsed(),
                          folder_);
    else if (summary.failed == 0 && !summary.cancelled)
        Message(text::kAllDone, {}, text::kInfoTitle, ui::kIconInformation);
    emit runFinished();
}

}  // namespace vellumar::gui
