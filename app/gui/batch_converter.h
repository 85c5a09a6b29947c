// The start button's run: every row of the work list decoded, fitted and
// encoded in order on a worker thread, with the row texts, messages and stop
// rules of the command-line batch.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "app/batch/run_driver.h"
#include "app/gui/app_state.h"

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;
class QWidget;

namespace vellumar::gui {

class BatchConverter : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QWidget* owner = nullptr;
        QTreeWidget* workList = nullptr;
        QComboBox* formatCombo = nullptr;
        QLineEdit* saveDirEdit = nullptr;
        QLineEdit* prefixEdit = nullptr;
        QPushButton* openButton = nullptr;
        QPushButton* startButton = nullptr;
        QProgressBar* progress = nullptr;
    };

    BatchConverter(AppState& state, const std::string& programDir, const Controls& controls);
    ~BatchConverter() override;

    void Start();
    bool Running() const { return running_; }
    // Stops after the row in progress (its output is not written) and waits.
    void Shutdown();

signals:
    // Every message the run asks the message box for, shown or dropped.
    void messageRequested(const QString& text, const QString& title, int icon);
    void runFinished();

private:
    void Message(const char* text, const char* title, int icon);
    void OnRowStart(int row);
    void OnRowDone(int row, batch::RowOutcome outcome);
    void OnRunEnded(batch::RunSummary summary);
    void SnapshotNames();
    void JoinWorker();

    AppState& state_;
    std::string programDir_;
    Controls c_;
    bool running_ = false;
    bool Cancelled() const { return cancel_ && cancel_->Requested(); }
    std::unique_ptr<batch::CancelFlag> cancel_;
    std::unique_ptr<QThread> worker_;
    // The edit boxes as last typed; the worker reads them when it names a row's output.
    std::mutex namesMutex_;
    std::string saveDir_;
    std::string prefix_;
};

}  // namespace vellumar::gui
