#include "Widgets/SpaceButtonCell.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetricsF>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace tamberlo {

SpaceButtonCell::SpaceButtonCell(QAbstractButton* button) : QObject(button) {
    if (button) button->installEventFilter(this);
}

QRectF SpaceButtonCell::imageFrame(const QRectF& frame, double width, double titleWidth, bool hasTitle) const {
    if (!hasTitle) return frame;
    QRectF moved = frame;
    moved.moveLeft((width - titleWidth - frame.width() - horizontalImagePadding) * 0.5);
    return moved;
}

QRectF SpaceButtonCell::titleFrame(const QRectF& frame, double width, double imageWidth, bool hasImage) const {
    if (!hasImage) return frame;
    QRectF moved = frame;
    moved.moveLeft((width - frame.width() - imageWidth - horizontalImagePadding) * 0.5 + imageWidth +
                   horizontalImagePadding);
    return moved;
}

bool SpaceButtonCell::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || event->type() != QEvent::Paint) return false;
    paint(*button);
    return true;
}

void SpaceButtonCell::paint(QAbstractButton& button) const {
    QStylePainter painter(&button);
    QStyleOptionButton option;
    option.initFrom(&button);
    if (const auto* push = qobject_cast<QPushButton*>(&button); push && push->isFlat())
        option.features |= QStyleOptionButton::Flat;
    if (button.isDown()) option.state |= QStyle::State_Sunken;
    if (button.isChecked()) option.state |= QStyle::State_On;
    // The style draws the background only.
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const double width = button.width();
    const QString title = button.text();
    const QFontMetricsF metrics(button.font());
    const double titleWidth = title.isEmpty() ? 0 : metrics.horizontalAdvance(title);
    const QSize iconSize = button.icon().isNull() ? QSize() : button.iconSize();
    const QRectF bounds = button.rect();

    if (!iconSize.isEmpty()) {
        const QRectF given(0, (bounds.height() - iconSize.height()) / 2.0, iconSize.width(), iconSize.height());
        const QRectF image = imageFrame(given, width, titleWidth, !title.isEmpty());
        const QIcon::Mode mode = button.isEnabled() ? QIcon::Normal : QIcon::Disabled;
        painter.drawPixmap(image.topLeft(), button.icon().pixmap(iconSize, button.devicePixelRatioF(), mode));
    }
    if (!title.isEmpty()) {
        const QRectF given(0, 0, titleWidth, bounds.height());
        const QRectF frame = titleFrame(given, width, iconSize.isEmpty() ? 0 : iconSize.width(), !iconSize.isEmpty());
        painter.setPen(option.palette.color(button.isEnabled() ? QPalette::Active : QPalette::Disabled,
                                            QPalette::ButtonText));
        painter.setFont(button.font());
        painter.drawText(frame, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    }
}

}  // namespace tamberlo
