#pragma once

class QLocale;
class QTranslator;

namespace vellumar::gui {

// Loads the window's English texts into `translator` and installs it unless
// `locale` is Chinese (or C); true when installed.
bool InstallWindowTranslation(QTranslator& translator, const QLocale& locale);

// The whole program: start-up, the window, the event loop and the exit clean-up.
int RunApplication(int argc, char** argv);

}  // namespace vellumar::gui
