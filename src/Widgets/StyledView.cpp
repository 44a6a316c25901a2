#include "Widgets/StyledView.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace tamberlo {

StyledView::StyledView(QWidget* parent) : QWidget(parent) {}

void StyledView::setBackgroundColor(const QColor& color) {
    backgroundColor_ = color;
    update();
}

void StyledView::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    updateMask();
    update();
}

void StyledView::setBorderWidth(double width) {
    borderWidth_ = width;
    update();
}

void StyledView::setBorderColor(const QColor& color) {
    borderColor_ = color;
    update();
}

void StyledView::paintEvent(QPaintEvent*) {
    if (backgroundColor_.alpha() == 0 && (borderWidth_ <= 0 || borderColor_.alpha() == 0)) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0);
    const double inset = borderWidth_ > 0 ? borderWidth_ / 2 : 0;
    const QRectF box = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    painter.setBrush(backgroundColor_);
    painter.setPen(borderWidth_ > 0 ? QPen(borderColor_, borderWidth_) : Qt::NoPen);
    if (cornerRadius_ > 0)
        painter.drawRoundedRect(box, cornerRadius_, cornerRadius_);
    else
        painter.drawRect(box);
}

void StyledView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateMask();
}

// Children are clipped to the rounded bounds, as a layer with masksToBounds would clip them.
void StyledView::updateMask() {
    if (cornerRadius_ <= 0) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

}  // namespace tamberlo
