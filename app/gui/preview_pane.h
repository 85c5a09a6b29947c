// Beside the list: the selected source's thumbnail and what it is, read on
// a worker thread through the engine (its header first, then its pixels).
#pragma once

#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <string>

class QLabel;

namespace vellumar::gui {

class PreviewPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int kThumbSide = 160;

    explicit PreviewPane(QWidget* parent);
    ~PreviewPane() override;

    // Shows `path` (bytes as the file system holds them); empty clears the pane.
    void Show(const std::string& path);
    QLabel* Thumbnail() const { return thumb_; }
    QLabel* Facts() const { return facts_; }

signals:
    // The last step of a Show (the thumbnail, or why there is none) is shown.
    void shown();

private:
    QLabel* thumb_;
    QLabel* facts_;
    std::atomic<int> generation_{0};
    QThreadPool pool_;  // waited for before the pane goes
};

}  // namespace vellumar::gui
