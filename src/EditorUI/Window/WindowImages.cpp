#include "EditorUI/Window/WindowImages.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tamberlo {

namespace {

constexpr int side = 20;
constexpr double scale = 2.0;

void drawSpeaker(QPainter& p) {
    QPainterPath body;
    body.moveTo(3, 8);
    body.lineTo(6.5, 8);
    body.lineTo(11, 4);
    body.lineTo(11, 16);
    body.lineTo(6.5, 12);
    body.lineTo(3, 12);
    body.closeSubpath();
    p.save();
    p.setBrush(p.pen().color());
    p.drawPath(body);
    p.restore();
}

}  // namespace

QIcon windowImage(const QString& name, const QColor& color) {
    QPixmap pixmap(int(side * scale), int(side * scale));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);

    if (name == "ic_play") {
        QPainterPath triangle;
        triangle.moveTo(6, 3.5);
        triangle.lineTo(16.5, 10);
        triangle.lineTo(6, 16.5);
        triangle.closeSubpath();
        p.setBrush(color);
        p.drawPath(triangle);
    } else if (name == "ic_stop") {
        p.setBrush(color);
        p.drawRoundedRect(QRectF(5, 5, 10, 10), 1.5, 1.5);
    } else if (name == "ic_fade_in") {
        p.drawLine(QPointF(2, 16), QPointF(11, 4));
        p.drawLine(QPointF(11, 4), QPointF(18, 4));
    } else if (name == "ic_fade_out") {
        p.drawLine(QPointF(2, 4), QPointF(9, 4));
        p.drawLine(QPointF(9, 4), QPointF(18, 16));
    } else if (name == "ic_mute") {
        drawSpeaker(p);
        p.drawLine(QPointF(13.5, 7.5), QPointF(18, 12.5));
        p.drawLine(QPointF(18, 7.5), QPointF(13.5, 12.5));
    } else if (name == "ic_volume") {
        drawSpeaker(p);
        p.drawArc(QRectF(9, 6.5, 6, 7), -60 * 16, 120 * 16);
        p.drawArc(QRectF(9, 3.5, 10, 13), -60 * 16, 120 * 16);
    } else if (name == "ic_only_play") {
        p.drawArc(QRectF(3, 3.5, 14, 14), 0, 180 * 16);
        p.setBrush(color);
        p.drawRoundedRect(QRectF(2.5, 10.5, 3.5, 6), 1, 1);
        p.drawRoundedRect(QRectF(14, 10.5, 3.5, 6), 1, 1);
    } else if (name == "ic_split") {
        p.drawLine(QPointF(10, 2), QPointF(10, 18));
        p.drawRoundedRect(QRectF(2, 6, 6, 8), 1.5, 1.5);
        p.drawRoundedRect(QRectF(12, 6, 6, 8), 1.5, 1.5);
    } else if (name == "ic_delete") {
        p.drawLine(QPointF(4, 5.5), QPointF(16, 5.5));
        p.drawLine(QPointF(8, 5.5), QPointF(8, 3));
        p.drawLine(QPointF(8, 3), QPointF(12, 3));
        p.drawLine(QPointF(12, 3), QPointF(12, 5.5));
        p.drawRoundedRect(QRectF(5.5, 5.5, 9, 11.5), 1.5, 1.5);
    } else if (name == "ic_undo" || name == "ic_redo") {
        if (name == "ic_redo") {
            p.translate(side, 0);
            p.scale(-1, 1);
        }
        QPainterPath arc;
        arc.moveTo(5, 8);
        arc.lineTo(13, 8);
        arc.cubicTo(19, 8, 19, 16, 13, 16);
        arc.lineTo(8, 16);
        p.drawPath(arc);
        p.drawLine(QPointF(5, 8), QPointF(8.5, 4.5));
        p.drawLine(QPointF(5, 8), QPointF(8.5, 11.5));
    } else if (name == "ic_add") {
        p.drawLine(QPointF(10, 4), QPointF(10, 16));
        p.drawLine(QPointF(4, 10), QPointF(16, 10));
    } else if (name == "ic_export") {
        p.drawLine(QPointF(10, 3), QPointF(10, 12));
        p.drawLine(QPointF(10, 3), QPointF(6.5, 6.5));
        p.drawLine(QPointF(10, 3), QPointF(13.5, 6.5));
        p.drawLine(QPointF(4, 12), QPointF(4, 17));
        p.drawLine(QPointF(4, 17), QPointF(16, 17));
        p.drawLine(QPointF(16, 17), QPointF(16, 12));
    } else if (name == "ic_follow") {
        p.drawLine(QPointF(10, 2), QPointF(10, 18));
        p.drawLine(QPointF(3, 10), QPointF(7, 10));
        p.drawLine(QPointF(13, 10), QPointF(17, 10));
    } else {
        return QIcon();
    }
    p.end();
    return QIcon(pixmap);
}

void setButtonImage(QAbstractButton* button, const QString& name, const QColor& color) {
    button->setIcon(windowImage(name, color));
    button->setProperty("imageName", name);
}

QString buttonImage(const QAbstractButton* button) { return button->property("imageName").toString(); }

}  // namespace tamberlo
