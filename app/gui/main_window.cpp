#include "app/gui/main_window.h"

#include <QAction>
#include <QCloseEvent>
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
#include <QTreeView>

#include <algorithm>
#include <string>
#include <vector>

#include "app/batch/option_table.h"
#include "app/batch/program_dir.h"
#include "app/format_table/format_table.h"
#include "app/gui/batch_converter.h"
#include "app/gui/file_drop.h"
#include "app/gui/native_path.h"
#include "app/gui/options_menu.h"
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
W* Place(QWidget* parent, const char* designerName, int x, int y, int w, int h) {
    auto* widget = new W(parent);
    widget->setObjectName(U(designerName));
    widget->setGeometry(x, y, w, h);
    return widget;
}

QLabel* PlaceLabel(QWidget* parent, const char* designerName, int x, int y, int w, int h,
                   const char* text) {
    QLabel* label = Place<QLabel>(parent, designerName, x, y, w, h);
    label->setText(U(text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
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

MainWindow::MainWindow(AppState& state, Options options)
    : state_(state),
      places_(PlacesFor(options.programDir.empty() ? ProgramDirectory() : options.programDir)),
      programDir_(places_.base) {
    // A portable install ships its DATA folder; the user's own is made here.
    if (!places_.portable) MakeDirectories(programDir_ + "/" + text::kDefaultSaveDir, 0700);
    // Beside the skin data: the program's folder when portable, else the user's config folder.
    settings_ = std::make_unique<QSettings>(
        QFile::decodeName((places_.skinData + "/vellumar.ini").c_str()), QSettings::IniFormat);
    setWindowTitle(U(text::kWindowTitle));
    BuildMenu();
    BuildLayout();
    setGeometry(50, 50, 465, 387);
    setFixedSize(465, 387);
    converter_ = std::make_unique<BatchConverter>(*rows_, programDir_);
    connect(openButton_, &QPushButton::clicked, this, &MainWindow::PickFiles);
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
    QMenu* program = menuBar()->addMenu(U(text::kMenuProgram));
    stopAction_ = program->addAction(U(text::kMenuStop), this, [this] { converter_->Cancel(); });
    stopAction_->setShortcut(QKeySequence(Qt::Key_Escape));
    // Only a run can be stopped.
    stopAction_->setEnabled(false);
    program->addAction(U(text::kMenuExit), this, &QWidget::close);
    options_ = new OptionsMenu(menuBar()->addMenu(U(text::kMenuOptions)), *settings_);
    QMenu* about = menuBar()->addMenu(U(text::kMenuAbout));
    about->addAction(U(text::kMenuAboutAuthor), this, &MainWindow::ShowAbout);
}

void MainWindow::BuildLayout() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    rows_ = new WorkListModel(this);
    workList_ = Place<QTreeView>(client, "超级列表框1", 8, 8, 440, 192);
    workList_->setModel(rows_);
    workList_->setColumnWidth(0, 330);
    workList_->setColumnWidth(1, 100);
    workList_->setRootIsDecorated(false);
    workList_->setItemsExpandable(false);
    workList_->setUniformRowHeights(true);
    workList_->setSelectionMode(QAbstractItemView::SingleSelection);
    workList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    workList_->header()->setStretchLastSection(true);
    workList_->header()->setSectionsMovable(false);
    // A drop adds to the list (a pick replaces it); a run's rows stay as they are.
    new FileDrop(
        workList_->viewport(), [this] { return converter_->Running(); },
        [this](std::vector<std::string> paths) { rows_->Append(std::move(paths)); });

    PlaceLabel(client, "标签4", 8, 208, 440, 24,
               (text::kSupportedFormats + FormatNames(",")).c_str());

    openButton_ = Place<QPushButton>(client, "按钮1", 8, 240, 264, 32);
    openButton_->setText(U(text::kOpenButton));
    startButton_ = Place<QPushButton>(client, "按钮2", 296, 240, 144, 56);
    startButton_->setText(U(text::kStartButton));

    PlaceLabel(client, "标签1", 16, 280, 96, 24, text::kFormatLabel);
    formatCombo_ = Place<QComboBox>(client, "组合框1", 112, 280, 136, 20);
    for (const char* item : TargetItems()) formatCombo_->addItem(U(item));
    formatCombo_->setCurrentIndex(-1);
    formatCombo_->setMaxVisibleItems(int(TargetItems().size()));

    PlaceLabel(client, "标签2", 16, 304, 64, 24, text::kSaveDirLabel);
    baseDirEdit_ = Place<QLineEdit>(client, "编辑框1", 78, 309, 114, 19);
    // The run always writes under the program's own folder; this box only shows it.
    baseDirEdit_->setReadOnly(true);
    PlaceLabel(client, "标签3", 194, 307, 8, 24, text::kSeparatorLabel);
    saveDirEdit_ = Place<QLineEdit>(client, "编辑框2", 204, 309, 68, 19);
    saveDirEdit_->setText(U(text::kDefaultSaveDir));
    PlaceLabel(client, "标签5", 276, 310, 124, 16, text::kPrefixLabel);
    prefixEdit_ = Place<QLineEdit>(client, "编辑框3", 404, 308, 48, 19);
    prefixEdit_->setText(DefaultPrefix());

    for (QLineEdit* e : {baseDirEdit_, saveDirEdit_, prefixEdit_}) e->setTextMargins(0, 0, 0, 0);

    progress_ = Place<QProgressBar>(client, "progress", 8, 334, 440, 14);
    progress_->setTextVisible(false);
    progress_->setVisible(false);
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

void MainWindow::PickFiles() {
    if (converter_->Running()) return;
    const QStringList files = picker_(this, U(text::kPickTitle), U(text::kPickFilter),
                                      QFile::decodeName(programDir_.c_str()));
    // A cancelled pick keeps the list.
    if (files.isEmpty()) return;
    std::vector<std::string> paths;
    paths.reserve(size_t(files.size()));
    NativeNames names;
    for (const QString& f : files) paths.push_back(names.Resolve(f));
    rows_->Replace(std::move(paths));
}

void MainWindow::ConnectRun() {
    BatchConverter* run = converter_.get();
    connect(run, &BatchConverter::messageRequested, this,
            [this](const QString& text, const QString& title, int icon) {
                state_.messageBox.Show(text, title, icon, 0, 300, 150, this);
            });
    connect(run, &BatchConverter::runStarted, this, [this](int rows) {
        openButton_->setEnabled(false);
        stopAction_->setEnabled(true);
        startButton_->setText(U(text::kStopButton));
        progress_->setRange(0, std::max(rows, 1));
        progress_->setValue(0);
        progress_->setVisible(rows > 0);
    });
    connect(run, &BatchConverter::rowStarted, this, [this](int row) {
        progress_->setValue(row);
        workList_->scrollTo(rows_->index(row, 0));
    });
    connect(run, &BatchConverter::rowConverted, this,
            [this](int row) { progress_->setValue(row + 1); });
    connect(run, &BatchConverter::runFinished, this, [this] {
        progress_->setVisible(false);
        openButton_->setEnabled(true);
        stopAction_->setEnabled(false);
        startButton_->setText(U(text::kStartButton));
        if (closeWhenRunEnds_) close();
    });
}

void MainWindow::ShowAbout() {
    state_.messageBox.Show(U(text::kAboutText), U(text::kAboutTitle), ui::kIconInformation, 1,
                           300, 150, nullptr);
}

void MainWindow::OnStartClicked() {
    if (converter_->Running()) {
        converter_->Cancel();
        return;
    }
    SaveSettings();
    converter_->Start({formatCombo_->currentIndex() == -1 ? QString() : formatCombo_->currentText(),
                       saveDirEdit_->text(), prefixEdit_->text()});
}

void MainWindow::RestoreSettings() {
    const QSettings& s = *settings_;
    formatCombo_->setCurrentIndex(formatCombo_->findText(s.value("run/target").toString()));
    saveDirEdit_->setText(s.value("run/saveDir", U(text::kDefaultSaveDir)).toString());
    prefixEdit_->setText(s.value("run/prefix", DefaultPrefix()).toString());
}

void MainWindow::SaveSettings() {
    settings_->setValue("run/target", formatCombo_->currentText());
    settings_->setValue("run/saveDir", saveDirEdit_->text());
    settings_->setValue("run/prefix", prefixEdit_->text());
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
