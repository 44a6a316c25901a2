#include "Widgets/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>

namespace tamberlo {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    // The label takes the width its layout gives it, never the width of its text.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setTextFormat(Qt::PlainText);
}

void ElidedLabel::setFullText(const QString& text) {
    fullText_ = text;
    setToolTip(text);
    elide();
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) elide();
}

void ElidedLabel::elide() {
    // Shaping may give a glyph a pixel more than the metrics say: keep one pixel spare.
    const int room = std::max(0, contentsRect().width() - 1);
    setText(fontMetrics().elidedText(fullText_, Qt::ElideRight, room));
}

}  // namespace tamberlo
