#include "app/gui/file_drop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include "app/batch/source_list.h"
#include "app/gui/uri_list.h"

namespace vellumar::gui {

namespace {

const char kUriList[] = "text/uri-list";

// Copy where offered, else a link; a drag that can only move is refused.
bool TakeAsCopy(QDropEvent* e) {
    if (!e->mimeData()->hasFormat(QLatin1String(kUriList))) return false;
    if (e->possibleActions() & Qt::CopyAction)
        e->setDropAction(Qt::CopyAction);
    else if (e->possibleActions() & Qt::LinkAction)
        e->setDropAction(Qt::LinkAction);
    else
        return false;
    e->accept();
    return true;
}

}  // namespace

FileDrop::FileDrop(QWidget* target, Busy busy, Take take)
    : QObject(target), busy_(std::move(busy)), take_(std::move(take)) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDropEvent*>(event);
            if (busy_() || !TakeAsCopy(e)) e->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            if (busy_() || !TakeAsCopy(e)) {
                e->ignore();
                return true;
            }
            const QByteArray list = e->mimeData()->data(QLatin1String(kUriList));
            const std::vector<batch::SourceFile> found = batch::ListSources(
                LocalPathsFromUriList(std::string_view(list.constData(), size_t(list.size()))),
                true);
            std::vector<std::string> paths;
            paths.reserve(found.size());
            for (const batch::SourceFile& f : found) paths.push_back(f.path);
            take_(std::move(paths));
            return true;
        }
        default:
            return false;
    }
}

}  // namespace vellumar::gui
