// A horizontal slider over a real-valued range, drawn as a thin rounded bar (radius 2.5, "999999")
// with a round white knob. It tells which mouse phase moved it, since the editor acts on the
// value only when the knob is released.
#pragma once

#include <QPointF>
#include <QWidget>

namespace tamberlo {

class CustomSlider : public QWidget {
    Q_OBJECT
public:
    // The mouse phase that produced a value change; `none` for programmatic changes.
    enum class Phase { down, dragged, up, none };
    Q_ENUM(Phase)

    explicit CustomSlider(QWidget* parent = nullptr);

    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    void setRange(double minValue, double maxValue);
    double value() const { return value_; }
    // Sets the value (clamped to the range) without emitting anything.
    void setValue(double value);

    // The knob centre in the parent's coordinates: x = frame x + 9 + (value − min) × (width − 12)
    // / (max − min), y = frame y + height / 2.
    QPointF tickPosition() const;

    QSize sizeHint() const override;

signals:
    // Emitted on every mouse press, drag and release, with the value after the event.
    void volumeChange(double value, tamberlo::CustomSlider::Phase phase);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double valueAt(double x) const;
    double minValue_ = -1.0;
    double maxValue_ = 1.0;
    double value_ = 0.0;
    bool pressed_ = false;
};

}  // namespace tamberlo
