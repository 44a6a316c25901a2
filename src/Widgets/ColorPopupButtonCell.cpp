#include "Widgets/ColorPopupButtonCell.h"

#include <QComboBox>
#include <QEvent>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace tamberlo {

ColorPopupButtonCell::ColorPopupButtonCell(QComboBox* popUp) : QObject(popUp) {
    if (popUp) popUp->installEventFilter(this);
}

bool ColorPopupButtonCell::eventFilter(QObject* watched, QEvent* event) {
    auto* popUp = qobject_cast<QComboBox*>(watched);
    if (!popUp || !textColor || event->type() != QEvent::Paint) return false;
    QStylePainter painter(popUp);
    QStyleOptionComboBox option;
    option.initFrom(popUp);
    option.editable = popUp->isEditable();
    option.frame = popUp->hasFrame();
    option.subControls = QStyle::SC_All;
    option.currentText = popUp->currentText();
    option.currentIcon = popUp->itemIcon(popUp->currentIndex());
    option.iconSize = popUp->iconSize();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    // The title: the whole text in the cell's colour.
    for (const auto role : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText})
        option.palette.setColor(role, *textColor);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    return true;
}

}  // namespace tamberlo
