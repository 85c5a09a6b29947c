// The engine's modeless message box: a frameless, translucent, custom-drawn
// popup with a title, an icon, the text, a close area and an OK area.
#pragma once

#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "ui_engine/my_window.h"

namespace vellumar::ui {

// Icon codes the engine knows.
enum IconCode : int { kIconError = 16, kIconQuestion = 32, kIconWarning = 48, kIconInformation = 64 };

inline constexpr int kDefaultBoxWidth = 405;
inline constexpr int kDefaultBoxHeight = 175;

class MessageBoxWindow : public MyWindow {
public:
    MessageBoxWindow(QWidget* owner, const QString& title, const QString& text, int icon, int style);
    ~MessageBoxWindow() override;

    // 0 none, 1 the close area, 2 the OK area.
    int Hover() const { return hover_; }
    int Alpha() const { return alpha_; }
    int Icon() const { return icon_; }
    int Style() const { return style_; }
    const QString& Text() const { return text_; }
    QRect CloseArea() const;
    QRect OkArea() const;
    // Which active area holds this point (window coordinates).
    int AreaAt(const QPoint& p) const;

    void SetAlpha(int alpha);
    // Called once when the window closes or is destroyed, whichever comes first.
    void SetOnGone(std::function<void()> onGone) { onGone_ = std::move(onGone); }

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void SetHover(int hover);
    void Gone();

    QString text_;
    int icon_;
    int style_;
    int alpha_ = 255;
    int hover_ = 0;
    bool pressed_ = false;
    bool dragging_ = false;
    QPoint dragOffset_;
    std::function<void()> onGone_;
};

class SkinMessageBox {
public:
    SkinMessageBox() = default;
    ~SkinMessageBox();
    SkinMessageBox(const SkinMessageBox&) = delete;
    SkinMessageBox& operator=(const SkinMessageBox&) = delete;

    // Returns once the box has appeared (after its opening animation); does
    // nothing while a box is already open. Without an owner the box is placed
    // from the screen size, with one from the owner's window rectangle; either
    // way as if it had the default size.
    void Show(const QString& text, const QString& title, int icon, std::optional<int> style = {},
              std::optional<int> width = {}, std::optional<int> height = {},
              QWidget* owner = nullptr);

    bool IsOpen() const { return !window_.isNull(); }
    MessageBoxWindow* Window() const { return window_.data(); }
    // Opacity of each frame of the last opening animation.
    const std::vector<int>& LastAnimation() const { return animation_; }
    // Closes an open box at once (program exit).
    void Release();

    // Paces the opening animation: called after each frame is drawn with the
    // frame's length and the time since it began. The default sleeps the rest
    // of the frame; tests count the frames' lengths instead.
    using Pace = std::function<void(int frameMs, qint64 elapsedMs)>;
    void SetPace(Pace pace) { pace_ = std::move(pace); }

    // Top-left corner for a box of the default size centred on `area` (truncated toward zero).
    static QPoint PlaceOver(const QRect& area);
    static QPoint PlaceOnScreen(const QSize& screen);

private:
    void Animate(MessageBoxWindow* w, int style, const QRect& geometry);

    QPointer<MessageBoxWindow> window_;
    std::vector<int> animation_;
    Pace pace_;
};

}  // namespace vellumar::ui
