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
#include "app/gui/native_path.h"
#include "app/gui/texts.h"
#include "ui_engine/skin_message_box.h"

namespace vellumar::gui {

BatchConverter::BatchConverter(AppState& state, const std::string& programDir,
                               const Controls& controls)
    : state_(state), programDir_(programDir), c_(controls) {}

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

void BatchConverter::Message(const QString& text, const char* title, int icon) {
    const QString ti = QString::fromUtf8(title);
    emit messageRequested(text, ti, icon);
    state_.messageBox.Show(text, ti, icon, 0, 300, 150, c_.owner);
}

void BatchConverter::Start() {
    if (running_) return;
    if (c_.formatCombo->currentIndex() == -1) {
        Message(QString::fromUtf8(text::kNoFormat), text::kWarningTitle, ui::kIconWarning);
        return;
    }
    const batch::Target target = batch::TargetFromItem(c_.formatCombo->currentText().toStdString());
    const int rowCount = int(state_.selectedFiles.size());
    std::vector<std::string> sources;
    sources.reserve(size_t(rowCount));
    for (int r = 0; r < rowCount; ++r) {
        const QTreeWidgetItem* item = c_.workList->topLevelItem(r);
        sources.push_back(item ? NativePath(item->text(0)) : std::string());
    }

    batch::RunOptions options;
    options.target = target.format;
    options.extension = target.extension;
    options.outDir = programDir_ + "/" + QFile::encodeName(c_.saveDirEdit->text()).toStdString();
    options.prefix = QFile::encodeName(c_.prefixEdit->text()).toStdString();
    options.jobs = 0;  // one per core
    if (optionsSource_) optionsSource_(options);

    JoinWorker();
    running_ = true;
    c_.openButton->setEnabled(false);
    c_.startButton->setText(QString::fromUtf8(text::kStopButton));
    c_.progress->setRange(0, std::max(rowCount, 1));
    c_.progress->setValue(0);
    c_.progress->setVisible(rowCount > 0);

    cancel_ = std::make_unique<batch::CancelFlag>();
    worker_.reset(QThread::create([this, sources = std::move(sources), options] {
        batch::RunCallbacks cb;
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

void BatchConverter::OnRowStart(int row) {
    if (shutDown_) return;
    c_.progress->setValue(row - 1);
    if (QTreeWidgetItem* item = c_.workList->topLevelItem(row - 1)) c_.workList->scrollToItem(item);
}

// Rows reported before a cancel are shown even when the cancel came first:
// their files are in place.
void BatchConverter::OnRowDone(int row, const batch::RowResult& result) {
    if (shutDown_) return;
    QTreeWidgetItem* item = c_.workList->topLevelItem(row - 1);
    if (result.outcome == batch::RowOutcome::Done) {
        if (item) item->setText(1, QString::fromUtf8(text::kDone));
        c_.progress->setValue(row);
        return;
    }
    const QString reason = QString::fromStdString(batch::ReasonLine(result.error));
    // The specified text first; what really happened below it.
    QString text = QString::fromUtf8(result.outcome == batch::RowOutcome::DecodeFailed
                                         ? text::kUnsupported
                                         : text::kNoOutputDir);
    if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
    Message(text, text::kWarningTitle, ui::kIconWarning);
    if (item) {
        item->setText(1, QString::fromUtf8(text::kFailed));
        for (int column : {0, 1}) item->setToolTip(column, reason);
    }
}

void BatchConverter::OnRunEnded(batch::RunSummary summary) {
    if (shutDown_) return;
    JoinWorker();
    running_ = false;
    if (summary.failed == 0 && !summary.cancelled)
        Message(QString::fromUtf8(text::kAllDone), text::kInfoTitle, ui::kIconInformation);
    c_.progress->setVisible(false);
    c_.openButton->setEnabled(true);
    c_.startButton->setText(QString::fromUtf8(text::kStartButton));
    emit runFinished();
}

}  // namespace vellumar::gui
