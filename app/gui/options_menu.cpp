#include "app/gui/options_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QSettings>

#include <span>
#include <string>
#include <string_view>

#include "app/batch/option_table.h"
#include "app/gui/texts.h"

namespace vellumar::gui {

namespace {

// Each item stands for a run option of the option table, named as the
// command line names it. Every toggle is off until the user turns it on;
// the "keep names" one sets --name to its template.
struct Toggle {
    const char* text;
    const char* key;
    const char* option;
    const char* value;  // for a text option, what "on" sets it to
};

const Toggle kToggles[] = {
    {text::kMenuKeepGoing, "options/keepGoing", "keep-going", nullptr},
    {text::kMenuKeepNames, "options/keepNames", "name", batch::kSourceNameTemplate},
    {text::kMenuKeepOrientation, "options/keepOrientation", "keep-orientation", nullptr},
    {text::kMenuStrip, "options/strip", "strip", nullptr},
};

// A choice is saved as its value, in the words of the command line's flags,
// so a saved file reads the same as a command. The first item is the default.
struct ChoiceItem {
    const char* text;
    const char* value;
};

struct Choice {
    const char* title;
    const char* key;
    std::span<const ChoiceItem> items;
    const char* option;
};

const ChoiceItem kSizes[] = {
    {text::kResizeNone, ""},
    {text::kResizeHalf, "50%"},
    {text::kResizeQuarter, "25%"},
    {text::kResize1920, "1920x1920"},
    {text::kResize1280, "1280x1280"},
    {text::kResize800, "800x800"},
};
const ChoiceItem kPalettes[] = {
    {text::kPaletteStandard, "standard"},
    {text::kPaletteAdaptive, "adaptive"},
};
const ChoiceItem kDithers[] = {
    {text::kDitherNone, "none"},
    {text::kDitherFloydSteinberg, "floyd-steinberg"},
};
const ChoiceItem kDepths[] = {
    {text::kDepthAsIs, ""},
    {text::kDepth8, "8"},
    {text::kDepth16, "16"},
};

const Choice kChoices[] = {
    {text::kMenuResize, "options/resize", kSizes, "resize"},
    {text::kMenuPalette, "options/palette", kPalettes, "palette"},
    {text::kMenuDither, "options/dither", kDithers, "dither"},
    {text::kMenuDepth, "options/depth", kDepths, "depth"},
};

// A flag is set on or off; a text option only when chosen, to the item's
// value in the table's own spelling (one it refused would be a fault in this
// file, which the window's tests catch).
void Apply(batch::RunOptions& options, const char* name, const char* value, bool on) {
    const batch::RunOption* option = batch::FindRunOption(name);
    if (!option) return;
    std::string detail;
    if (option->kind == batch::OptionKind::Flag) batch::SetFlag(options, *option, on);
    else if (on) batch::SetFromText(options, *option, value, detail);
}

}  // namespace

OptionsMenu::OptionsMenu(QMenu* menu, QSettings& settings) : QObject(menu), settings_(settings) {
    for (const Toggle& t : kToggles) {
        QAction* a = menu->addAction(text::T(t.text));
        a->setCheckable(true);
        const QString key = QString::fromUtf8(t.key);
        a->setChecked(settings_.value(key, false).toBool());
        connect(a, &QAction::toggled, this, [this, key](bool on) { settings_.setValue(key, on); });
        toggles_.push_back(a);
    }
    menu->addSeparator();
    for (const Choice& c : kChoices) {
        QMenu* sub = menu->addMenu(text::T(c.title));
        auto* group = new QActionGroup(sub);
        group->setExclusive(true);
        const QString key = QString::fromUtf8(c.key);
        // A value this version does not know (a later one wrote it) leaves the default.
        const QString saved = settings_.value(key).toString();
        for (const ChoiceItem& item : c.items) {
            QAction* a = sub->addAction(text::T(item.text));
            a->setCheckable(true);
            a->setData(QString::fromUtf8(item.value));
            group->addAction(a);
            if (a->data().toString() == saved) a->setChecked(true);
        }
        if (!group->checkedAction()) group->actions().front()->setChecked(true);
        connect(group, &QActionGroup::triggered, this,
                [this, key](QAction* a) { settings_.setValue(key, a->data()); });
        choices_.push_back(group);
    }
}

QAction* OptionsMenu::ToggleFor(const char* option) const {
    for (size_t i = 0; i < toggles_.size(); ++i)
        if (std::string_view(kToggles[i].option) == option) return toggles_[i];
    return nullptr;
}

void OptionsMenu::ApplyTo(batch::RunOptions& options) const {
    for (size_t i = 0; i < toggles_.size(); ++i)
        Apply(options, kToggles[i].option, kToggles[i].value, toggles_[i]->isChecked());
    for (size_t i = 0; i < choices_.size(); ++i) {
        const std::string value = choices_[i]->checkedAction()->data().toString().toStdString();
        Apply(options, kChoices[i].option, value.c_str(), !value.empty());
    }
}

}  // namespace vellumar::gui
