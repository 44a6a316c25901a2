// The title of a pop-up button (QComboBox) drawn in a colour of its own. The cell paints the pop-up
// it is made for when a colour is set; without one the pop-up paints itself as always.
//
//   auto* cell = new ColorPopupButtonCell(popUp);   // owned by the pop-up
//   cell->textColor = Qt::white;
#pragma once

#include <QColor>
#include <QObject>

#include <optional>

class QComboBox;

namespace tamberlo {

class ColorPopupButtonCell : public QObject {
    Q_OBJECT
public:
    // Paints `popUp` from now on (a free cell without one).
    explicit ColorPopupButtonCell(QComboBox* popUp);

    // The title's colour; none = the style's own.
    std::optional<QColor> textColor;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tamberlo
