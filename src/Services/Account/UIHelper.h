// Colours from hex text and tab-title colours for the account windows.
#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QAbstractButton;

namespace tamberlo {

class UIHelper {
public:
    // "RRGGBB" opaque, "AARRGGBB" alpha first; any other text gives none.
    static std::optional<QColor> hexColor(const QString& text);
    // Colours the button's title.
    static void setButton(QAbstractButton* button, const QColor& titleColor);
};

}  // namespace tamberlo
