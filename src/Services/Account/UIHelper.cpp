#include "Services/Account/UIHelper.h"

#include "Widgets/ColorHelper.h"

#include <QAbstractButton>
#include <QPalette>

namespace tamberlo {

std::optional<QColor> UIHelper::hexColor(const QString& text) { return hexStr(text); }

void UIHelper::setButton(QAbstractButton* button, const QColor& titleColor) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, titleColor);
    palette.setColor(QPalette::WindowText, titleColor);
    button->setPalette(palette);
    button->update();
}

}  // namespace tamberlo
