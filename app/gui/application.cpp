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

int RunApplication(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellumar"));
    QApplication::setApplicationVersion(QStringLiteral(VELLUMAR_VERSION));
    // The window's texts are Chinese; the dialogs' own buttons follow them.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

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
