// The window's and the track rows' small images ("ic_play", "ic_stop", "ic_fade_in", ...), drawn in code so that the
// editor ships no image files. A button shows its image's name in the property "imageName".
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QAbstractButton;

namespace tamberlo {

// The image of that name in the colour, or a null icon for an unknown name.
QIcon windowImage(const QString& name, const QColor& color = Qt::white);
// Puts the image on the button and remembers its name (property "imageName").
void setButtonImage(QAbstractButton* button, const QString& name, const QColor& color = Qt::white);
// The name of the image the button shows.
QString buttonImage(const QAbstractButton* button);

}  // namespace tamberlo
