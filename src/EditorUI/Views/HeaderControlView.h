// The playhead handle, 14 px wide: a "FC2C5C" head over a line down its centre. Dragging it reports
// the pointer's position in the handle (the window moves the playhead); while the pointer is over
// it or a drag goes on, the cursor is the playhead cursor.
#pragma once

#include "EditorUI/Views/TimelineGeometry.h"
#include "Widgets/PanGesture.h"

#include <QCursor>
#include <QPointF>
#include <QWidget>

namespace tamberlo {

class HeaderControlView : public QWidget {
    Q_OBJECT
public:
    static constexpr int handleWidth = timeline::handleWidth;

    explicit HeaderControlView(QWidget* parent = nullptr);
    // A new handle (the design's nib loader).
    static HeaderControlView* initNib(QWidget* parent = nullptr);

    bool isDragging() const { return isDragging_; }
    // Stores the flag; becoming true shows the playhead cursor.
    void setIsDragging(bool dragging);
    // true: the playhead cursor (hot spot (11, 0)); false: the arrow.
    void customCursorDisplay(bool custom);
    // The playhead cursor.
    static QCursor headerCursor();

signals:
    // One event of a drag: the pointer in the handle's coordinates.
    void controlDidPan(QPointF pointInHandle, tamberlo::GestureState state);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool isDragging_ = false;
    PanGesture pan_;
};

}  // namespace tamberlo
