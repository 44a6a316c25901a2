// The window's scroll views: small scrollers filled with "23252A" whose knob is a "555555" rounded
// rectangle (radius 5); when both scrollers show, the corner square between them is red.
#pragma once

#include <QScrollArea>
#include <QScrollBar>

namespace tamberlo {

class CustomScroller : public QScrollBar {
    Q_OBJECT
public:
    static constexpr int thickness = 11;

    explicit CustomScroller(Qt::Orientation orientation, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    // The knob's rectangle.
    QRect knobRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void drawKnob(QPainter& painter);
};

class CustomScrollView : public QScrollArea {
    Q_OBJECT
public:
    explicit CustomScrollView(QWidget* parent = nullptr);
};

}  // namespace tamberlo
