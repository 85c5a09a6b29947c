#include "app/gui/application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/gui/app_state.h"
#include "app/gui/main_window.h"
#include "ui_engine/ui_engine.h"
#include "vellumar_version.h"

namespace vellumar::gui {

bool InstallWindowTranslation(QTranslator& translator, const QLocale& locale) {
    // The C locale states no language: the window stays as it always was.
    if (locale.language() == QLocale::Chinese || locale.language() == QLocale::C) return false;
    if (!translator.load(QStringLiteral(":/i18n/vellumar_en.qm"))) return false;
    return QCoreApplication::installTranslator(&translator);
}

int RunApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellumar"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMAR_VERSION));
    // The window's texts are Chinese; the dialogs' own buttons follow them.
    // A desktop in another language gets the English catalogue and Qt's own texts.
    QTranslator qtTranslator, windowTranslator;
    if (!InstallWindowTranslation(windowTranslator, QLocale::system())) {
        if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                              QStringLiteral("_"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(&qtTranslator);
    }

    // Declared first so that it outlives the window: its destructor is the
    // exit clean-up, run however the event loop ends.
    AppState state;
    ui::Engine::RegisterWindowClass();
    ui::Engine::Initialize();

    MainWindow window(state, MainWindow::Options{});
    window.show();
    return QApplication::exec();
}

}  // namespace vellumar::gui
