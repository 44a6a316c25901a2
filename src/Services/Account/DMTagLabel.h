// A tag: white text on a bar of the tag colour whose right end is a half-disc.
#pragma once

#include <QColor>
#include <QLabel>

namespace tamberlo {

class DMTagLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // Keeps the colour as the tag colour (the label's own background stays untouched).
    void setBackgroundColor(const QColor& color);
    QColor bgColor() const { return bgColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor bgColor_;
};

}  // namespace tamberlo
