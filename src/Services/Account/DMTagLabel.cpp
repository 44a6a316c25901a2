#include "Services/Account/DMTagLabel.h"

#include <QPainter>

namespace tamberlo {

void DMTagLabel::setBackgroundColor(const QColor& color) {
    bgColor_ = color;
    update();
}

void DMTagLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    painter.setPen(Qt::NoPen);
    painter.setBrush(bgColor_);
    painter.drawRect(QRectF(0, 0, w - h / 2, h));
    painter.drawEllipse(QRectF(w - h, 0, h, h));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPointSizeF(13);
    painter.setFont(font);
    painter.drawText(rect(), int(alignment()) | Qt::TextSingleLine, text());
}

}  // namespace tamberlo
