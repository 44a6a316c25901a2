#include "EditorUI/Views/MusicRulerView.h"

#include "EditorUI/Views/TimelineGeometry.h"
#include "Widgets/ViewHelper.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace tamberlo {

namespace {
const QColor tickColour(0x99, 0x99, 0x99);
constexpr int tickSpacing = 10;
}  // namespace

MusicRulerView::MusicRulerView(QWidget* parent) : QWidget(parent) {
    setFixedHeight(rulerHeight);
    setFont(pingfangSC(12));
}

QSize MusicRulerView::sizeHint() const { return QSize(2166, rulerHeight); }

QString MusicRulerView::label(int tick) {
    return QString::asprintf("%02d:%02d", tick / 20, (3 * tick) % 60);
}

// Ticks rise from the lower edge. The whole width is drawn whatever part is being repainted:
// a partial repaint (a scroll, an overlapping window) must not leave the exposed part bare.
void MusicRulerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    const int h = height();
    const int n = (width() - timeline::origin) / tickSpacing;
    for (int i = 0; i < n; ++i) {
        const int x = timeline::origin + tickSpacing * i;
        if (i % 10 == 0) {
            painter.fillRect(QRect(x - 1, h - 12, 2, 12), tickColour);
            // The label box (32 × 15) is centred on (x, 22 px above the lower edge), but never
            // starts left of the view: the first tick sits a few pixels in, and "00:00" stays whole.
            painter.setPen(tickColour);
            painter.drawText(QRectF(std::max(0, x - 16), h - 22 - 7.5, 32, 15), Qt::AlignCenter | Qt::TextDontClip, label(i));
        } else if (i % 5 == 0) {
            painter.fillRect(QRect(x, h - 8, 1, 8), tickColour);
        } else {
            painter.fillRect(QRect(x, h - 4, 1, 4), tickColour);
        }
    }
}

void MusicRulerView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) gesture_.press(event->position());
}

void MusicRulerView::mouseMoveEvent(QMouseEvent* event) { gesture_.move(event->position()); }

void MusicRulerView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (gesture_.release(event->position()) == PanGesture::Release::click) emit clicked(event->position().x());
}

}  // namespace tamberlo
