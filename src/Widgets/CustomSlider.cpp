#include "Widgets/CustomSlider.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace tamberlo {

namespace {
constexpr double knobRadius = 6.0;
constexpr double barHeight = 5.0;
}  // namespace

CustomSlider::CustomSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setMinimumHeight(20);
}

void CustomSlider::setRange(double minValue, double maxValue) {
    minValue_ = minValue;
    maxValue_ = std::max(maxValue, minValue);
    setValue(value_);
}

void CustomSlider::setValue(double value) {
    value_ = std::clamp(value, minValue_, maxValue_);
    update();
}

QPointF CustomSlider::tickPosition() const {
    const double span = maxValue_ - minValue_;
    const double fraction = span > 0 ? (value_ - minValue_) / span : 0;
    return QPointF(x() + 6 + 3 + fraction * (width() - 12), y() + height() / 2.0);
}

QSize CustomSlider::sizeHint() const { return QSize(100, 20); }

double CustomSlider::valueAt(double x) const {
    const double track = std::max(1, width() - 12);
    const double fraction = std::clamp((x - 9) / track, 0.0, 1.0);
    return minValue_ + fraction * (maxValue_ - minValue_);
}

void CustomSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double midY = height() / 2.0;
    const QRectF bar(6, midY - barHeight / 2, std::max(0, width() - 12), barHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x99, 0x99, 0x99));
    painter.drawRoundedRect(bar, 2.5, 2.5);

    const QPointF knob = tickPosition() - QPointF(x(), y());
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 0.5));
    painter.drawEllipse(knob, knobRadius, knobRadius);
}

void CustomSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressed_ = true;
    setValue(valueAt(event->position().x()));
    emit volumeChange(value_, Phase::down);
}

void CustomSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    setValue(valueAt(event->position().x()));
    emit volumeChange(value_, Phase::dragged);
}

void CustomSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressed_ || event->button() != Qt::LeftButton) return;
    pressed_ = false;
    setValue(valueAt(event->position().x()));
    emit volumeChange(value_, Phase::up);
}

}  // namespace tamberlo
