#include "app/gui/options_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QSettings>

#include <span>
#include <string>
#include <string_view>

#include "app/gui/texts.h"
#include "core/vx_colour_reduce.h"
#include "core/vx_resize.h"

namespace vellumar::gui {

namespace {

using batch::RunOptions;

// Every toggle is off until the user turns it on.
struct Toggle {
    const char* text;
    const char* key;
    void (*set)(RunOptions& options, bool on);
};

const Toggle kToggles[] = {
    {text::kMenuKeepGoing, "options/keepGoing",
     [](RunOptions& o, bool on) { o.keepGoing = on; }},
    {text::kMenuKeepNames, "options/keepNames",
     [](RunOptions& o, bool on) {
         if (on) o.nameTemplate = batch::kSourceNameTemplate;
     }},
    {text::kMenuKeepOrientation, "options/keepOrientation",
     [](RunOptions& o, bool on) { o.steps.keepOrientation = on; }},
    {text::kMenuStrip, "options/strip", [](RunOptions& o, bool on) { o.steps.strip = on; }},
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
    void (*set)(RunOptions& options, std::string_view value);
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

const Choice kChoices[] = {
    {text::kMenuResize, "options/resize", kSizes,
     [](RunOptions& o, std::string_view v) { vx::ParseResizeRequest(v, o.steps.resize); }},
    {text::kMenuPalette, "options/palette", kPalettes,
     [](RunOptions& o, std::string_view v) { vx::ParsePaletteChoice(v, o.steps.colours.palette); }},
    {text::kMenuDither, "options/dither", kDithers,
     [](RunOptions& o, std::string_view v) { vx::ParseDitherChoice(v, o.steps.colours.dither); }},
};

}  // namespace

OptionsMenu::OptionsMenu(QMenu* menu, QSettings& settings) : QObject(menu), settings_(settings) {
    for (const Toggle& t : kToggles) {
        QAction* a = menu->addAction(QString::fromUtf8(t.text));
        a->setCheckable(true);
        const QString key = QString::fromUtf8(t.key);
        a->setChecked(settings_.value(key, false).toBool());
        connect(a, &QAction::toggled, this, [this, key](bool on) { settings_.setValue(key, on); });
        toggles_.push_back(a);
    }
    menu->addSeparator();
    for (const Choice& c : kChoices) {
        QMenu* sub = menu->addMenu(QString::fromUtf8(c.title));
        auto* group = new QActionGroup(sub);
        group->setExclusive(true);
        const QString key = QString::fromUtf8(c.key);
        // A value this version does not know (a later one wrote it) leaves the default.
        const QString saved = settings_.value(key).toString();
        for (const ChoiceItem& item : c.items) {
            QAction* a = sub->addAction(QString::fromUtf8(item.text));
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

void OptionsMenu::ApplyTo(batch::RunOptions& options) const {
    for (size_t i = 0; i < toggles_.size(); ++i)
        kToggles[i].set(options, toggles_[i]->isChecked());
    for (size_t i = 0; i < choices_.size(); ++i) {
        const std::string value = choices_[i]->checkedAction()->data().toString().toStdString();
        if (!value.empty()) kChoices[i].set(options, value);
    }
}

}  // namespace vellumar::gui
