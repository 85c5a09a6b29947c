// The UI engine: its theme colour, display flag and font, and the list of its
// open windows that hear about every change of them.
#pragma once

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QList>

#include <cstdint>

class QWidget;

namespace vellumar::ui {

// Sent to every open engine window after the theme colour or display flag changed.
inline constexpr QEvent::Type kRedrawEvent = QEvent::Type(QEvent::User + 2);

inline constexpr uint32_t kDefaultThemeColor = 0xC06000;  // COLORREF: red in the low byte

// A COLORREF (0x00BBGGRR) as a colour.
QColor ColorFromColorRef(uint32_t colorref);

class Engine {
public:
    // The engine's windows are of one class ("MyWindow"); nothing of the engine
    // may be shown before it is registered.
    static void RegisterWindowClass();
    static bool WindowClassRegistered();

    // Default font and theme colour; display flag 0; empty window list.
    static void Initialize();
    static void Shutdown();

    static uint32_t ThemeColor();
    static QColor ThemeQColor();
    static void SetThemeColor(uint32_t colorref);
    static int DisplayFlag();
    static void SetDisplayFlag(int flag);
    static QFont Font();

    static void AddOpenWindow(QWidget* window);
    static void RemoveOpenWindow(QWidget* window);
    static QList<QWidget*> OpenWindows();

private:
    static void NotifyOpenWindows();
};

}  // namespace vellumar::ui
