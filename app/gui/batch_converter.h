// The start button's run: the work list's rows converted by the run driver on
// a worker thread, rows reported in order into the list's model. It touches
// no widget: the window shows its messages and progress from its signals.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

#include "app/batch/run_driver.h"

class QThread;

namespace vellumar::gui {

class WorkListModel;

// Where a run writes: `saveDir` itself when absolute, else under `programDir`.
std::string OutputFolder(const std::string& programDir, const QString& saveDir);

class BatchConverter : public QObject {
    Q_OBJECT
public:
    // What the window's controls hold when start is clicked.
    struct Request {
        QString targetItem;  // the chosen target's item text; empty: none chosen
        QString saveDir;
        QString prefix;
        int quality = 0;  // 0: not chosen
    };

    BatchConverter(WorkListModel& rows, const std::string& programDir);
    ~BatchConverter() override;

    // Options the window's menus add to every run.
    void SetOptionsSource(std::function<void(batch::RunOptions&)> source) {
        optionsSource_ = std::move(source);
    }

    // Called on a worker thread as each row begins (1-based); lets a test
    // hold rows back until it has done what it needs to.
    void SetRowBegunHook(std::function<void(int row)> hook) { rowBegun_ = std::move(hook); }

    void Start(const Request& request);
    bool Running() const { return running_; }
    // Asks the run to stop: no row starts after it, rows in progress leave no
    // file, rows already reported keep theirs; runFinished follows.
    void Cancel();
    // Cancels, waits for the worker and drops what it still reports (the window goes).
    void Shutdown();

signals:
    // Every message the run has for the message box, in order.
    void messageRequested(const QString& text, const QString& title, int icon);
    void runStarted(int rows);
    // List rows count from 0. The run now waits for `row`; rows before it are reported.
    void rowStarted(int row);
    void rowConverted(int row);
    // Rows ended so far, converted or not, of the run's `total`; the time the run has taken.
    void progressed(int ended, int total, qint64 elapsedMs);
    // A run past failures ends with one account instead of a box per failure.
    void summaryReady(int converted, int failed, int skipped, qint64 elapsedMs,
                      const QString& folder);
    void runFinished();

private:
    void Message(const char* words, const QString& reason, const char* title, int icon);
    void OnRowBegun(int row);
    void OnRowStart(int row);
    void OnRowDone(int row, const batch::RowResult& result);
    void OnRunEnded(batch::RunSummary summary);
    void JoinWorker();

    WorkListModel& rows_;
    std::string programDir_;
    std::function<void(batch::RunOptions&)> optionsSource_;
    std::function<void(int)> rowBegun_;
    bool running_ = false;
    bool keepGoing_ = false;
    int total_ = 0, ended_ = 0;
    QString folder_;
    QElapsedTimer clock_;
    bool shutDown_ = false;
    std::unique_ptr<batch::CancelFlag> cancel_;
    std::unique_ptr<QThread> worker_;
};

}  // namespace vellumar::gui
