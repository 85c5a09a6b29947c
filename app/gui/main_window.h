// The program's one top-level window: fixed layout, menu, file pick and the
// start of a batch run.
#pragma once

#include <QDesktopServices>
#include <QMainWindow>
#include <QUrl>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/batch/file_places.h"
#include "app/gui/app_state.h"
#include "app/gui/skin_loader.h"

class QComboBox;
class QSettings;
class QLabel;
class QMessageBox;
class QLineEdit;
class QProgressBar;
class QSpinBox;
class QPushButton;
class QTreeView;

namespace vellumar::gui {

class BatchConverter;
class OptionsMenu;
class PreviewPane;
class WorkListModel;

// Shows the open dialog and returns the chosen full paths (empty when cancelled).
// Names that are not valid UTF-8 come back with their bad bytes replaced; the
// window finds the files they stand for (NativeNames).
using FilePicker = std::function<QStringList(QWidget* parent, const QString& title,
                                             const QString& filter, const QString& startDir)>;

QStringList PickFilesWithDialog(QWidget* parent, const QString& title, const QString& filter,
                                const QString& startDir);

// Shows the folder dialog; the chosen folder, or empty when cancelled.
using FolderPicker =
    std::function<QString(QWidget* parent, const QString& title, const QString& startDir)>;
QString PickFolderWithDialog(QWidget* parent, const QString& title, const QString& startDir);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        std::string programDir;  // empty: the folder of the running program
                                 // (the window's files go where PlacesFor says)
        bool attachSkin = true;
    };

    MainWindow(AppState& state, Options options);
    ~MainWindow() override;

    // The folder the window treats as the program's: the program's own in a
    // portable install, the user's data folder otherwise.
    const std::string& ProgramDir() const { return programDir_; }
    const FilePlaces& Places() const { return places_; }
    const SkinEngine& Skin() const { return skin_; }
    void SetFilePicker(FilePicker picker) { picker_ = std::move(picker); }
    void SetFolderPicker(FolderPicker picker) { folderPicker_ = std::move(picker); }
    // How the summary's button shows a folder (the desktop's file manager).
    void SetFolderOpener(std::function<void(const QUrl&)> opener) {
        folderOpener_ = std::move(opener);
    }
    // The end-of-run account of a run past failures; null before the first.
    QMessageBox* SummaryBox() const { return summary_; }
    QLabel* ProgressText() const { return progressText_; }
    PreviewPane* Preview() const { return preview_; }
    BatchConverter& Converter() { return *converter_; }
    AppState& State() { return state_; }
    bool SkinLoaded() const { return skin_.Loaded(); }

    QTreeView* WorkList() const { return workList_; }
    WorkListModel& Rows() const { return *rows_; }
    const OptionsMenu& Choices() const { return *options_; }
    QPushButton* OpenButton() const { return openButton_; }
    QPushButton* StartButton() const { return startButton_; }
    QComboBox* FormatCombo() const { return formatCombo_; }
    QLineEdit* BaseDirEdit() const { return baseDirEdit_; }
    QLineEdit* SaveDirEdit() const { return saveDirEdit_; }
    QLineEdit* PrefixEdit() const { return prefixEdit_; }
    QProgressBar* Progress() const { return progress_; }
    QAction* StopAction() const { return stopAction_; }
    QSpinBox* QualityBox() const { return qualityBox_; }

    // The file dialog's files replace the list, or with `add` join it.
    void PickFiles(bool add);
    void BrowseSaveDir();
    void ShowAbout();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void BuildLayout();
    void BuildMenu();
    void BuildListMenu();
    void RemoveSelectedRows();
    void ShowSummary(int converted, int failed, int skipped, qint64 ms, const QString& folder);
    void RestoreSettings();
    void SaveSettings();
    void OnStartClicked();
    void ConnectRun();
    void OnCreated(bool attachSkin);

    AppState& state_;
    FilePlaces places_;
    std::string programDir_;
    SkinEngine skin_;
    FilePicker picker_ = PickFilesWithDialog;
    FolderPicker folderPicker_ = PickFolderWithDialog;
    std::function<void(const QUrl&)> folderOpener_ = [](const QUrl& u) {
        QDesktopServices::openUrl(u);
    };
    QMessageBox* summary_ = nullptr;
    QString summaryFolder_;
    QLabel* progressText_ = nullptr;
    PreviewPane* preview_ = nullptr;
    std::unique_ptr<QSettings> settings_;
    OptionsMenu* options_ = nullptr;
    std::unique_ptr<BatchConverter> converter_;
    bool closeWhenRunEnds_ = false;

    WorkListModel* rows_ = nullptr;
    QTreeView* workList_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QComboBox* formatCombo_ = nullptr;
    QLineEdit* baseDirEdit_ = nullptr;
    QLineEdit* saveDirEdit_ = nullptr;
    QLineEdit* prefixEdit_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QAction* stopAction_ = nullptr;
    QSpinBox* qualityBox_ = nullptr;
    std::vector<QAction*> listActions_;  // disabled while a run goes
};

}  // namespace vellumar::gui
