// Files and folders dropped onto a widget become work-list rows.
#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace vellumar::gui {

// Watches `target` (the list's viewport) for drops of files. A folder
// becomes every file beneath it, sorted by path, as the command line's
// --recursive gives them. While `busy` says so, drops are refused. The drop
// is taken as a copy, so the source application never deletes what it
// dragged.
class FileDrop : public QObject {
public:
    using Busy = std::function<bool()>;
    using Take = std::function<void(std::vector<std::string> paths)>;

    FileDrop(QWidget* target, Busy busy, Take take);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Busy busy_;
    Take take_;
};

}  // namespace vellumar::gui
