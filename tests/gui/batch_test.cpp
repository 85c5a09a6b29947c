// The start button's run, driven through the window with the pick scripted.
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QFile>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>

#include "app/gui/preview_pane.h"
#include "app/gui/texts.h"
#include "core/vx_format.h"
#include "tests/gui/gui_fixture.h"
#include "tests/support/reference_decoder.h"

namespace {

using namespace gt;
namespace ui = vellumar::ui;
using Msg = std::tuple<QString, QString, int>;

const Msg kNoFormat{U("请选择欲转出的图像格式！"), U("警告"), 48};
const Msg kUnsupported{U("不支持的文件格式！"), U("警告"), 48};
const Msg kNoDir{U("请确保输出文件的目录存在！"), U("警告"), 48};
const Msg kAllDone{U("恭喜！处理已全部完成！"), U("信息"), 64};

class BatchTest : public WindowTest {
protected:
    // A BMP source of the given depth, written by the image core.
    QString Source(const std::string& name, int bpp, int w = 24, int h = 16, int seed = 0) {
        VxImage img = vt::MakeGradient24(w, h);
        if (seed) img.SetPixelColor(seed % w, 0, vx::MakeRGBQUAD(255, 0, 255));
        if (bpp < 24) {
            EXPECT_TRUE(img.DecreaseBpp(uint32_t(bpp), false));
        }
        const std::string path = sources.file(name);
        EXPECT_TRUE(img.Save(path.c_str(), VX_FORMAT_BMP)) << img.GetLastError();
        return QString::fromStdString(path);
    }
    QString Garbage(const std::string& name) {
        const std::string path = sources.file(name);
        vt::WriteFileBytes(path, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
        return QString::fromStdString(path);
    }
    // Drops the files named by `uriList` onto the list; whether it was taken.
    bool Drop(const QByteArray& uriList) {
        QMimeData mime;
        mime.setData("text/uri-list", uriList);
        QWidget* target = win->WorkList()->viewport();
        QDragEnterEvent enter({5, 5}, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &drop);
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "a move would delete the dropped files";
        return drop.isAccepted();
    }
    static QByteArray Uri(const std::string& path) {
        return "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
    }
    void SetSaveDir(const QString& s) { win->SaveDirEdit()->setText(s); }
    void SetPrefix(const QString& s) { win->PrefixEdit()->setText(s); }
};

TEST_F(BatchTest, NoFormatChosenOnlyWarns) {
    for (bool withRows : {false, true}) {
        messages.clear();
        Pick(withRows ? QStringList{Source("a.bmp", 24)} : QStringList{});
        MakeSaveDir("DATA");
        QTest::mouseClick(win->StartButton(), Qt::LeftButton);
        QCoreApplication::processEvents();
        ASSERT_EQ(messages, std::vector<Msg>{kNoFormat});
        EXPECT_FALSE(win->Converter().Running());
        ASSERT_TRUE(state->messageBox.IsOpen());
        EXPECT_EQ(state->messageBox.Window()->Text(), std::get<0>(kNoFormat));
        if (withRows) {
            EXPECT_EQ(RowText(0), U("待处理"));
        }
        EXPECT_FALSE(vt::FileExists(dir.file("DATA/main1.BMP")));
        CloseBox();
    }
}

TEST_F(BatchTest, SecondFileUnreadableStopsTheRun) {
    MakeSaveDir("DATA");
    Pick({Source("one.bmp", 24), Garbage("two.bmp"), Source("three.bmp", 24)});
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(RowText(0), U("处理完成"));
    EXPECT_EQ(RowText(1), U("处理失败"));
    EXPECT_EQ(RowText(2), U("待处理"));
    EXPECT_EQ(messages, std::vector<Msg>{kUnsupported});
    EXPECT_TRUE(vt::FileExists(dir.file("DATA/main1.BMP")));
    EXPECT_FALSE(vt::FileExists(dir.file("DATA/main2.BMP")));
    EXPECT_FALSE(vt::FileExists(dir.file("DATA/main3.BMP")));

    // The warning sits over the main window's rectangle, shown at 300 x 150.
    ui::MessageBoxWindow* box = state->messageBox.Window();
    ASSERT_NE(box, nullptr);
    const QRect owner = win->frameGeometry();
    EXPECT_EQ(box->pos(), QPoint(int(owner.left() + owner.width() * 0.5 - 202.5),
                                 int(owner.top() + owner.height() * 0.5 - 87.5)));
    EXPECT_EQ(box->size(), QSize(300, 150));
    EXPECT_EQ(box->parentWidget(), win.get());
    EXPECT_TRUE(win->OpenButton()->isEnabled());
    EXPECT_TRUE(win->StartButton()->isEnabled());
}

TEST_F(BatchTest, PrefixWithASlashOnlyWarns) {
    MakeSaveDir("DATA");
    Pick({Source("a.bmp", 24)});
    ChooseFormat("*.BMP");
    SetPrefix("../x");
    QTest::mouseClick(win->StartButton(), Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_EQ(messages, (std::vector<Msg>{{U("自定义前缀名不能含有“/”！"), U("警告"), 48}}));
    EXPECT_EQ(reasons, std::vector<QString>{U("prefix needs a name without '/'")});
    EXPECT_FALSE(win->Converter().Running());
    EXPECT_EQ(RowText(0), U("待处理"));
    EXPECT_FALSE(vt::FileExists(dir.file("x1.BMP")));
}

TEST_F(BatchTest, GifTargetReducesDeepSourcesOnly) {
    MakeSaveDir("DATA");
    const bool haveGif = VxFindCodec(VX_FORMAT_GIF) != nullptr;
    struct Case { int bpp; int expected; };
    for (const Case c : {Case{24, 8}, Case{8, 8}, Case{1, 1}}) {
        SCOPED_TRACE(c.bpp);
        messages.clear();
        const QString src = Source("s" + std::to_string(c.bpp) + ".bmp", c.bpp);
        Pick({src});
        ChooseFormat("*.GIF");
        ASSERT_TRUE(RunBatch());
        const std::string out = dir.file("DATA/main1.GIF");
        if (haveGif) {
            EXPECT_EQ(messages, std::vector<Msg>{kAllDone});
            EXPECT_EQ(RowText(0), U("处理完成"));
            EXPECT_TRUE(vt::DecodeWithReference(out).has_value());
            VxImage back(0);
            ASSERT_TRUE(back.Load(out.c_str(), VX_FORMAT_GIF));
            EXPECT_EQ(back.GetBpp(), uint32_t(c.expected));
        } else {
            // Without a GIF encoder in this build the encode is refused.
            EXPECT_EQ(messages, std::vector<Msg>{kNoDir});
            EXPECT_EQ(RowText(0), U("处理失败"));
            EXPECT_FALSE(vt::FileExists(out));
        }
        CloseBox();
    }
}

TEST_F(BatchTest, OutputNamesComeFromRowNumbersAndSecondRunOverwrites) {
    MakeSaveDir("out");
    SetSaveDir("out");
    SetPrefix("x");
    const QString a = Source("a.bmp", 24, 20, 10, 3);
    const QString b = Source("b.bmp", 24, 12, 30, 5);
    Pick({a, b});
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(RowText(0), U("处理完成"));
    EXPECT_EQ(RowText(1), U("处理完成"));
    const std::string x1 = dir.file("out/x1.BMP"), x2 = dir.file("out/x2.BMP");
    const auto refA = vt::DecodeWithReference(a.toStdString());
    const auto refB = vt::DecodeWithReference(b.toStdString());
    ASSERT_TRUE(refA && refB);
    auto got1 = vt::DecodeWithReference(x1);
    auto got2 = vt::DecodeWithReference(x2);
    ASSERT_TRUE(got1 && got2);
    EXPECT_EQ(vt::MaxChannelDiff(*got1, *refA, false), 0);
    EXPECT_EQ(vt::MaxChannelDiff(*got2, *refB, false), 0);
    CloseBox();

    // Spoil the first output; the second run with the same prefix replaces it.
    vt::WriteFileBytes(x1, {'x'});
    ASSERT_TRUE(RunBatch());
    got1 = vt::DecodeWithReference(x1);
    ASSERT_TRUE(got1);
    EXPECT_EQ(vt::MaxChannelDiff(*got1, *refA, false), 0);
    EXPECT_EQ(messages, (std::vector<Msg>{kAllDone, kAllDone}));
    const QStringList written = QDir(QString::fromStdString(dir.file("out"))).entryList(QDir::Files);
    EXPECT_EQ(written, (QStringList{"x1.BMP", "x2.BMP"}));

    // An empty prefix gives bare numbers.
    CloseBox();
    SetPrefix("");
    ASSERT_TRUE(RunBatch());
    EXPECT_TRUE(vt::FileExists(dir.file("out/1.BMP")));
    EXPECT_TRUE(vt::FileExists(dir.file("out/2.BMP")));
}

TEST_F(BatchTest, SecondRunWhileFirstBoxIsOpenStillWritesRows) {
    MakeSaveDir("DATA");
    const QString a = Garbage("a.bmp");
    Pick({a});
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    ASSERT_EQ(RowText(0), U("处理失败"));
    ASSERT_TRUE(state->messageBox.IsOpen());

    ASSERT_FALSE(RowText(0, 1, Qt::ToolTipRole).isEmpty());
    Source("a.bmp", 24);
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(RowText(0), U("处理完成"));
    EXPECT_TRUE(RowText(0, 1, Qt::ToolTipRole).isEmpty()) << "the old failure's reason stays";
    EXPECT_TRUE(vt::FileExists(dir.file("DATA/main1.BMP")));
    EXPECT_EQ(messages, (std::vector<Msg>{kUnsupported, kAllDone}));
    // Only the first box is on screen; the completion note was dropped.
    int boxes = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (dynamic_cast<ui::MessageBoxWindow*>(w))
            boxes += w->isVisible();
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(state->messageBox.Window()->Text().section('\n', 0, 0), std::get<0>(kUnsupported));
}

TEST_F(BatchTest, RunIsOffTheGuiThreadWithButtonsDisabledAndProgress) {
    MakeSaveDir("DATA");
    QStringList many;
    const QString big = Source("big.bmp", 24, 1000, 800);
    const int kRows = 60;  // long enough for the GUI thread to be seen ticking
    for (int i = 0; i < kRows; ++i) many << big;
    Pick(many);
    ChooseFormat("*.BMP");
    QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
    // Timer ticks seen while the run is going: the GUI thread is not blocked.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (win->Converter().Running()) ++ticks;
    });
    timer.start(1);
    QTest::mouseClick(win->StartButton(), Qt::LeftButton);
    EXPECT_TRUE(win->Converter().Running());
    EXPECT_FALSE(win->OpenButton()->isEnabled());
    EXPECT_EQ(win->StartButton()->text(), U("停止转换"));
    EXPECT_TRUE(win->Progress()->isVisibleTo(win.get()));
    EXPECT_EQ(win->Progress()->maximum(), kRows);
    ASSERT_TRUE(WaitFor([&] { return done.count() > 0; }, 120000));
    EXPECT_EQ(done.count(), 1);
    EXPECT_GE(ticks, 1) << "the event loop kept running during the batch";
    for (int r = 0; r < kRows; ++r) EXPECT_EQ(RowText(r), U("处理完成")) << r;
    EXPECT_TRUE(vt::FileExists(dir.file("DATA/main60.BMP")));
    EXPECT_TRUE(win->OpenButton()->isEnabled());
    EXPECT_EQ(win->StartButton()->text(), U("开始转换"));
    EXPECT_FALSE(win->Progress()->isVisibleTo(win.get()));
    EXPECT_EQ(messages, std::vector<Msg>{kAllDone});
}

TEST_F(BatchTest, ClosingTheWindowDuringARunStopsCleanly) {
    MakeSaveDir("DATA");
    QStringList many;
    const QString big = Source("big.bmp", 24, 900, 700);
    for (int i = 0; i < 40; ++i) many << big;
    Pick(many);
    ChooseFormat("*.BMP");
    QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
    QTest::mouseClick(win->StartButton(), Qt::LeftButton);
    ASSERT_TRUE(win->Converter().Running());
    // The close waits for the run without blocking the event loop.
    win->close();
    ASSERT_TRUE(WaitFor([&] { return done.count() > 0; }, 120000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(win->isVisible());
    EXPECT_FALSE(vt::FileExists(dir.file("DATA/main40.BMP")));
    const QStringList left = QDir(QString::fromStdString(dir.file("DATA")))
                                 .entryList({".vxtmp-*"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
}

// A run past failures: every row is tried, each failure keeps its reason.
TEST_F(BatchTest, KeepGoingTriesEveryRowAndShowsEachReason) {
    MakeSaveDir("DATA");
    QAction* keepGoing = FindAction(win.get(), "遇到失败时继续转换");
    ASSERT_NE(keepGoing, nullptr);
    keepGoing->setChecked(true);
    const QString missing = QString::fromStdString(sources.file("gone.bmp"));
    Pick({Garbage("bad.bmp"), Source("good.bmp", 24), missing});
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    EXPECT_EQ(RowText(0), U("处理失败"));
    EXPECT_EQ(RowText(1), U("处理完成"));
    EXPECT_EQ(RowText(2), U("处理失败"));
    EXPECT_TRUE(vt::FileExists(dir.file("DATA/main2.BMP")));
    EXPECT_FALSE(vt::FileExists(dir.file("DATA/main1.BMP")));
    // No box per failure: one account at the end, the reasons in the rows.
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(RowText(0, 1, Qt::ToolTipRole).isEmpty());
    EXPECT_TRUE(RowText(2, 1, Qt::ToolTipRole).contains(U("No such file")));
    EXPECT_TRUE(RowText(1, 1, Qt::ToolTipRole).isEmpty());
    EXPECT_EQ(win->ProgressText()->text(), U("3/3"));
    QMessageBox* summary = win->SummaryBox();
    ASSERT_TRUE(summary && summary->isVisible());
    EXPECT_TRUE(summary->text().startsWith(U("已转换：1\n失败：2\n跳过：0\n用时："))) << summary->text().toStdString();
    QUrl opened;  // the desktop's file manager stays shut
    win->SetFolderOpener([&](const QUrl& u) { opened = u; });
    summary->findChild<QPushButton*>(QStringLiteral("openSaveDir"))->click();
    EXPECT_EQ(opened, QUrl::fromLocalFile(QString::fromStdString(dir.file("DATA"))));
    // scripts/screenshot.sh --run keeps this picture of a finished run.
    if (const char* shot = std::getenv("VELLUMAR_SCREENSHOT")) {
        EXPECT_TRUE(win->grab().save(QString::fromLocal8Bit(shot)));
    }
}

// Esc mid-run: the reported rows keep their files, the rest leave nothing.
TEST_F(BatchTest, CancelKeepsFinishedRowsAndLeavesNoPartialFile) {
    MakeSaveDir("DATA");
    const QString big = Source("big.bmp", 24, 900, 700);
    const int kRows = 40;
    Pick(QStringList(kRows, big));
    ChooseFormat("*.BMP");
    QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
    // Rows after the first wait until the cancel was given, so the run cannot
    // finish before the window hears of its first row.
    std::mutex m;
    std::condition_variable cv;
    bool released = false;
    const auto release = [&] {
        { std::lock_guard<std::mutex> lock(m); released = true; }
        cv.notify_all();
    };
    win->Converter().SetRowBegunHook([&](int row) {
        std::unique_lock<std::mutex> lock(m);
        if (row > 1) cv.wait(lock, [&] { return released; });
    });
    // Cancel as soon as the first row is reported.
    QObject::connect(win->WorkList()->model(), &QAbstractItemModel::dataChanged, [&] {
        if (RowText(0) == U("处理完成") && win->Converter().Running()) {
            EXPECT_EQ(win->StartButton()->text(), U("停止转换"));
            QTest::keyClick(win.get(), Qt::Key_Escape);
            release();
        }
    });
    QTest::mouseClick(win->StartButton(), Qt::LeftButton);
    const bool ended = WaitFor([&] { return done.count() > 0; }, 120000);
    release();
    ASSERT_TRUE(ended);
    int finished = 0;
    while (finished < kRows && RowText(finished) == U("处理完成")) ++finished;
    EXPECT_LT(finished, kRows) << "the run went on after the cancel";
    QStringList expected;
    for (int r = 1; r <= finished; ++r) expected << QString("main%1.BMP").arg(r);
    expected.sort();
    QStringList written = QDir(QString::fromStdString(dir.file("DATA")))
                              .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    written.sort();
    EXPECT_EQ(written, expected);
    for (int r = finished; r < kRows; ++r) EXPECT_EQ(RowText(r), U("待处理")) << r;
    EXPECT_TRUE(messages.empty()) << "a cancelled run is not complete";
    EXPECT_EQ(win->StartButton()->text(), U("开始转换"));
    EXPECT_TRUE(win->OpenButton()->isEnabled());
}

// Several rows at a time in the window: the files of the command line.
TEST_F(BatchTest, ParallelWindowRunWritesTheCommandLinesFiles) {
    MakeSaveDir("DATA");
    QStringList files;
    for (int i = 0; i < 6; ++i)
        files << Source("s" + std::to_string(i) + ".bmp", i % 2 ? 8 : 24, 30 + i, 20, i + 1);
    Pick(files);
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    vt::TempDir cli;
    std::string command = vt::ShellQuote(VELLUMAR_CLI) + " --to BMP --jobs 1 --quiet --out-dir " +
                          vt::ShellQuote(cli.path());
    for (const QString& f : files) command += " " + vt::ShellQuote(f.toStdString());
    ASSERT_EQ(vt::RunCommand(command), 0);
    for (int r = 1; r <= 6; ++r) {
        const std::string name = "/main" + std::to_string(r) + ".BMP";
        EXPECT_EQ(vt::ReadFileBytes(dir.file("DATA") + name), vt::ReadFileBytes(cli.path() + name))
            << name;
    }
}

// Names in GBK bytes (not UTF-8) come from the dialog with their bytes
// replaced. Each row keeps the bytes of the very file it stands for, down to
// the engine; a text that could stand for several files converts none of them.
TEST_F(BatchTest, GbkNamedFilesConvertFromTheirOwnBytes) {
    MakeSaveDir("DATA");
    FindAction(win.get(), "遇到失败时继续转换")->setChecked(true);
    ASSERT_EQ(mkdir(sources.file("\xD0\xC2\xBD\xA8").c_str(), 0755), 0);  // 新建/
    struct Case { const char* name; bool converts; };
    const Case cases[] = {
        {"\xD6\xD0\xCE\xC4.bmp", true},          // 中文.bmp
        {"\xD0\xC2\xBD\xA8/\xD0\xC2.bmp", true},  // 新建/新.bmp: the folder lost its bytes too
        {"\xC4\xE3.bmp", false},                 // 你.bmp and 是.bmp read
        {"\xCA\xC7.bmp", false},                 // the same once replaced
    };
    QStringList shown;
    for (size_t i = 0; i < std::size(cases); ++i) {
        Source(cases[i].name, 24, 20, 10, int(i) + 1);
        shown << QFile::decodeName(sources.file(cases[i].name).c_str());
        ASSERT_TRUE(shown.back().contains(QChar::ReplacementCharacter)) << i;
    }
    ASSERT_EQ(shown[2], shown[3]);
    Pick(shown);
    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const std::string src = sources.file(cases[i].name);
        const std::string out = dir.file("DATA/main" + std::to_string(i + 1) + ".BMP");
        EXPECT_EQ(RowText(int(i), 0), shown[qsizetype(i)]);
        if (!cases[i].converts) {
            EXPECT_EQ(RowText(int(i)), U("处理失败"));
            EXPECT_FALSE(vt::FileExists(out));
            continue;
        }
        EXPECT_EQ(win->Rows().data(win->Rows().index(int(i), 0), WorkListModel::kPathRole)
                      .toByteArray()
                      .toStdString(),
                  src);
        EXPECT_EQ(RowText(int(i)), U("处理完成"));
        const auto want = vt::DecodeWithReference(src), got = vt::DecodeWithReference(out);
        ASSERT_TRUE(want && got);
        EXPECT_EQ(vt::MaxChannelDiff(*got, *want, false), 0);
    }
}

// A drop adds a folder's files (sorted, sub-folders included) and names that
// are not UTF-8 as their bytes; with the source names kept, a name clash
// fails the later row and every other row is named after its source.
TEST_F(BatchTest, DroppedFoldersAndNamesConvertUnderTheirSourceNames) {
    MakeSaveDir("DATA");
    FindAction(win.get(), "遇到失败时继续转换")->setChecked(true);
    FindAction(win.get(), "保留原文件名")->setChecked(true);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(sources.file("pics/sub"))));
    const std::string gbk = sources.file("\xD6\xD0.bmp");  // 中.bmp
    const std::string top = Source("top.bmp", 24, 20, 10, 1).toStdString();
    Source("pics/sub/top.bmp", 24, 20, 10, 2);
    Source("pics/b.bmp", 24, 20, 10, 3);
    Source("pics/sub/a.bmp", 24, 20, 10, 4);
    Source("\xD6\xD0.bmp", 24, 20, 10, 5);
    Pick({QString::fromStdString(top)});

    ASSERT_TRUE(Drop(Uri(sources.file("pics/")) + "# a comment\r\n" + Uri(gbk) + Uri(top) +
                     "http://example.com/x.bmp\r\n"));
    const std::vector<std::string> want = {top, sources.file("pics/b.bmp"),
                                           sources.file("pics/sub/a.bmp"),
                                           sources.file("pics/sub/top.bmp"), gbk};
    EXPECT_EQ(win->Rows().Paths(), want);

    ChooseFormat("*.BMP");
    ASSERT_TRUE(RunBatch());
    const char* const outputs[] = {"top.BMP", "b.BMP", "a.BMP", nullptr, "\xD6\xD0.BMP"};
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(row);
        if (!outputs[row]) {
            EXPECT_EQ(RowText(row), U("处理失败"));
            EXPECT_TRUE(RowText(row, 1, Qt::ToolTipRole).contains(U("row 1"))) << "names the first";
            continue;
        }
        EXPECT_EQ(RowText(row), U("处理完成"));
        EXPECT_EQ(vt::ReadFileBytes(dir.file("DATA/") + outputs[row]),
                  vt::ReadFileBytes(want[size_t(row)]));
    }
    // Counted by bytes: a listing as text may leave the GBK name out.
    const std::filesystem::directory_iterator written(dir.file("DATA"));
    EXPECT_EQ(std::distance(begin(written), end(written)), 4);
}

TEST_F(BatchTest, DropsAreRefusedWhileARunGoes) {
    MakeSaveDir("DATA");
    const QString big = Source("big.bmp", 24, 900, 700);
    Pick(QStringList(20, big));
    ChooseFormat("*.BMP");
    QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
    QTest::mouseClick(win->StartButton(), Qt::LeftButton);
    ASSERT_TRUE(win->Converter().Running());
    EXPECT_FALSE(Drop(Uri(Source("late.bmp", 24).toStdString())));
    EXPECT_EQ(win->Rows().Rows(), 20);
    win->Converter().Cancel();
    ASSERT_TRUE(WaitFor([&] { return done.count() > 0; }, 120000));
    EXPECT_TRUE(Drop(Uri(sources.file("late.bmp"))));
    EXPECT_EQ(win->Rows().Rows(), 21);
}

// The 选项 palette and dither choices reach the run: an adaptive palette
// is closer to the source than the standard one, and dithering changes it.
TEST_F(BatchTest, PaletteChoicesReachTheEngine) {
    if (!VxFindCodec(VX_FORMAT_GIF)) GTEST_SKIP() << "no GIF encoder in this build";
    MakeSaveDir("DATA");
    const QString src = Source("photo.bmp", 24, 64, 64);
    const auto source = vt::DecodeWithReference(src.toStdString());
    ASSERT_TRUE(source);
    Pick({src});
    ChooseFormat("*.GIF");
    struct Case {
        const char* palette;
        const char* dither;
    };
    const Case cases[] = {{"标准调色板", "不抖动"},
                          {"自适应调色板", "不抖动"},
                          {"自适应调色板", "误差扩散 (Floyd-Steinberg)"}};
    std::vector<std::vector<uint8_t>> files;
    std::vector<double> psnr;
    for (const Case& c : cases) {
        FindAction(win.get(), c.palette)->trigger();
        FindAction(win.get(), c.dither)->trigger();
        ASSERT_TRUE(RunBatch());
        CloseBox();
        files.push_back(vt::ReadFileBytes(dir.file("DATA/main1.GIF")));
        const auto got = vt::DecodeWithReference(dir.file("DATA/main1.GIF"));
        ASSERT_TRUE(got);
        psnr.push_back(vt::Psnr(*got, *source));
    }
    EXPECT_GT(psnr[1], psnr[0] + 3) << psnr[0] << " dB standard";
    EXPECT_NE(files[2], files[1]);
}

// Any folder through the browse button, and the quality of lossy targets,
// both kept for the next start.
TEST_F(BatchTest, SaveFolderAnywhereAndQualityAreUsedAndKept) {
    vt::TempDir out;
    const QString outDir = QString::fromStdString(out.path());
    QString picked = outDir;
    const auto browse = [&] {
        win->SetFolderPicker([&](QWidget*, const QString&, const QString&) { return picked; });
        win->SaveDirEdit()->findChild<QAction*>(QStringLiteral("saveDirBrowse"))->trigger();
    };
    browse();
    EXPECT_EQ(win->SaveDirEdit()->text(), outDir);
    ChooseFormat("*.PNG");
    EXPECT_FALSE(win->QualityBox()->isVisibleTo(win.get()));
    ChooseFormat("*.JPG");
    EXPECT_TRUE(win->QualityBox()->isVisibleTo(win.get()));
    Pick({Source("a.bmp", 24, 200, 150, 7)});
    std::vector<size_t> sizes;
    for (int quality : {0, 10}) {
        win->QualityBox()->setValue(quality);
        ASSERT_TRUE(RunBatch());
        CloseBox();
        sizes.push_back(vt::ReadFileBytes(out.file("main1.JPG")).size());
    }
    EXPECT_LT(sizes[1], sizes[0]) << "quality 10 should give a smaller file than the default";
    win->close();
    Open(false);
    EXPECT_EQ(win->SaveDirEdit()->text(), outDir);
    EXPECT_EQ(win->QualityBox()->value(), 10);
    // A folder under the program's folder stays a bare name.
    picked = QString::fromStdString(MakeSaveDir("mine"));
    browse();
    EXPECT_EQ(win->SaveDirEdit()->text(), U("mine"));
}

// Selecting a row shows its source as the engine reads it, off the GUI thread.
TEST_F(BatchTest, PreviewShowsTheSelectedSource) {
    Pick({Source("wide.bmp", 8, 320, 160), Garbage("bad.bmp")});
    vellumar::gui::PreviewPane* pane = win->Preview();
    struct Case { int row; const char* facts; QSize thumb; };
    for (const Case c : {Case{0, "BMP\n320 × 160 像素\n8 位/像素\n1 帧", {160, 80}},
                         Case{1, nullptr, {0, 0}}}) {
        SCOPED_TRACE(c.row);
        QSignalSpy shown(pane, &vellumar::gui::PreviewPane::shown);
        win->WorkList()->setCurrentIndex(win->Rows().index(c.row, 0));
        ASSERT_TRUE(WaitFor([&] { return shown.count() > 0; }));
        EXPECT_EQ(pane->Thumbnail()->pixmap().size(), c.thumb);
        if (c.facts) EXPECT_EQ(pane->Facts()->text(), U(c.facts));
        else EXPECT_FALSE(pane->Facts()->text().isEmpty()) << "a file that cannot be read says why";
    }
}

// Each case reproduces a way the window misled its user.
TEST_F(BatchTest, WindowTellsTheTruth) {
    const Msg kEmpty{U("请先打开欲处理的图像文件！"), U("警告"), 48};
    struct Case { const char* name; std::function<void()> run; };
    const Case cases[] = {
        {"a later run's rows start pending",
         [&] {
             Pick({Source("a.bmp", 24), Source("b.bmp", 24)});
             ChooseFormat("*.BMP");
             ASSERT_TRUE(RunBatch() && RowText(1) == U("处理完成"));
             Garbage("a.bmp");
             ASSERT_TRUE(RunBatch());
             EXPECT_EQ(RowText(0), U("处理失败"));
             EXPECT_EQ(RowText(1), U("待处理"));
         }},
        {"an empty list is not a finished run",
         [&] {
             ChooseFormat("*.BMP");
             QTest::mouseClick(win->StartButton(), Qt::LeftButton);
             EXPECT_EQ(messages, std::vector<Msg>{kEmpty});
         }},
        {"a cancelled pick keeps the list",
         [&] {
             Pick({"/p/a.bmp", "/p/b.bmp"});
             Pick({});
             EXPECT_EQ(win->Rows().Paths(), (std::vector<std::string>{"/p/a.bmp", "/p/b.bmp"}));
         }},
        {"a missing save folder is made, one that cannot be is named",
         [&] {
             Pick({Source("a.bmp", 24)});
             ChooseFormat("*.BMP");
             SetSaveDir(U("新/DATA"));
             ASSERT_TRUE(RunBatch());
             EXPECT_TRUE(vt::FileExists(dir.file("新/DATA/main1.BMP")));
             vt::WriteFileBytes(dir.file("taken"), {'x'});
             SetSaveDir("taken/sub");
             QTest::mouseClick(win->StartButton(), Qt::LeftButton);
             EXPECT_EQ(messages, (std::vector<Msg>{kAllDone, kNoDir}));
             ASSERT_EQ(reasons.size(), 1u);
             EXPECT_TRUE(reasons[0].contains(QString::fromStdString(dir.file("taken/sub"))))
                 << reasons[0].toStdString();
         }},
        {"rows in flight say so, stop only while a run goes",
         [&] {
             QAction* stop = FindAction(win.get(), "停止转换");
             EXPECT_FALSE(stop->isEnabled());
             Pick({Source("a.bmp", 24), Source("b.bmp", 24)});
             ChooseFormat("*.BMP");
             // Every row a worker takes waits for the cancel.
             std::atomic<int> begun{0}, cancelled{0};
             win->Converter().SetRowBegunHook([&](int) {
                 for (++begun; !cancelled;) std::this_thread::yield();
             });
             QSignalSpy done(&win->Converter(), &BatchConverter::runFinished);
             QTest::mouseClick(win->StartButton(), Qt::LeftButton);
             EXPECT_TRUE(WaitFor([&] { return begun > 0; }));
             QCoreApplication::processEvents();
             EXPECT_EQ(RowText(0), U("转换中"));
             EXPECT_TRUE(stop->isEnabled());
             win->Converter().Cancel();
             cancelled = 1;
             ASSERT_TRUE(WaitFor([&] { return done.count() > 0; }));
             EXPECT_EQ(RowText(0), U("待处理"));
             EXPECT_FALSE(stop->isEnabled());
         }},
        {"the prefix is off while source names are kept",
         [&] {
             QAction* keepNames = FindAction(win.get(), "保留原文件名");
             EXPECT_TRUE(win->PrefixEdit()->isEnabled());
             keepNames->trigger();
             EXPECT_FALSE(win->PrefixEdit()->isEnabled());
             // An ignored prefix cannot refuse the run.
             SetPrefix("a/b");
             Pick({Source("pic.bmp", 24)});
             ChooseFormat("*.BMP");
             ASSERT_TRUE(RunBatch());
             EXPECT_TRUE(vt::FileExists(dir.file("DATA/pic.BMP")));
             keepNames->trigger();
             EXPECT_TRUE(win->PrefixEdit()->isEnabled());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        reasons.clear();
        Open(false);
        SetSaveDir("DATA");  // an earlier case's start remembered its own
        c.run();
        CloseBox();
    }
}

}  // namespace
