#include "EditorUI/Views/CustomScrollView.h"

#include "Widgets/ColorHelper.h"

#include <QPainter>
#include <QStyleOptionSlider>

namespace tamberlo {

CustomScroller::CustomScroller(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {
    setFocusPolicy(Qt::NoFocus);
}

QSize CustomScroller::sizeHint() const {
    return orientation() == Qt::Horizontal ? QSize(100, thickness) : QSize(thickness, 100);
}

QRect CustomScroller::knobRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
}

void CustomScroller::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), dark2());
    drawKnob(painter);
}

void CustomScroller::drawKnob(QPainter& painter) {
    if (maximum() <= minimum()) return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x55, 0x55, 0x55));
    const QRectF knob = QRectF(knobRect()).adjusted(2, 2, -2, -2);
    painter.drawRoundedRect(knob, 5.0, 5.0);
}

CustomScrollView::CustomScrollView(QWidget* parent) : QScrollArea(parent) {
    setHorizontalScrollBar(new CustomScroller(Qt::Horizontal, this));
    setVerticalScrollBar(new CustomScroller(Qt::Vertical, this));
    setFrameShape(QFrame::NoFrame);
    // Shown only when both scrollers are: the square between them.
    auto* corner = new QWidget(this);
    corner->setAutoFillBackground(true);
    QPalette palette = corner->palette();
    palette.setColor(QPalette::Window, Qt::red);
    corner->setPalette(palette);
    setCornerWidget(corner);
}

}  // namespace tamberlo
