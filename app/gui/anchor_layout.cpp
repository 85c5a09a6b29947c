#include "app/gui/anchor_layout.h"

#include <QWidget>
#include <QWidgetItem>

#include <algorithm>
#include <cmath>

namespace vellumar::gui {

AnchorLayout::AnchorLayout(QWidget* parent, QSize base) : QLayout(parent), base_(base) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

AnchorLayout::~AnchorLayout() {
    for (Item& i : items_) delete i.item;
}

void AnchorLayout::Place(QWidget* widget, QRect at, Share x, Share y) {
    addChildWidget(widget);
    items_.push_back({new QWidgetItem(widget), at, x, y});
    invalidate();
}

// A widget handed over without a place keeps the rectangle it has.
void AnchorLayout::addItem(QLayoutItem* item) {
    items_.push_back({item, item->geometry(), kStay, kStay});
}

QLayoutItem* AnchorLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? items_[size_t(index)].item : nullptr;
}

QLayoutItem* AnchorLayout::takeAt(int index) {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = items_[size_t(index)].item;
    items_.erase(items_.begin() + index);
    return item;
}

void AnchorLayout::setGeometry(const QRect& r) {
    QLayout::setGeometry(r);
    const int dw = std::max(0, r.width() - base_.width());
    const int dh = std::max(0, r.height() - base_.height());
    const auto part = [](double share, int by) { return int(std::lround(share * by)); };
    for (const Item& i : items_) {
        const QRect at = i.at.translated(r.topLeft());
        const QRect placed(at.x() + part(i.x.move, dw), at.y() + part(i.y.move, dh),
                           at.width() + part(i.x.grow, dw), at.height() + part(i.y.grow, dh));
        // Set on the widget itself: a hidden one is placed too, ready when shown.
        if (QWidget* w = i.item->widget()) w->setGeometry(placed);
        else i.item->setGeometry(placed);
    }
}

}  // namespace vellumar::gui
