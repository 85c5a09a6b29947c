// The start button's run: the work list's rows converted by the run driver on
// a worker thread, rows reported in order, with the window's messages.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
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

    // Options the window's menus add to every run.
    void SetOptionsSource(std::function<void(batch::RunOptions&)> source) {
        optionsSource_ = std::move(source);
    }

    void Start();
    bool Running() const { return running_; }
    // Asks the run to stop: no row starts after it, rows in progress leave no
    // file, rows already reported keep theirs; runFinished follows.
    void Cancel();
    // Cancels, waits for the worker and drops what it still reports (the window goes).
    void Shutdown();

signals:
    // Every message the run asks the message box for, shown or dropped.
    void messageRequested(const QString& text, const QString& title, int icon);
    void runFinished();

private:
    void Message(const QString& text, const char* title, int icon);
    void OnRowStart(int row);
    void OnRowDone(int row, const batch::RowResult& result);
    void OnRunEnded(batch::RunSummary summary);
    void JoinWorker();

    AppState& state_;
    std::string programDir_;
    Controls c_;
    std::function<void(batch::RunOptions&)> optionsSource_;
    bool running_ = false;
    bool shutDown_ = false;
    std::unique_ptr<batch::CancelFlag> cancel_;
    std::unique_ptr<QThread> worker_;
};

}  // namespace vellumar::gui
