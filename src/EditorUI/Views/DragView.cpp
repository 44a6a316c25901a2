#include "EditorUI/Views/DragView.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace tamberlo {

DragView::DragView(QWidget* parent) : QWidget(parent) { setAcceptDrops(true); }

void DragView::setDragEntered(bool entered) {
    if (dragEntered_ == entered) return;
    dragEntered_ = entered;
    update();
}

bool DragView::performDragOperation(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    std::vector<platform::URL> urls;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) urls.emplace_back(url.toLocalFile().toStdString());
    emit dragComplete(urls);
    return true;
}

void DragView::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls()) return event->ignore();
    setDragEntered(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DragView::dragMoveEvent(QDragMoveEvent* event) {
    if (!event->mimeData()->hasUrls()) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DragView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDragEntered(false);
    event->accept();
}

void DragView::dropEvent(QDropEvent* event) {
    setDragEntered(false);
    if (!performDragOperation(event->mimeData())) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

}  // namespace tamberlo
