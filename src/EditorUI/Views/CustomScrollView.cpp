#include "EditorUI/Views/CustomScrollView.h"

#include "Widgets/ColorHelper.h"

#include <QEvent>
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

namespace {

class ScrollCorner : public QWidget {
public:
    explicit ScrollCorner(QAbstractScrollArea* area) : QWidget(area), area_(area) {
        // The corner keeps its place when the second scroller appears beside the first, so nothing
        // else would repaint it in its new colour.
        area->horizontalScrollBar()->installEventFilter(this);
        area->verticalScrollBar()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) update();
        return QWidget::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const bool both = area_->horizontalScrollBar()->isVisible() && area_->verticalScrollBar()->isVisible();
        painter.fillRect(rect(), both ? QColor(Qt::red) : dark2());
    }

private:
    QAbstractScrollArea* area_;
};

}  // namespace

CustomScrollView::CustomScrollView(QWidget* parent) : QScrollArea(parent) {
    setHorizontalScrollBar(new CustomScroller(Qt::Horizontal, this));
    setVerticalScrollBar(new CustomScroller(Qt::Vertical, this));
    setFrameShape(QFrame::NoFrame);
    // The square between the scrollers: Qt shows it beside a lone scroller too, where it continues
    // that scroller's track; red only when both scrollers are shown.
    auto* corner = new ScrollCorner(this);
    setCornerWidget(corner);
}

}  // namespace tamberlo
