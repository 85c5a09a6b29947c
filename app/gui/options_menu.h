// The 选项 menu: run choices beyond the window's controls, each remembered
// with the other settings.
//
// A yes/no choice is one line of kToggles in options_menu.cpp (its text, its
// settings key and the RunOptions field it sets). A choice among several
// values gets a sub-menu of exclusive items built beside them in the
// constructor and read in ApplyTo.
#pragma once

#include <QObject>

#include <vector>

#include "app/batch/run_options.h"

class QAction;
class QMenu;
class QSettings;

namespace vellumar::gui {

class OptionsMenu : public QObject {
public:
    OptionsMenu(QMenu* menu, QSettings& settings);

    // Sets the run's options the menu owns.
    void ApplyTo(batch::RunOptions& options) const;
    QAction* Find(const char* settingsKey) const;

private:
    QSettings& settings_;
    std::vector<QAction*> toggles_;
};

}  // namespace vellumar::gui
