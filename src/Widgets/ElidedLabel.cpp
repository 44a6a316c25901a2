#include "Widgets/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>

namespace tamberlo {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(fullText_) + margins.left() + margins.right() + 1, QLabel::sizeHint().height()};
}

// A layout may give the label any width: the text is elided to it.
QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

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
