// Base of the engine's own windows (the "MyWindow" class): the engine sees
// every event first, then the ordinary widget handling runs.
#pragma once

#include <QWidget>

namespace vellumar::ui {

class MyWindow : public QWidget {
public:
    explicit MyWindow(QWidget* owner);
    ~MyWindow() override;

    // Redraw requests the engine sent after a theme change.
    int RedrawRequests() const { return redrawRequests_; }

protected:
    bool event(QEvent* e) override;

private:
    int redrawRequests_ = 0;
};

}  // namespace vellumar::ui
