#include "app/gui/batch_converter.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

#include "app/batch/picture_memory.h"
#include "app/gui/texts.h"
#include "ui_engine/skin_message_box.h"

namespace vellumar::gui {

namespace {

std::string Native(const QString& s) { return QFile::encodeName(s).toStdString(); }

}  // namespace

BatchConverter::BatchConverter(AppState& state, const std::string& programDir,
                               const Controls& controls)
    : state_(state), programDir_(programDir), c_(controls) {
    SnapshotNames();
    connect(c_.saveDirEdit, &QLineEdit::textChanged, this, [this] { SnapshotNames(); });
    connect(c_.prefixEdit, &QLineEdit::textChanged, this, [this] { SnapshotNames(); });
}

BatchConverter::~BatchConverter() { Shutdown(); }

void BatchConverter::SnapshotNames() {
    std::lock_guard lock(namesMutex_);
    saveDir_ = Native(c_.saveDirEdit->text());
    prefix_ = Native(c_.prefixEdit->text());
}

void BatchConverter::JoinWorker() {
    // The worker never waits for this thread, so joining here cannot deadlock.
    if (worker_) {
        worker_->wait();
        worker_.reset();
    }
}

void BatchConverter::Shutdown() {
    if (cancel_) cancel_->Request();
    JoinWorker();
    running_ = false;
}

void BatchConverter::Message(const char* text, const char* title, int icon) {
    const QString t = QString::fromUtf8(text);
    const QString ti = QString::fromUtf8(title);
    emit messageRequested(t, ti, icon);
    state_.messageBox.Show(t, ti, icon, 0, 300, 150, c_.owner);
}

void BatchConverter::Start() {
    if (running_) return;
    if (c_.formatCombo->currentIndex() == -1) {
        Message(text::kNoFormat, text::kWarningTitle, ui::kIconWarning);
        return;
    }
    const batch::Target target = batch::TargetFromItem(c_.formatCombo->currentText().toStdString());
    const int rowCount = int(state_.selectedFiles.size());
    std::vector<std::string> sources;
    sources.reserve(size_t(rowCount));
    for (int r = 0; r < rowCount; ++r) {
        const QTreeWidgetItem* item = c_.workList->topLevelItem(r);
        sources.push_back(item ? Native(item->text(0)) : std::string());
    }

    JoinWorker();
    running_ = true;
    c_.openButton->setEnabled(false);
    c_.startButton->setEnabled(false);
    c_.progress->setRange(0, std::max(rowCount, 1));
    c_.progress->setValue(0);
    c_.progress->setVisible(rowCount > 0);
    SnapshotNames();

    batch::RunOptions options;
    options.target = target.format;
    options.extension = target.extension;
    {
        std::lock_guard lock(namesMutex_);
        options.outDir = programDir_ + "/" + saveDir_;
        options.prefix = prefix_;
    }
    cancel_ = std::make_unique<batch::CancelFlag>();
    worker_.reset(QThread::create([this, sources = std::move(sources), options] {
        batch::RunCallbacks cb;
        cb.onRowStart = [this](int row) {
            QMetaObject::invokeMethod(this, [this, row] { OnRowStart(row); }, Qt::QueuedConnection);
        };
        cb.onRowDone = [this](int row, const batch::RowResult& r) {
            const batch::RowOutcome outcome = r.outcome;
            QMetaObject::invokeMethod(this, [this, row, outcome] { OnRowDone(row, outcome); },
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

void BatchConverter::OnRowStart(int row) {
    if (Cancelled()) return;
    c_.progress->setValue(row - 1);
    if (QTreeWidgetItem* item = c_.workList->topLevelItem(row - 1)) c_.workList->scrollToItem(item);
}

void BatchConverter::OnRowDone(int row, batch::RowOutcome outcome) {
    if (Cancelled()) return;
    QTreeWidgetItem* item = c_.workList->topLevelItem(row - 1);
    if (outcome == batch::RowOutcome::Done) {
        if (item) item->setText(1, QString::fromUtf8(text::kDone));
        c_.progress->setValue(row);
        return;
    }
    Message(outcome == batch::RowOutcome::DecodeFailed ? text::kUnsupported : text::kNoOutputDir,
            text::kWarningTitle, ui::kIconWarning);
    if (item) item->setText(1, QString::fromUtf8(text::kFailed));
}

void BatchConverter::OnRunEnded(batch::RunSummary summary) {
    if (Cancelled()) return;
    if (summary.failed == 0) Message(text::kAllDone, text::kInfoTitle, ui::kIconInformation);
    c_.progress->setVisible(false);
    c_.openButton->setEnabled(true);
    c_.startButton->setEnabled(true);
    running_ = false;
    emit runFinished();
}

}  // namespace vellumar::gui
