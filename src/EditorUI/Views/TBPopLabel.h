// The bubble showing a value (the volume while a slider is dragged): a white rounded body with an
// arrow on top pointing at `arrowPoint`; it hangs 10 px below that point, text width + 14 wide and
// at least 35 px high.
#pragma once

#include <QPointF>
#include <QSizeF>
#include <QWidget>

class QLabel;

namespace tamberlo {

class TBPopLabel : public QWidget {
    Q_OBJECT
public:
    explicit TBPopLabel(QWidget* parent = nullptr);
    TBPopLabel(const QRect& frame, QWidget* parent);

    // Sets the text, shows the bubble and points it at `point` (parent coordinates).
    void showAtPoint(QPointF point, const QString& text);
    QString text() const { return text_; }
    void setText(const QString& text);
    // The point the arrow touches, in the parent's coordinates.
    QPointF arrowPoint() const { return arrowPoint_; }
    // Stores (x, y + 10) (the bubble's top edge) and re-sizes when it changed.
    void setArrowPoint(QPointF point);
    // Width = text width + 14, centred on the arrow point; then layoutLabel.
    void sizeToFitContent();
    QSizeF getTextSize() const;
    // The label 4 px inside the left and right edges, its bottom 8 px above the bubble's bottom.
    void layoutLabel();
    QLabel* label() const { return label_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString text_;
    QLabel* label_ = nullptr;
    QPointF arrowPoint_;
};

}  // namespace tamberlo
