#include "EditorUI/Views/HeaderControlView.h"

#include "Widgets/ColorHelper.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tamberlo {

namespace {

// The handle's head: a pentagon pointing down at the line, over the ruler's lower edge.
QPainterPath headPath(double width) {
    QPainterPath head;
    head.moveTo(1, 0);
    head.lineTo(width - 1, 0);
    head.lineTo(width - 1, 9);
    head.lineTo(width / 2, 14);
    head.lineTo(1, 9);
    head.closeSubpath();
    return head;
}

}  // namespace

HeaderControlView::HeaderControlView(QWidget* parent) : QWidget(parent) {
    setFixedWidth(handleWidth);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
}

HeaderControlView* HeaderControlView::initNib(QWidget* parent) { return new HeaderControlView(parent); }

QCursor HeaderControlView::headerCursor() {
    static const QCursor cursor = [] {
        QPixmap pixmap(22, 22);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(4, 0);
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(primary());
        p.drawPath(headPath(14));
        p.fillRect(QRectF(6.5, 14, 1, 8), primary());
        return QCursor(pixmap, 11, 0);
    }();
    return cursor;
}

void HeaderControlView::setIsDragging(bool dragging) {
    if (isDragging_ == dragging) return;
    isDragging_ = dragging;
    if (dragging) customCursorDisplay(true);
}

void HeaderControlView::customCursorDisplay(bool custom) {
    if (custom)
        setCursor(headerCursor());
    else
        setCursor(Qt::ArrowCursor);
}

void HeaderControlView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // One crisp pixel column at x 7, where the snap line of a clip at the playhead's time falls too.
    painter.fillRect(QRect(width() / 2, 10, 1, height() - 10), primary());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(primary());
    painter.drawPath(headPath(width()));
}

// While dragging the playhead cursor stays, even outside the handle.
void HeaderControlView::enterEvent(QEnterEvent* event) {
    if (!isDragging_) customCursorDisplay(true);
    QWidget::enterEvent(event);
}

void HeaderControlView::leaveEvent(QEvent* event) {
    if (!isDragging_) customCursorDisplay(false);
    QWidget::leaveEvent(event);
}

void HeaderControlView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pan_.press(event->position());
}

void HeaderControlView::mouseMoveEvent(QMouseEvent* event) {
    if (auto state = pan_.move(event->position())) emit controlDidPan(event->position(), *state);
}

void HeaderControlView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (pan_.release(event->position()) == PanGesture::Release::panEnded)
        emit controlDidPan(event->position(), GestureState::ended);
    if (!rect().contains(event->position().toPoint())) customCursorDisplay(false);
}

}  // namespace tamberlo
