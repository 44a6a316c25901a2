// A drop target for files: the lanes area and the track list. A drop of URLs reaches
// dragComplete with the local files among them (an empty list when there are none); a drop that
// carries no URL is refused. Child widgets do not take drops, so drops land here.
#pragma once

#include "platform/foundation/URL.h"

#include <QWidget>

#include <vector>

class QMimeData;

namespace tamberlo {

class DragView : public QWidget {
    Q_OBJECT
public:
    explicit DragView(QWidget* parent = nullptr);

    // A drag is over the view.
    bool dragEntered() const { return dragEntered_; }
    // What a drop of `data` does: emits dragComplete and returns true when it carries URLs.
    bool performDragOperation(const QMimeData* data);

signals:
    void dragComplete(const std::vector<platform::URL>& urls);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setDragEntered(bool entered);
    bool dragEntered_ = false;
};

}  // namespace tamberlo
