// A layout that keeps the window's arrangement of its starting size: each
// widget sits at its starting rectangle and takes a share of what the window
// has grown since, as a move, a stretch or both, along each axis.
#pragma once

#include <QLayout>
#include <QRect>
#include <QSize>

#include <vector>

namespace vellumar::gui {

class AnchorLayout : public QLayout {
public:
    // Per axis: the parts of the growth the widget moves by and grows by.
    struct Share {
        double move = 0;
        double grow = 0;
    };
    static constexpr Share kStay{0, 0};
    static constexpr Share kMove{1, 0};
    static constexpr Share kStretch{0, 1};

    // `base`: the size the rectangles are given for; the layout never asks for less.
    AnchorLayout(QWidget* parent, QSize base);
    ~AnchorLayout() override;

    void Place(QWidget* widget, QRect at, Share x, Share y);

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return int(items_.size()); }
    QSize sizeHint() const override { return base_; }
    QSize minimumSize() const override { return base_; }
    void setGeometry(const QRect& r) override;

private:
    struct Item {
        QLayoutItem* item;
        QRect at;
        Share x, y;
    };
    QSize base_;
    std::vector<Item> items_;
};

}  // namespace vellumar::gui
