#include "app/gui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>
#include <QKeyEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStyle>
#include <QTreeView>

#include <algorithm>
#include <string>
#include <vector>

#include "app/batch/option_table.h"
#include "app/batch/program_dir.h"
#include "app/format_table/format_table.h"
#include "app/gui/anchor_layout.h"
#include "app/gui/batch_converter.h"
#include "app/gui/file_drop.h"
#include "app/gui/native_path.h"
#include "app/gui/options_menu.h"
#include "app/gui/preview_pane.h"
#include "app/gui/texts.h"
#include "app/gui/work_list_model.h"
#include "ui_engine/ui_engine.h"

namespace vellumar::gui {

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

// The run's own default, as the command line has it.
QString DefaultPrefix() {
    return QString::fromStdString(batch::DefaultOf(*batch::FindRunOption("prefix")));
}

template <typename W>
W* Make(QWidget* parent, const char* designerName) {
    auto* widget = new W(parent);
    widget->setObjectName(U(designerName));
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* designerName, const QString& text) {
    QLabel* label = Make<QLabel>(parent, designerName);
    label->setText(text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QString Duration(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// The targets whose writers lose detail, which the quality steers.
bool LossyTarget(const QString& item) {
    static const QStringList lossy{"*.JPG", "*.WEBP", "*.HEIC", "*.AVIF",
                                   "*.JXL", "*.JP2", "*.JPC", "*.TIF"};
    return lossy.contains(item);
}

}  // namespace

QStringList PickFilesWithDialog(QWidget* parent, const QString& title, const QString& filter,
                                const QString& startDir) {
    QFileDialog dialog(parent, title, startDir, filter);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}

QString PickFolderWithDialog(QWidget* parent, const QString& title, const QString& startDir) {
    return QFileDialog::getExistingDirectory(parent, title, startDir);
}

MainWindow::MainWindow(AppState& state, Options options)
    : state_(state),
      places_(PlacesFor(options.programDir.empty() ? ProgramDirectory() : options.programDir)),
      programDir_(places_.base) {
    // A portable install ships its DATA folder; the user's own is made here.
    if (!places_.portable) MakeDirectories(programDir_ + "/" + text::kDefaultSaveDir, 0700);
    // Beside the skin data: the program's folder when portable, else the user's config folder.
    settings_ = std::make_unique<QSettings>(
        QFile::decodeName((places_.skinData + "/vellumar.ini").c_str()), QSettings::IniFormat);
    setWindowTitle(text::T(text::kWindowTitle));
    BuildMenu();
    BuildLayout();
    setGeometry(50, 50, 465, 387);
    // Smaller, the arrangement would no longer fit.
    setMinimumSize(465, 387);
    converter_ = std::make_unique<BatchConverter>(*rows_, programDir_);
    connect(openButton_, &QPushButton::clicked, this, [this] { PickFiles(false); });
    converter_->SetOptionsSource([this](batch::RunOptions& o) { options_->ApplyTo(o); });
    connect(startButton_, &QPushButton::clicked, this, &MainWindow::OnStartClicked);
    ConnectRun();
    RestoreSettings();
    // Source names leave no place for the prefix: its field says so.
    if (QAction* keepNames = options_->ToggleFor("name")) {
        connect(keepNames, &QAction::toggled, prefixEdit_, [this](bool on) {
            prefixEdit_->setEnabled(!on);
        });
        prefixEdit_->setEnabled(!keepNames->isChecked());
    }
    OnCreated(options.attachSkin);
}

MainWindow::~MainWindow() {
    // The worker reports into the list's model; it must be done before the model goes.
    if (converter_) converter_->Shutdown();
}

void MainWindow::BuildMenu() {
    QMenu* program = menuBar()->addMenu(text::T(text::kMenuProgram));
    stopAction_ = program->addAction(text::T(text::kMenuStop), this, [this] { converter_->Cancel(); });
    stopAction_->setShortcut(QKeySequence(Qt::Key_Escape));
    // Only a run can be stopped.
    stopAction_->setEnabled(false);
    program->addAction(text::T(text::kMenuExit), this, &QWidget::close);
    options_ = new OptionsMenu(menuBar()->addMenu(text::T(text::kMenuOptions)), *settings_);
    QMenu* about = menuBar()->addMenu(text::T(text::kMenuAbout));
    about->addAction(text::T(text::kMenuAboutAuthor), this, &MainWindow::ShowAbout);
}

void MainWindow::BuildLayout() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    // The rectangles are those of the window's starting size, 465 x 387.
    auto* layout = new AnchorLayout(client, QSize(465, 387 - menuBar()->sizeHint().height()));
    using A = AnchorLayout;
    const A::Share half{0.5, 0.5}, halfGrow{0, 0.5}, halfMove{0.5, 0};

    rows_ = new WorkListModel(this);
    workList_ = Make<QTreeView>(client, "超级列表框1");
    // The preview has no room at the starting size; it takes half of what the window grows.
    layout->Place(workList_, {8, 8, 440, 192}, halfGrow, A::kStretch);
    preview_ = new PreviewPane(client);
    layout->Place(preview_, {452, 8, 0, 192}, half, A::kStretch);
    workList_->setModel(rows_);
    workList_->setColumnWidth(0, 330);
    workList_->setColumnWidth(1, 100);
    workList_->setRootIsDecorated(false);
    workList_->setItemsExpandable(false);
    workList_->setUniformRowHeights(true);
    workList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    workList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The file name is the end of a path: keep both ends in sight.
    workList_->setTextElideMode(Qt::ElideMiddle);
    workList_->header()->setStretchLastSection(true);
    workList_->header()->setSectionsMovable(false);
    // The result column keeps its width; the path column takes the growth.
    workList_->installEventFilter(this);
    // A drop adds to the list (a pick replaces it); a run's rows stay as they are.
    new FileDrop(
        workList_->viewport(), [this] { return converter_->Running(); },
        [this](std::vector<std::string> paths) { rows_->Append(std::move(paths)); });
    BuildListMenu();
    connect(workList_->selectionModel(), &QItemSelectionModel::currentRowChanged, preview_,
            [this](const QModelIndex& current) {
                preview_->Show(current.isValid() ? rows_->Path(current.row()) : std::string());
            });

    layout->Place(MakeLabel(client, "标签4", text::T(text::kSupportedFormats) + QString::fromStdString(FormatNames(","))),
                  {8, 208, 440, 24}, A::kStretch, A::kMove);

    openButton_ = Make<QPushButton>(client, "按钮1");
    openButton_->setText(text::T(text::kOpenButton));
    layout->Place(openButton_, {8, 240, 264, 32}, A::kStretch, A::kMove);
    startButton_ = Make<QPushButton>(client, "按钮2");
    startButton_->setText(text::T(text::kStartButton));
    layout->Place(startButton_, {296, 240, 144, 56}, A::kMove, A::kMove);

    layout->Place(MakeLabel(client, "标签1", text::T(text::kFormatLabel)), {16, 280, 96, 24}, A::kStay,
                  A::kMove);
    formatCombo_ = Make<QComboBox>(client, "组合框1");
    layout->Place(formatCombo_, {112, 280, 136, 20}, A::kStay, A::kMove);
    for (const char* item : TargetItems()) formatCombo_->addItem(U(item));
    formatCombo_->setCurrentIndex(-1);
    formatCombo_->setMaxVisibleItems(int(TargetItems().size()));

    // In the gap between the target and the start button; only lossy targets have one.
    qualityBox_ = Make<QSpinBox>(client, "quality");
    layout->Place(qualityBox_, {252, 280, 40, 20}, A::kStay, A::kMove);
    qualityBox_->setRange(0, 100);
    qualityBox_->setSpecialValueText(text::T(text::kQualityDefault));
    qualityBox_->setToolTip(text::T(text::kQualityTip));
    qualityBox_->setVisible(false);
    connect(formatCombo_, &QComboBox::currentTextChanged, qualityBox_,
            [this](const QString& item) { qualityBox_->setVisible(LossyTarget(item)); });

    layout->Place(MakeLabel(client, "标签2", text::T(text::kSaveDirLabel)), {16, 304, 64, 24},
                  A::kStay, A::kMove);
    baseDirEdit_ = Make<QLineEdit>(client, "编辑框1");
    layout->Place(baseDirEdit_, {78, 309, 114, 19}, halfGrow, A::kMove);
    // It only shows where a bare save folder name lives.
    baseDirEdit_->setReadOnly(true);
    layout->Place(MakeLabel(client, "标签3", text::T(text::kSeparatorLabel)), {194, 307, 8, 24},
                  halfMove, A::kMove);
    saveDirEdit_ = Make<QLineEdit>(client, "编辑框2");
    layout->Place(saveDirEdit_, {204, 309, 68, 19}, half, A::kMove);
    saveDirEdit_->setText(text::T(text::kDefaultSaveDir));
    QAction* browse = saveDirEdit_->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon),
                                              QLineEdit::TrailingPosition);
    browse->setObjectName(QStringLiteral("saveDirBrowse"));
    browse->setToolTip(text::T(text::kBrowseSaveDir));
    connect(browse, &QAction::triggered, this, &MainWindow::BrowseSaveDir);
    // A folder of its own does not live under the program's folder.
    connect(saveDirEdit_, &QLineEdit::textChanged, baseDirEdit_,
            [this](const QString& t) { baseDirEdit_->setEnabled(!t.startsWith('/')); });
    layout->Place(MakeLabel(client, "标签5", text::T(text::kPrefixLabel)), {276, 310, 124, 16},
                  A::kMove, A::kMove);
    prefixEdit_ = Make<QLineEdit>(client, "编辑框3");
    layout->Place(prefixEdit_, {404, 308, 48, 19}, A::kMove, A::kMove);
    prefixEdit_->setText(DefaultPrefix());

    for (QLineEdit* e : {baseDirEdit_, saveDirEdit_, prefixEdit_}) e->setTextMargins(0, 0, 0, 0);

    progress_ = Make<QProgressBar>(client, "progress");
    layout->Place(progress_, {8, 334, 300, 14}, A::kStretch, A::kMove);
    progress_->setTextVisible(false);
    progress_->setVisible(false);
    progressText_ = Make<QLabel>(client, "progressText");
    layout->Place(progressText_, {312, 331, 136, 20}, A::kMove, A::kMove);
    progressText_->setVisible(false);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // The path column takes what the list has grown by, so names stay whole.
    if (watched == workList_ && e->type() == QEvent::Resize)
        workList_->setColumnWidth(0, 330 + std::max(0, workList_->width() - 440));
    // The view would take Delete for itself before the action's shortcut.
    if (watched == workList_ && e->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(e)->matches(QKeySequence::Delete)) {
        RemoveSelectedRows();
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::BuildListMenu() {
    workList_->setContextMenuPolicy(Qt::ActionsContextMenu);
    const auto add = [this](const char* label, auto slot) {
        QAction* a = new QAction(text::T(label), workList_);
        connect(a, &QAction::triggered, this, slot);
        workList_->addAction(a);
        listActions_.push_back(a);
        return a;
    };
    add(text::kAddFiles, [this] { PickFiles(true); });
    QAction* remove = add(text::kRemoveRows, [this] { RemoveSelectedRows(); });
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    add(text::kClearList, [this] { rows_->Clear(); });
}

void MainWindow::RemoveSelectedRows() {
    if (converter_->Running()) return;
    std::vector<int> rows;
    for (const QModelIndex& i : workList_->selectionModel()->selectedRows()) rows.push_back(i.row());
    rows_->Remove(std::move(rows));
}

void MainWindow::BrowseSaveDir() {
    const std::string current = OutputFolder(programDir_, saveDirEdit_->text());
    const QString chosen = folderPicker_(this, text::T(text::kBrowseSaveDir),
                                         QFile::decodeName(QByteArray::fromStdString(current)));
    if (chosen.isEmpty()) return;
    // A folder under the program's folder stays a bare name, as DATA is.
    const QString base = QFile::decodeName(QByteArray::fromStdString(programDir_)) + '/';
    saveDirEdit_->setText(chosen.startsWith(base) && chosen.size() > base.size()
                              ? chosen.mid(base.size())
                              : chosen);
}

void MainWindow::OnCreated(bool attachSkin) {
    if (attachSkin && skin_.Load(places_)) {
        skin_.Attach();
        skin_.AdjustHsv(4, 33, 30);
        skin_.SetAero(0);
    }
    ui::Engine::SetThemeColor(0xFF8800);
    ui::Engine::SetDisplayFlag(1);
    if (skin_.Loaded()) skin_.SetWindowAlpha(uintptr_t(winId()), 220);
    baseDirEdit_->setText(QFile::decodeName(programDir_.c_str()));
    baseDirEdit_->setCursorPosition(0);
}

void MainWindow::PickFiles(bool add) {
    if (converter_->Running()) return;
    const QStringList files = picker_(this, text::T(text::kPickTitle), text::T(text::kPickFilter),
                                      QFile::decodeName(programDir_.c_str()));
    // A cancelled pick keeps the list.
    if (files.isEmpty()) return;
    std::vector<std::string> paths;
    paths.reserve(size_t(files.size()));
    NativeNames names;
    for (const QString& f : files) paths.push_back(names.Resolve(f));
    if (add) rows_->Append(std::move(paths));
    else rows_->Replace(std::move(paths));
}

void MainWindow::ConnectRun() {
    BatchConverter* run = converter_.get();
    connect(run, &BatchConverter::messageRequested, this,
            [this](const QString& text, const QString& title, int icon) {
                state_.messageBox.Show(text, title, icon, 0, 300, 150, this);
            });
    connect(run, &BatchConverter::runStarted, this, [this](int rows) {
        openButton_->setEnabled(false);
        for (QAction* a : listActions_) a->setEnabled(false);
        stopAction_->setEnabled(true);
        startButton_->setText(text::T(text::kStopButton));
        progress_->setRange(0, std::max(rows, 1));
        progress_->setValue(0);
        progress_->setVisible(rows > 0);
        progressText_->setText(text::T(text::kProgressCount).arg(0).arg(rows));
        progressText_->setVisible(rows > 0);
    });
    connect(run, &BatchConverter::progressed, this, [this](int ended, int total, qint64 ms) {
        const QString count = text::T(text::kProgressCount).arg(ended).arg(total);
        // What the rows so far took, for each row still to go.
        const qint64 left = ended > 0 ? ms * (total - ended) / ended / 1000 : 0;
        progressText_->setText(ended > 0 && ended < total
                                   ? text::T(text::kTimeLeft).arg(count, Duration(left))
                                   : count);
    });
    connect(run, &BatchConverter::summaryReady, this, &MainWindow::ShowSummary);
    connect(run, &BatchConverter::rowStarted, this, [this](int row) {
        progress_->setValue(row);
        workList_->scrollTo(rows_->index(row, 0));
    });
    connect(run, &BatchConverter::rowConverted, this,
            [this](int row) { progress_->setValue(row + 1); });
    connect(run, &BatchConverter::runFinished, this, [this] {
        progress_->setVisible(false);
        progressText_->setVisible(false);
        openButton_->setEnabled(true);
        for (QAction* a : listActions_) a->setEnabled(true);
        stopAction_->setEnabled(false);
        startButton_->setText(text::T(text::kStartButton));
        if (closeWhenRunEnds_) close();
    });
}

void MainWindow::ShowSummary(int converted, int failed, int skipped, qint64 ms,
                             const QString& folder) {
    if (!summary_) {
        summary_ = new QMessageBox(this);
        summary_->setObjectName(QStringLiteral("summary"));
        summary_->setWindowTitle(text::T(text::kSummaryTitle));
        summary_->setIcon(QMessageBox::Information);
        summary_->setWindowModality(Qt::NonModal);
        summary_->setStandardButtons(QMessageBox::Ok);
        QPushButton* open = summary_->addButton(text::T(text::kOpenSaveDir), QMessageBox::ActionRole);
        open->setObjectName(QStringLiteral("openSaveDir"));
        connect(open, &QAbstractButton::clicked, this,
                [this] { folderOpener_(QUrl::fromLocalFile(summaryFolder_)); });
    }
    summaryFolder_ = folder;
    summary_->setText(text::T(text::kSummaryText)
                          .arg(converted)
                          .arg(failed)
                          .arg(skipped)
                          .arg(Duration((ms + 500) / 1000)));
    summary_->show();
}

void MainWindow::ShowAbout() {
    state_.messageBox.Show(text::T(text::kAboutText), text::T(text::kAboutTitle), ui::kIconInformation, 1,
                           300, 150, nullptr);
}

void MainWindow::OnStartClicked() {
    if (converter_->Running()) {
        converter_->Cancel();
        return;
    }
    SaveSettings();
    converter_->Start({formatCombo_->currentIndex() == -1 ? QString() : formatCombo_->currentText(),
                       saveDirEdit_->text(), prefixEdit_->text(),
                       qualityBox_->isVisibleTo(this) ? qualityBox_->value() : 0});
}

void MainWindow::RestoreSettings() {
    const QSettings& s = *settings_;
    formatCombo_->setCurrentIndex(formatCombo_->findText(s.value("run/target").toString()));
    saveDirEdit_->setText(s.value("run/saveDir", text::T(text::kDefaultSaveDir)).toString());
    prefixEdit_->setText(s.value("run/prefix", DefaultPrefix()).toString());
    qualityBox_->setValue(s.value("run/quality", 0).toInt());
}

void MainWindow::SaveSettings() {
    settings_->setValue("run/target", formatCombo_->currentText());
    settings_->setValue("run/saveDir", saveDirEdit_->text());
    settings_->setValue("run/prefix", prefixEdit_->text());
    settings_->setValue("run/quality", qualityBox_->value());
    settings_->sync();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (converter_->Running()) {
        // The event loop goes on while the rows in flight stop; the window
        // closes when the run has ended, leaving no half-written file.
        closeWhenRunEnds_ = true;
        converter_->Cancel();
        e->ignore();
        return;
    }
    SaveSettings();
    // An open box (the about box has no owner) would keep the program running.
    state_.messageBox.Release();
    e->accept();
}

}  // namespace vellumar::gui
