#include "ui_engine/skin_message_box.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QThread>

#include <algorithm>

#include "ui_engine/ui_engine.h"

namespace vellumar::ui {

namespace {

void PaintIcon(QPainter& p, const QRectF& r, int code) {
    p.save();
    p.setPen(Qt::NoPen);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(int(r.height() * 0.62));
    p.setFont(f);
    QString glyph;
    QColor fill;
    switch (code) {
        case kIconError: fill = QColor(0xD0, 0x30, 0x30); glyph = QStringLiteral("×"); break;
        case kIconQuestion: fill = QColor(0x2A, 0x70, 0xC8); glyph = QStringLiteral("?"); break;
        case kIconWarning: fill = QColor(0xF0, 0xA8, 0x18); glyph = QStringLiteral("!"); break;
        case kIconInformation: fill = QColor(0x1E, 0x88, 0x50); glyph = QStringLiteral("i"); break;
        default: p.restore(); return;
    }
    p.setBrush(fill);
    if (code == kIconWarning) {
        QPainterPath tri;
        tri.moveTo(r.center().x(), r.top());
        tri.lineTo(r.right(), r.bottom());
        tri.lineTo(r.left(), r.bottom());
        tri.closeSubpath();
        p.drawPath(tri);
        p.setPen(QColor(0x30, 0x20, 0x00));
        p.drawText(r.adjusted(0, r.height() * 0.2, 0, 0), Qt::AlignCenter, glyph);
    } else {
        p.drawEllipse(r);
        p.setPen(Qt::white);
        p.drawText(r, Qt::AlignCenter, glyph);
    }
    p.restore();
}

}  // namespace

MessageBoxWindow::MessageBoxWindow(QWidget* owner, const QString& title, const QString& text,
                                   int icon, int style)
    : MyWindow(owner), text_(text), icon_(icon), style_(style) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    resize(kDefaultBoxWidth, kDefaultBoxHeight);
}

MessageBoxWindow::~MessageBoxWindow() { Gone(); }

QRect MessageBoxWindow::CloseArea() const { return QRect(width() - 55, 7, 48, 22); }
QRect MessageBoxWindow::OkArea() const { return QRect(width() - 91, height() - 38, 75, 28); }

int MessageBoxWindow::AreaAt(const QPoint& p) const {
    if (CloseArea().contains(p)) return 1;
    if (OkArea().contains(p)) return 2;
    return 0;
}

void MessageBoxWindow::SetAlpha(int alpha) { alpha_ = std::clamp(alpha, 0, 255); }

void MessageBoxWindow::SetHover(int hover) {
    if (hover == hover_) return;
    hover_ = hover;
    setCursor(hover ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void MessageBoxWindow::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (dragging_) {
        move(e->globalPosition().toPoint() - dragOffset_);
        return;
    }
    SetHover(AreaAt(p));
}

void MessageBoxWindow::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const QPoint p = e->position().toPoint();
    SetHover(AreaAt(p));
    if (hover_ != 0) {
        pressed_ = true;
    } else if (p.y() < 36) {
        // The title band moves the box, as a caption would.
        dragging_ = true;
        dragOffset_ = e->globalPosition().toPoint() - pos();
    }
}

void MessageBoxWindow::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    dragging_ = false;
    SetHover(AreaAt(e->position().toPoint()));
    if (pressed_ && (hover_ == 1 || hover_ == 2)) {
        repaint();
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
    pressed_ = false;
}

void MessageBoxWindow::leaveEvent(QEvent*) { SetHover(0); }

// Enter answers the box as its OK area does, Esc dismisses it as the close area does.
void MessageBoxWindow::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            return;
        default:
            MyWindow::keyPressEvent(e);
    }
}

void MessageBoxWindow::closeEvent(QCloseEvent* e) {
    e->accept();
    Gone();
}

void MessageBoxWindow::Gone() {
    Engine::RemoveOpenWindow(this);
    if (auto f = std::move(onGone_)) {
        onGone_ = nullptr;
        f();
    }
}

void MessageBoxWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setOpacity(alpha_ / 255.0);
    const QColor theme = Engine::ThemeQColor();
    const bool framed = Engine::DisplayFlag() != 0;
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = 8;
    const int band = style_ == 0 ? 36 : 30;

    QPainterPath body;
    body.addRoundedRect(outer, radius, radius);
    p.fillPath(body, QColor(0xF7, 0xF9, 0xFC));
    // Title band in the theme colour.
    p.save();
    p.setClipPath(body);
    QLinearGradient grad(0, 0, 0, band);
    grad.setColorAt(0, theme.lighter(style_ == 0 ? 115 : 130));
    grad.setColorAt(1, theme);
    p.fillRect(QRectF(0, 0, width(), band), grad);
    p.restore();
    if (framed) {
        p.setPen(QPen(theme.darker(140), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(body);
    }

    // Title.
    QFont titleFont = font();
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(Qt::white);
    const QRect titleRect(14, 0, width() - 14 - 60, band);
    p.drawText(titleRect, Qt::AlignVCenter | (style_ == 0 ? Qt::AlignLeft : Qt::AlignHCenter),
               fontMetrics().elidedText(windowTitle(), Qt::ElideRight, titleRect.width()));

    // Close area.
    const QRect close = CloseArea();
    if (hover_ == 1) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xE0, 0x40, 0x40));
        p.drawRoundedRect(close, 4, 4);
    }
    p.setPen(QPen(Qt::white, 1.6));
    const QPointF c = QRectF(close).center();
    p.drawLine(c + QPointF(-5, -5), c + QPointF(5, 5));
    p.drawLine(c + QPointF(-5, 5), c + QPointF(5, -5));

    // Icon and text.
    QFont textFont = font();
    p.setFont(textFont);
    QString text = text_;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const int top = band + 10;
    const int bottom = height() - 44;
    QRect textRect;
    if (style_ == 0) {
        PaintIcon(p, QRectF(16, top + 2, 32, 32), icon_);
        textRect = QRect(60, top, width() - 60 - 16, std::max(0, bottom - top));
        p.setPen(QColor(0x20, 0x24, 0x2C));
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text);
    } else {
        PaintIcon(p, QRectF(16, top, 24, 24), icon_);
        textRect = QRect(48, top, width() - 48 - 16, std::max(0, bottom - top));
        p.setPen(QColor(0x20, 0x24, 0x2C));
        p.drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap, text);
    }

    // OK area.
    const QRect ok = OkArea();
    p.setPen(Qt::NoPen);
    p.setBrush(hover_ == 2 ? theme.lighter(125) : theme);
    p.drawRoundedRect(ok, 5, 5);
    if (hover_ == 2) {
        p.setPen(QPen(theme.darker(150), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(ok).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    }
    p.setPen(Qt::white);
    p.drawText(ok, Qt::AlignCenter, QStringLiteral("确定"));
}

SkinMessageBox::~SkinMessageBox() { Release(); }

void SkinMessageBox::Release() {
    if (MessageBoxWindow* w = window_.data()) {
        w->SetOnGone(nullptr);
        window_ = nullptr;
        delete w;
    }
}

QPoint SkinMessageBox::PlaceOver(const QRect& area) {
    const double left = area.left() + (area.width() * 0.5 - kDefaultBoxWidth * 0.5);
    const double top = area.top() + (area.height() * 0.5 - kDefaultBoxHeight * 0.5);
    return QPoint(int(left), int(top));  // int() truncates toward zero
}

QPoint SkinMessageBox::PlaceOnScreen(const QSize& screen) {
    return QPoint(int(screen.width() * 0.5 - kDefaultBoxWidth * 0.5),
                  int(screen.height() * 0.5 - kDefaultBoxHeight * 0.5));
}

void SkinMessageBox::Show(const QString& text, const QString& title, int icon,
                          std::optional<int> style, std::optional<int> width,
                          std::optional<int> height, QWidget* owner) {
    if (window_) return;
    const int st = style.value_or(0);
    auto* w = new MessageBoxWindow(owner, title, text, icon, st);
    window_ = w;
    w->SetOnGone([this] { window_ = nullptr; });

    QPoint at;
    if (owner) {
        at = PlaceOver(owner->frameGeometry());
    } else {
        const QScreen* screen = QGuiApplication::primaryScreen();
        at = PlaceOnScreen(screen ? screen->geometry().size() : QSize(0, 0));
    }
    // A size that is not given keeps the default in that dimension; a
    // nonsensical one is kept from swallowing the two active areas.
    const int wd = std::clamp(width.value_or(kDefaultBoxWidth), 120, 4096);
    const int ht = std::clamp(height.value_or(kDefaultBoxHeight), 90, 4096);
    Animate(w, st, QRect(at, QSize(wd, ht)));
    if (window_) Engine::AddOpenWindow(w);
}

void SkinMessageBox::Animate(MessageBoxWindow* w, int style, const QRect& geometry) {
    animation_.clear();
    QPointer<MessageBoxWindow> guard(w);
    struct Frame { int alpha; int sleepMs; int slide; };
    std::vector<Frame> frames;
    if (style == 0) {
        for (int k = 0; k < 13; ++k) frames.push_back({130 + 10 * k, k == 0 || k >= 9 ? 20 : 30, 0});
    } else {
        for (int k = 0; k < 10; ++k) frames.push_back({70 + 20 * k, 20, 9 - k});
    }
    w->setGeometry(geometry.translated(0, -frames.front().slide));
    for (size_t k = 0; k < frames.size() && guard; ++k) {
        QElapsedTimer timer;
        timer.start();
        w->SetAlpha(frames[k].alpha);
        if (frames[k].slide) w->move(geometry.left(), geometry.top() - frames[k].slide);
        else if (w->pos() != geometry.topLeft()) w->move(geometry.topLeft());
        if (k == 0) {
            w->show();
            // Enter and Esc reach the box that is on screen.
            w->activateWindow();
        }
        w->repaint();
        animation_.push_back(frames[k].alpha);
        if (pace_) {
            pace_(frames[k].sleepMs, timer.elapsed());
        } else {
            const qint64 left = frames[k].sleepMs - timer.elapsed();
            if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
        }
    }
}

}  // namespace vellumar::ui
