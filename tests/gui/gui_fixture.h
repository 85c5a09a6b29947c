// A main window over a scratch program folder, with the file pick scripted.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/gui/app_state.h"
#include "app/gui/batch_converter.h"
#include "app/gui/main_window.h"
#include "app/gui/work_list_model.h"
#include "tests/support/test_support.h"
#include "ui_engine/skin_message_box.h"
#include "ui_engine/ui_engine.h"

namespace gt {

using vellumar::gui::AppState;
using vellumar::gui::BatchConverter;
using vellumar::gui::MainWindow;
using vellumar::gui::WorkListModel;

inline QString U(const char* s) { return QString::fromUtf8(s); }

inline QAction* FindAction(QWidget* w, const char* text) {
    for (QAction* a : w->findChildren<QAction*>())
        if (a->text() == U(text)) return a;
    return nullptr;
}

struct PickCall {
    QString title, filter, startDir;
};

// Waits while the event loop runs; true when `cond` came true in time.
template <typename F>
bool WaitFor(F cond, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { Open(false); }
    void TearDown() override {
        win.reset();
        state.reset();
    }

    void Open(bool attachSkin) {
        win.reset();
        state.reset();
        vellumar::ui::Engine::Initialize();
        state = std::make_unique<AppState>();
        win = std::make_unique<MainWindow>(*state, MainWindow::Options{dir.path(), attachSkin});
        win->show();
        QObject::connect(&win->Converter(), &BatchConverter::messageRequested,
                         [this](const QString& text, const QString& title, int icon) {
                             // The specified text, and apart the reason below it.
                             const qsizetype cut = text.indexOf('\n');
                             messages.emplace_back(text.left(cut), title, icon);
                             if (cut >= 0) reasons.push_back(text.mid(cut + 1));
                         });
    }

    void Pick(const QStringList& files) {
        win->SetFilePicker([this, files](QWidget*, const QString& title, const QString& filter,
                                         const QString& startDir) {
            picks.push_back({title, filter, startDir});
            return files;
        });
        QTest::mouseClick(win->OpenButton(), Qt::LeftButton);
    }

    void ChooseFormat(const char* item) {
        const int i = win->FormatCombo()->findText(U(item));
        ASSERT_GE(i, 0) << item;
        win->FormatCombo()->setCurrentIndex(i);
    }

    // Clicks start and waits for the run to end; false on timeout.
    bool RunBatch() {
        QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
        QTest::mouseClick(win->StartButton(), Qt::LeftButton);
        return WaitFor([&] { return done.count() > 0; });
    }

    // What the list shows in a cell: its text, or its tooltip.
    QString RowText(int row, int column = 1, int role = Qt::DisplayRole) const {
        const WorkListModel& m = win->Rows();
        return row < m.Rows() ? m.data(m.index(row, column), role).toString() : QString("<no row>");
    }

    void CloseBox() {
        vellumar::ui::MessageBoxWindow* box = state->messageBox.Window();
        if (!box) return;
        QTest::mouseClick(box, Qt::LeftButton, {}, box->OkArea().center());
        WaitFor([this] { return !state->messageBox.IsOpen(); }, 5000);
    }

    // A save folder under the scratch program folder.
    std::string MakeSaveDir(const std::string& name) {
        QDir().mkpath(QString::fromStdString(dir.file(name)));
        return dir.file(name);
    }

    vt::TempDir dir;  // stands for the program's folder
    vt::TempDir sources;
    std::unique_ptr<AppState> state;
    std::unique_ptr<MainWindow> win;
    std::vector<std::tuple<QString, QString, int>> messages;
    std::vector<QString> reasons;  // second lines of the failure messages
    std::vector<PickCall> picks;
};

}  // namespace gt
