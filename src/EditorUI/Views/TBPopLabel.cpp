#include "EditorUI/Views/TBPopLabel.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace tamberlo {

namespace {
constexpr int bubbleMinimumHeight = 35;
}

TBPopLabel::TBPopLabel(QWidget* parent) : TBPopLabel(QRect(), parent) {}

TBPopLabel::TBPopLabel(const QRect& frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame.x(), frame.y(), frame.width(), std::max(frame.height(), bubbleMinimumHeight));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    label_ = new QLabel(this);
    QFont font = label_->font();
    font.setPixelSize(11);
    label_->setFont(font);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label_->setPalette(palette);
    label_->setAlignment(Qt::AlignCenter);
    label_->setTextInteractionFlags(Qt::NoTextInteraction);
    layoutLabel();
}

void TBPopLabel::showAtPoint(QPointF point, const QString& text) {
    setText(text);
    show();
    raise();
    setArrowPoint(point);
}

void TBPopLabel::setText(const QString& text) {
    text_ = text;
    label_->setText(text);
    sizeToFitContent();
}

// The view's top edge goes 10 px below the point, where the arrow's tip hangs from it.
void TBPopLabel::setArrowPoint(QPointF point) {
    const QPointF stored(point.x(), point.y() + 10);
    if (stored == arrowPoint_) return;
    arrowPoint_ = stored;
    sizeToFitContent();
}

QSizeF TBPopLabel::getTextSize() const { return QFontMetricsF(label_->font()).size(Qt::TextSingleLine, text_); }

void TBPopLabel::sizeToFitContent() {
    const double w = getTextSize().width() + 10 + 4;
    setGeometry(int(std::lround(arrowPoint_.x() - w / 2)), int(std::lround(arrowPoint_.y())), int(std::lround(w)),
                height());
    layoutLabel();
    update();
}

void TBPopLabel::layoutLabel() {
    const int labelHeight = int(std::ceil(QFontMetricsF(label_->font()).height()));
    label_->setGeometry(4, height() - 8 - labelHeight, std::max(0, width() - 8), labelHeight);
}

void TBPopLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutLabel();
}

void TBPopLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double W = width();
    const double H = height();
    const double c = (W - 5) / 2;
    const double r = 4;
    QPainterPath path;
    path.moveTo(c - 4, 9);
    path.lineTo(c, 3);
    path.lineTo(c + 4, 9);
    path.arcTo(QRectF(W - 3 - 2 * r, 9, 2 * r, 2 * r), 90, -90);
    path.arcTo(QRectF(W - 3 - 2 * r, H - 3 - 2 * r, 2 * r, 2 * r), 0, -90);
    path.arcTo(QRectF(3, H - 3 - 2 * r, 2 * r, 2 * r), 270, -90);
    path.arcTo(QRectF(3, 9, 2 * r, 2 * r), 180, -90);
    path.closeSubpath();
    painter.setPen(QPen(Qt::white, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPath(path);
}

}  // namespace tamberlo
