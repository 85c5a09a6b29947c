#include "ui_engine/my_window.h"

#include "ui_engine/ui_engine.h"

namespace vellumar::ui {

MyWindow::MyWindow(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFont(Engine::Font());
}

MyWindow::~MyWindow() { Engine::RemoveOpenWindow(this); }

bool MyWindow::event(QEvent* e) {
    if (e->type() == kRedrawEvent) {
        ++redrawRequests_;
        update();
        return true;
    }
    return QWidget::event(e);
}

}  // namespace vellumar::ui
