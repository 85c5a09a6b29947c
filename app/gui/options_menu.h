// The 选项 menu: run choices beyond the window's controls, each remembered
// with the other settings.
//
// A yes/no choice is one line of kToggles in options_menu.cpp (its text, its
// settings key and the run option it sets, by its name in the option table).
// A choice among several values is one entry of kChoices: a sub-menu of
// exclusive items, each with the value it stands for.
#pragma once

#include <QObject>

#include <vector>

#include "app/batch/run_options.h"

class QAction;
class QActionGroup;
class QMenu;
class QSettings;

namespace vellumar::gui {

class OptionsMenu : public QObject {
public:
    OptionsMenu(QMenu* menu, QSettings& settings);

    // Sets the run's options the menu owns.
    void ApplyTo(batch::RunOptions& options) const;
    // The yes/no item that sets the run option `option` (its table name).
    QAction* ToggleFor(const char* option) const;

private:
    QSettings& settings_;
    std::vector<QAction*> toggles_;
    std::vector<QActionGroup*> choices_;
};

}  // namespace vellumar::gui
