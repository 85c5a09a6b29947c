#include "ui_engine/ui_engine.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QPointer>
#include <QWidget>

namespace vellumar::ui {

namespace {

struct EngineState {
    bool classRegistered = false;
    uint32_t themeColor = kDefaultThemeColor;
    int displayFlag = 0;
    QFont font;
    QList<QPointer<QWidget>> openWindows;
};

EngineState& State() {
    static EngineState s;
    return s;
}

}  // namespace

QColor ColorFromColorRef(uint32_t colorref) {
    return QColor(int(colorref & 0xFF), int((colorref >> 8) & 0xFF), int((colorref >> 16) & 0xFF));
}

void Engine::RegisterWindowClass() { State().classRegistered = true; }
bool Engine::WindowClassRegistered() { return State().classRegistered; }

void Engine::Initialize() {
    EngineState& s = State();
    s.themeColor = kDefaultThemeColor;
    s.displayFlag = 0;
    s.openWindows.clear();
    const QString family = QStringLiteral("WenQuanYi Micro Hei");
    s.font = QFontDatabase::hasFamily(family) ? QFont(family, 9) : QFont();
    if (s.font.pointSize() > 0) s.font.setPointSize(9);
}

void Engine::Shutdown() {
    State().openWindows.clear();
}

uint32_t Engine::ThemeColor() { return State().themeColor; }
QColor Engine::ThemeQColor() { return ColorFromColorRef(State().themeColor); }

void Engine::SetThemeColor(uint32_t colorref) {
    State().themeColor = colorref & 0xFFFFFF;
    NotifyOpenWindows();
}

int Engine::DisplayFlag() { return State().displayFlag; }

void Engine::SetDisplayFlag(int flag) {
    State().displayFlag = flag;
    NotifyOpenWindows();
}

QFont Engine::Font() { return State().font; }

void Engine::AddOpenWindow(QWidget* window) {
    if (!window) return;
    RemoveOpenWindow(window);
    State().openWindows.append(window);
}

void Engine::RemoveOpenWindow(QWidget* window) {
    State().openWindows.removeIf([window](const QPointer<QWidget>& w) { return !w || w == window; });
}

QList<QWidget*> Engine::OpenWindows() {
    QList<QWidget*> out;
    for (const QPointer<QWidget>& w : State().openWindows)
        if (w) out.append(w.data());
    return out;
}

void Engine::NotifyOpenWindows() {
    // A copy: a window may close itself while it handles the event.
    for (QWidget* w : OpenWindows()) {
        QEvent e(kRedrawEvent);
        QCoreApplication::sendEvent(w, &e);
    }
}

}  // namespace vellumar::ui
