// Start-up state, skin files, menu, about box and the file pick.
#include <QAction>
#include <QApplication>
#include <QFont>
#include <QFileDialog>
#include <QListView>
#include <QMessageBox>
#include <QTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>

#include <dlfcn.h>
#include <sys/stat.h>

#include "app/gui/options_menu.h"
#include "app/gui/skin_loader.h"
#include "app/gui/texts.h"
#include "tests/gui/gui_fixture.h"

namespace {

using namespace gt;
namespace ui = vellumar::ui;

std::vector<uint8_t> Bytes(std::span<const unsigned char> s) { return {s.begin(), s.end()}; }

TEST_F(WindowTest, StartUpLayoutTextsAndState) {
    EXPECT_EQ(win->windowTitle(), U("Vellumar 1.1"));
    EXPECT_EQ(win->geometry(), QRect(50, 50, 465, 387));

    struct Expect { const char* name; QRect rect; const char* text; };
    const Expect controls[] = {
        {"超级列表框1", {8, 8, 440, 192}, nullptr},
        {"标签4", {8, 208, 440, 24}, "支持的格式：BMP,GIF,JPG,PNG,ICO,TIF,TGA,PCX,WBMP,WMF,JP2,JPC,PGX,PNM,RAS,WEBP,HEIC,AVIF,JXL,QOI,PSD,EXR,SVG,PDF,RAW"},
        {"按钮1", {8, 240, 264, 32}, "打开欲处理的图像文件（支持多文件处理）"},
        {"按钮2", {296, 240, 144, 56}, "开始转换"},
        {"标签1", {16, 280, 96, 24}, "欲转换到的格式："},
        {"组合框1", {112, 280, 136, 20}, nullptr},
        {"标签2", {16, 304, 64, 24}, "保存目录："},
        {"编辑框1", {78, 309, 114, 19}, nullptr},
        {"标签3", {194, 307, 8, 24}, "/"},
        {"编辑框2", {204, 309, 68, 19}, "DATA"},
        {"标签5", {276, 310, 124, 16}, "自定义前缀名(防重复)："},
        {"编辑框3", {404, 308, 48, 19}, "main"},
    };
    for (const Expect& e : controls) {
        auto* w = win->findChild<QWidget*>(U(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->geometry(), e.rect) << e.name;
        EXPECT_EQ(w->parentWidget(), win->centralWidget()) << e.name;
        if (!e.text) continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        else if (auto* b = qobject_cast<QPushButton*>(w)) text = b->text();
        else if (auto* ed = qobject_cast<QLineEdit*>(w)) text = ed->text();
        EXPECT_EQ(text, U(e.text)) << e.name;
    }
    EXPECT_EQ(win->WorkList()->objectName(), U("超级列表框1"));
    EXPECT_EQ(win->StartButton()->objectName(), U("按钮2"));

    // The list: two headed columns of the given widths, no rows.
    QTreeView* list = win->WorkList();
    ASSERT_EQ(list->model()->columnCount(), 2);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal), U("待处理图像文件"));
    EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal), U("处理结果"));
    EXPECT_EQ(list->columnWidth(0), 330);
    EXPECT_EQ(list->model()->rowCount(), 0);

    // The combo: the fifteen targets in order, then the newer formats, none chosen.
    QComboBox* combo = win->FormatCombo();
    ASSERT_EQ(combo->count(), 25);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->itemText(0), U("*.PNG"));
    EXPECT_EQ(combo->itemText(8), U("*.WBMP"));
    EXPECT_EQ(combo->itemText(14), U("*.RAS"));
    EXPECT_EQ(combo->itemText(15), U("*.WEBP"));
    EXPECT_EQ(combo->itemText(18), U("*.JXL"));

    EXPECT_EQ(win->BaseDirEdit()->text(), QString::fromStdString(dir.path()));
    EXPECT_FALSE(state->messageBox.IsOpen());
    EXPECT_TRUE(win->OpenButton()->isEnabled());
    EXPECT_TRUE(win->StartButton()->isEnabled());

    // The engine's settings after creation replace its defaults.
    EXPECT_EQ(ui::Engine::ThemeColor(), 0xFF8800u);
    EXPECT_EQ(ui::Engine::DisplayFlag(), 1);
}

// Grown, the list takes the room and nothing else changes size or overlaps.
TEST_F(WindowTest, ResizingKeepsTheArrangement) {
    QWidget* client = win->centralWidget();
    const QList<QWidget*> all = client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::vector<QRect> before;
    for (QWidget* w : all) before.push_back(w->geometry());
    const QSize grow(336, 213);
    win->resize(win->size() + grow);
    QCoreApplication::processEvents();
    for (qsizetype i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(all[i]->objectName().toStdString());
        const QRect now = all[i]->geometry();
        // The list and the preview beside it take the height; the rest move down.
        const int tall = before[i].top() == 8 ? grow.height() : 0;
        EXPECT_TRUE(now.width() >= before[i].width() && now.height() == before[i].height() + tall &&
                    now.top() == before[i].top() + grow.height() - tall);
        for (qsizetype j = 0; j < i; ++j)
            EXPECT_TRUE(before[i].intersects(before[j]) || !now.intersects(all[j]->geometry()));
    }
    // Half the width goes to the list, half to the preview beside it.
    EXPECT_EQ(win->WorkList()->width(), 440 + grow.width() / 2);
    EXPECT_EQ(win->WorkList()->columnWidth(0), 330 + grow.width() / 2);
    EXPECT_EQ(win->findChild<QWidget*>("preview")->width(), grow.width() / 2);
}

// Rows go one by one or all at once, or join through the dialog.
TEST_F(WindowTest, RowsAreRemovedClearedAndAdded) {
    Pick({"/p/a.bmp", "/p/b.bmp", "/p/c.bmp"});
    EXPECT_EQ(RowText(2, 0, Qt::ToolTipRole), U("/p/c.bmp"));
    win->WorkList()->selectionModel()->select(win->Rows().index(1, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(win->WorkList(), Qt::Key_Delete);
    EXPECT_EQ(win->Rows().Paths(), (std::vector<std::string>{"/p/a.bmp", "/p/c.bmp"}));
    win->SetFilePicker([](QWidget*, const QString&, const QString&, const QString&) {
        return QStringList{"/p/d.bmp", "/p/a.bmp"};
    });
    FindAction(win->WorkList(), "添加文件…")->trigger();
    EXPECT_EQ(win->Rows().Paths(), (std::vector<std::string>{"/p/a.bmp", "/p/c.bmp", "/p/d.bmp"}));
    FindAction(win->WorkList(), "清空列表")->trigger();
    EXPECT_EQ(win->Rows().Rows(), 0);
}

TEST_F(WindowTest, MenuHasProgramExitAndAboutAuthor) {
    const QList<QAction*> top = win->menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0]->text(), U("程序"));
    EXPECT_EQ(top[1]->text(), U("选项"));
    EXPECT_EQ(top[2]->text(), U("关于"));
    const QList<QAction*> program = top[0]->menu()->actions();
    ASSERT_EQ(program.size(), 2);
    EXPECT_EQ(program[0]->text(), U("停止转换"));
    EXPECT_EQ(program[0]->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(program[1]->text(), U("退出"));
    ASSERT_EQ(top[2]->menu()->actions().size(), 1);
    EXPECT_EQ(top[2]->menu()->actions()[0]->text(), U("关于作者"));

    program[1]->trigger();
    EXPECT_FALSE(win->isVisible());
}

// 退出 ends the program even while the about box (a window of its own) is open.
TEST_F(WindowTest, ExitWithTheAboutBoxOpenEndsTheProgram) {
    QSignalSpy last(qApp, &QGuiApplication::lastWindowClosed);
    bool boxWasOpen = false, stuck = false;
    QTimer::singleShot(0, [&] {
        FindAction(win.get(), "关于作者")->trigger();
        boxWasOpen = state->messageBox.IsOpen();
        FindAction(win.get(), "退出")->trigger();
    });
    // Only a program that does not end reaches this.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        stuck = true;
        QCoreApplication::quit();
    });
    guard.start(60000);
    QApplication::exec();
    EXPECT_TRUE(boxWasOpen);
    EXPECT_FALSE(stuck);
    EXPECT_FALSE(state->messageBox.IsOpen());
    EXPECT_EQ(last.count(), 1);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible()) << w;
}

TEST_F(WindowTest, SettingsSurviveARestart) {
    using vellumar::batch::RunOptions;
    const auto applied = [this] {
        RunOptions o;
        win->Choices().ApplyTo(o);
        return o;
    };
    // Untouched, the menu leaves every run option at its default.
    const RunOptions fresh = applied(), defaults;
    EXPECT_EQ(fresh.nameTemplate, defaults.nameTemplate);
    EXPECT_FALSE(fresh.keepGoing || fresh.steps.keepOrientation || fresh.steps.strip);
    EXPECT_TRUE(fresh.steps.colours.IsDefault());
    EXPECT_EQ(fresh.steps.resize.kind, vx::ResizeRequest::Kind::None);

    ChooseFormat("*.JP2");
    win->SaveDirEdit()->setText(U("输出"));
    win->PrefixEdit()->setText(U("p-"));
    const char* const items[] = {"遇到失败时继续转换", "保留原文件名", "保持图像的存储方向",
                                 "去除颜色配置和EXIF信息", "缩小到 50%", "自适应调色板",
                                 "误差扩散 (Floyd-Steinberg)"};
    for (const char* item : items) {
        QAction* a = FindAction(win.get(), item);
        ASSERT_NE(a, nullptr) << item;
        a->trigger();
    }
    win->close();
    Open(false);
    EXPECT_EQ(win->FormatCombo()->currentText(), U("*.JP2"));
    EXPECT_EQ(win->SaveDirEdit()->text(), U("输出"));
    EXPECT_EQ(win->PrefixEdit()->text(), U("p-"));
    for (const char* item : items) EXPECT_TRUE(FindAction(win.get(), item)->isChecked()) << item;
    EXPECT_FALSE(FindAction(win.get(), "标准调色板")->isChecked());
    const RunOptions o = applied();
    EXPECT_TRUE(o.keepGoing && o.steps.keepOrientation && o.steps.strip);
    EXPECT_EQ(o.nameTemplate, "{name}{EXT}");
    EXPECT_EQ(o.steps.resize.kind, vx::ResizeRequest::Kind::Percent);
    EXPECT_EQ(o.steps.resize.percent, 50u);
    EXPECT_EQ(o.steps.colours.palette, vx::PaletteChoice::Adaptive);
    EXPECT_EQ(o.steps.colours.dither, vx::DitherChoice::FloydSteinberg);
}

TEST_F(WindowTest, SkinFilesWrittenBesideProgramAndAttached) {
    Open(true);
    const auto dat = vt::ReadFileBytes(dir.file("vskin.dat"));
    const auto so = vt::ReadFileBytes(dir.file("vskin.so"));
    ASSERT_GE(dat.size(), 4u);
    EXPECT_EQ(std::string(dat.begin(), dat.begin() + 4), ".VSK");
    EXPECT_EQ(dat, Bytes(vellumar::gui::EmbeddedSkinData()));
    // The carried library is the module the build made, byte for byte.
    EXPECT_EQ(so, vt::ReadFileBytes(VSKIN_MODULE));
    ASSERT_GE(so.size(), 4u);
    EXPECT_EQ(so[0], 0x7F);
    EXPECT_EQ(so[1], 'E');
    EXPECT_TRUE(win->SkinLoaded());
    EXPECT_EQ(win->Skin().ModulePath(), dir.file("vskin.so"));
    EXPECT_NEAR(win->windowOpacity(), 220 / 255.0, 0.01);
    // No temporary files are left behind.
    const QStringList all = QDir(QString::fromStdString(dir.path()))
                                .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_EQ(all, (QStringList{"vskin.dat", "vskin.so"}));

    // A second start replaces the files (a stale library is overwritten whole).
    vt::WriteFileBytes(dir.file("vskin.dat"), {'o', 'l', 'd'});
    Open(true);
    EXPECT_EQ(vt::ReadFileBytes(dir.file("vskin.dat")), dat);
}

// A program folder the user cannot write (a system install) sends the
// window's files to the user's XDG folders; the window still starts skinned.
TEST_F(WindowTest, UnwritableProgramFolderUsesTheUsersFoldersSkinned) {
    vt::TempDir user;
    const std::string run = user.file("run"), data = user.file("data/vellumar");
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    const vt::ScopedEnv d("XDG_DATA_HOME", user.file("data").c_str()),
        c("XDG_CONFIG_HOME", user.file("config").c_str()), r("XDG_RUNTIME_DIR", run.c_str());
    QApplication::setFont(QFont(QStringLiteral("Courier")));
    win.reset();
    state.reset();
    state = std::make_unique<AppState>();
    const std::string missing = dir.file("no/such/folder");
    win = std::make_unique<MainWindow>(*state, MainWindow::Options{missing, true});
    win->show();
    EXPECT_TRUE(win->SkinLoaded());
    EXPECT_EQ(win->Skin().ModulePath(), run + "/vellumar/vskin.so");
    struct stat st {};
    ASSERT_EQ(stat((run + "/vellumar").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(vt::ReadFileBytes(user.file("config/vellumar/vskin.dat")),
              Bytes(vellumar::gui::EmbeddedSkinData()));
    // The module found its theme in the config folder, not beside itself.
    EXPECT_EQ(QApplication::font().family(), U("WenQuanYi Micro Hei"));
    EXPECT_FALSE(state->messageBox.IsOpen());
    EXPECT_FALSE(vt::FileExists(missing));

    // The save folder is the user's own DATA, made at start.
    EXPECT_EQ(win->BaseDirEdit()->text(), QString::fromStdString(data));
    Pick({QString::fromStdString(vt::DataPath("bmp/bits8.bmp"))});
    ChooseFormat("*.PNG");
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(RowText(0), U("处理完成"));
    EXPECT_TRUE(vt::FileExists(data + "/DATA/main1.PNG"));
    CloseBox();
}

TEST(ProgramStart, WritesSkinFilesBesideTheProgramNotTheCurrentFolder) {
    vt::TempDir prog, elsewhere;
    const QString exe = QString::fromStdString(prog.file("vellumar"));
    ASSERT_TRUE(QFile::copy(VELLUMAR_GUI_EXE, exe));
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(elsewhere.path()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {});
    ASSERT_TRUE(p.waitForStarted(10000));
    const bool written = WaitFor([&] {
        return vt::FileExists(prog.file("vskin.so")) && vt::FileExists(prog.file("vskin.dat")) &&
               vt::ReadFileBytes(prog.file("vskin.so")) == vt::ReadFileBytes(VSKIN_MODULE);
    }, 30000);
    const bool stillRunning = p.state() == QProcess::Running;
    p.kill();
    p.waitForFinished(10000);
    ASSERT_TRUE(written);
    EXPECT_TRUE(stillRunning) << "the window should stay up until closed";
    const auto dat = vt::ReadFileBytes(prog.file("vskin.dat"));
    ASSERT_GE(dat.size(), 4u);
    EXPECT_EQ(std::string(dat.begin(), dat.begin() + 4), ".VSK");
    EXPECT_FALSE(vt::FileExists(elsewhere.file("vskin.so")));
    EXPECT_FALSE(vt::FileExists(elsewhere.file("vskin.dat")));
}

TEST_F(WindowTest, AboutBoxIsPlacedFromTheScreenWhereverTheWindowIs) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const QPoint expected(int(screen.width() * 0.5 - 202.5), int(screen.height() * 0.5 - 87.5));
    for (const QPoint at : {QPoint(50, 50), QPoint(310, 170)}) {
        win->move(at);
        QAction* about = FindAction(win.get(), "关于作者");
        ASSERT_NE(about, nullptr);
        about->trigger();
        ui::MessageBoxWindow* box = state->messageBox.Window();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->pos(), expected);
        EXPECT_EQ(box->size(), QSize(300, 150));
        EXPECT_EQ(box->windowTitle(), U("关于作者"));
        EXPECT_EQ(box->Icon(), 64);
        EXPECT_EQ(box->Style(), 1);
        EXPECT_EQ(box->parentWidget(), nullptr);
        const QStringList lines = box->Text().split(U("\r\n"));
        ASSERT_EQ(lines.size(), 3);
        EXPECT_EQ(lines[0], U("软件完全免费使用！"));
        EXPECT_FALSE(lines[1].isEmpty());
        EXPECT_FALSE(lines[2].isEmpty());
        CloseBox();
        ASSERT_FALSE(state->messageBox.IsOpen());
    }
}

TEST_F(WindowTest, PickFillsListAndSelectionTogetherInDialogOrder) {
    const QStringList three{"/p/c.bmp", "/p/a.bmp", "/q/b.BMP"};
    Pick(three);
    ASSERT_EQ(picks.size(), 1u);
    EXPECT_EQ(picks[0].title, U("选择要转换的文件"));
    EXPECT_TRUE(picks[0].filter.startsWith(U("图形格式(*.*)")));
    EXPECT_EQ(picks[0].startDir, QString::fromStdString(dir.path()));
    EXPECT_EQ(win->Rows().Paths(),
              (std::vector<std::string>{"/p/c.bmp", "/p/a.bmp", "/q/b.BMP"}));
    ASSERT_EQ(win->WorkList()->model()->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(RowText(r, 0), three[r]);
        EXPECT_EQ(RowText(r, 1), U("待处理"));
    }

    // A new pick replaces, never adds: the same file twice over two picks is one row.
    Pick({"/p/a.bmp"});
    Pick({"/p/a.bmp"});
    EXPECT_EQ(win->Rows().Paths(), std::vector<std::string>{"/p/a.bmp"});

}

TEST_F(WindowTest, LargePickYieldsEveryFile) {
    // Far beyond what a 61,440-byte name buffer would hold.
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QString("/some/rather/long/folder/name/for/the/pictures/picture_%1.bmp").arg(i);
    Pick(many);
    EXPECT_EQ(win->Rows().Rows(), 3000);
    EXPECT_EQ(RowText(2999, 0), many.back());
}


// The real dialog, driven from a timer while it runs modally.
TEST(FileDialog, TitleFilterFolderAndMultipleSelection) {
    vt::TempDir folder;
    for (const char* name : {"a.bmp", "b.BMP", "noext"}) vt::WriteFileBytes(folder.file(name), {'x'});
    const QString start = QString::fromStdString(folder.path());
    for (bool accept : {true, false}) {
        QString title, filter;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QString shownDir;
        bool refused = false;
        bool handled = false;
        // Polls until the dialog is up: how long it takes to appear varies.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* mb = qobject_cast<QMessageBox*>(modal)) {
                // The dialog refused the names; fail instead of hanging.
                refused = true;
                mb->reject();
                return;
            }
            auto* d = qobject_cast<QFileDialog*>(modal);
            if (!d || !d->isVisible()) return;
            // Names typed before the folder is read can be taken for missing files.
            auto* view = d->findChild<QListView*>(QStringLiteral("listView"));
            if (!view || !view->model() || view->model()->rowCount(view->rootIndex()) < 3) return;
            if (refused) {
                d->reject();
                return;
            }
            if (handled) return;
            handled = true;
            title = d->windowTitle();
            filter = d->selectedNameFilter();
            mode = d->fileMode();
            shownDir = d->directory().absolutePath();
            if (!accept) {
                d->reject();
                return;
            }
            // As typed by the user; the timer keeps running to catch a refusal box.
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            edit->setText("\"a.bmp\" \"noext\"");
            static_cast<QDialog*>(d)->accept();
        });
        poll.start(50);
        const QStringList got =
            vellumar::gui::PickFilesWithDialog(nullptr, U("选择要转换的文件"), U(vellumar::gui::text::kPickFilter), start);
        EXPECT_FALSE(refused);
        EXPECT_EQ(title, U("选择要转换的文件"));
        EXPECT_TRUE(filter.startsWith(U("图形格式(*.*)"))) << filter.toStdString();
        EXPECT_EQ(mode, QFileDialog::ExistingFiles);
        EXPECT_EQ(shownDir, start);
        if (accept) {
            // Full paths, files without an extension included.
            EXPECT_EQ(got, (QStringList{start + "/a.bmp", start + "/noext"}));
        } else {
            EXPECT_TRUE(got.isEmpty());
        }
    }
}

}  // namespace
