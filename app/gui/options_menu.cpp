#include "app/gui/options_menu.h"

#include <QAction>
#include <QMenu>
#include <QSettings>

#include <cstring>
#include <iterator>

#include "app/gui/texts.h"

namespace vellumar::gui {

namespace {

struct Toggle {
    const char* text;
    const char* key;
    bool batch::RunOptions::*field;
};

const Toggle kToggles[] = {
    {text::kMenuKeepGoing, "options/keepGoing", &batch::RunOptions::keepGoing},
};

}  // namespace

OptionsMenu::OptionsMenu(QMenu* menu, QSettings& settings) : QObject(menu), settings_(settings) {
    const batch::RunOptions defaults;
    for (const Toggle& t : kToggles) {
        QAction* a = menu->addAction(QString::fromUtf8(t.text));
        a->setCheckable(true);
        a->setChecked(settings_.value(QString::fromUtf8(t.key), defaults.*t.field).toBool());
        const QString key = QString::fromUtf8(t.key);
        connect(a, &QAction::toggled, this, [this, key](bool on) { settings_.setValue(key, on); });
        toggles_.push_back(a);
    }
}

void OptionsMenu::ApplyTo(batch::RunOptions& options) const {
    for (size_t i = 0; i < toggles_.size(); ++i)
        options.*kToggles[i].field = toggles_[i]->isChecked();
}

QAction* OptionsMenu::Find(const char* settingsKey) const {
    for (size_t i = 0; i < toggles_.size(); ++i)
        if (std::strcmp(kToggles[i].key, settingsKey) == 0) return toggles_[i];
    return nullptr;
}

}  // namespace vellumar::gui
