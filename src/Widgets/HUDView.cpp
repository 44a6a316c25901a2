#include "Widgets/HUDView.h"

#include "Widgets/ColorHelper.h"
#include "Widgets/ViewHelper.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>
#include <QtMath>

namespace tamberlo {

namespace {

struct Overlay {
    QPointer<HUDView> view;
    HUDView::HostProvider host;
    bool installed = false;
};

Overlay& overlay() {
    static Overlay o;
    return o;
}

constexpr double panelRadius = 10.0;
constexpr double iconSize = 36.0;

void removeCurrent() {
    if (auto* view = overlay().view.data()) {
        view->hide();
        view->deleteLater();
    }
    overlay().view = nullptr;
}

void follow(const std::optional<HUD::Message>& message) {
    removeCurrent();
    if (!message) return;
    QWidget* host = overlay().host ? overlay().host() : HUDView::defaultHost();
    if (!host) return;
    auto* view = new HUDView(*message, host);
    view->show();
    view->raise();
    overlay().view = view;
}

}  // namespace

void HUDView::install(HostProvider host) {
    overlay().host = std::move(host);
    overlay().installed = true;
    HUD::setListener(follow);
    // A message already on screen when the view is installed is drawn at once.
    if (auto message = HUD::current()) follow(message);
}

void HUDView::uninstall() {
    HUD::setListener({});
    overlay().installed = false;
    overlay().host = {};
    removeCurrent();
}

HUDView* HUDView::current() { return overlay().view.data(); }

QWidget* HUDView::defaultHost() {
    if (auto* modal = QApplication::activeModalWidget()) return modal->window();
    if (auto* active = QApplication::activeWindow()) return active;
    const auto windows = QApplication::topLevelWidgets();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        QWidget* w = *it;
        if (w->isVisible() && w->isWindow() && !qobject_cast<HUDView*>(w) && w->windowType() != Qt::ToolTip &&
            w->windowType() != Qt::Popup)
            return w;
    }
    return nullptr;
}

HUDView::HUDView(const HUD::Message& message, QWidget* host) : QWidget(host), message_(message) {
    setGeometry(host->rect());
    setFont(pingfangSC(14));
    host->installEventFilter(this);
    if (message_.kind == HUD::Kind::progress) spinnerTimer_ = startTimer(80);
}

HUDView::~HUDView() {
    if (parentWidget()) parentWidget()->removeEventFilter(this);
}

QRectF HUDView::panelRect() const {
    const double textWidth = widthWithFont(QString::fromStdString(message_.status), font());
    const double w = std::max(120.0, textWidth + 48);
    const double h = 110.0;
    return QRectF((width() - w) / 2, (height() - h) / 2, w, h);
}

// The overlay keeps covering its window when the window is resized.
bool HUDView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void HUDView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != spinnerTimer_) return QWidget::timerEvent(event);
    spinnerStep_ = (spinnerStep_ + 1) % 12;
    update(panelRect().toAlignedRect());
}

void HUDView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = panelRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xF7, 0xF7, 0xF7));
    painter.drawRoundedRect(panel, panelRadius, panelRadius);

    const QPointF centre(panel.center().x(), panel.top() + 20 + iconSize / 2);
    const QColor ink(0x33, 0x33, 0x33);
    switch (message_.kind) {
    case HUD::Kind::progress:
        // Twelve spokes, the leading one darkest, turning with the timer.
        for (int i = 0; i < 12; ++i) {
            const int age = (spinnerStep_ - i + 12) % 12;
            QColor c = ink;
            c.setAlphaF(1.0 - age / 13.0);
            painter.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
            const double angle = i * M_PI / 6;
            const QPointF dir(std::sin(angle), -std::cos(angle));
            painter.drawLine(centre + dir * 9, centre + dir * 16);
        }
        break;
    case HUD::Kind::info: {
        painter.setPen(QPen(ink, 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, iconSize / 2 - 2, iconSize / 2 - 2);
        painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawPoint(centre + QPointF(0, -8));
        painter.drawLine(centre + QPointF(0, -2), centre + QPointF(0, 9));
        break;
    }
    case HUD::Kind::success: {
        painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        QPainterPath check;
        check.moveTo(centre + QPointF(-13, 1));
        check.lineTo(centre + QPointF(-4, 10));
        check.lineTo(centre + QPointF(14, -9));
        painter.drawPath(check);
        break;
    }
    case HUD::Kind::error:
        painter.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre + QPointF(-11, -11), centre + QPointF(11, 11));
        painter.drawLine(centre + QPointF(11, -11), centre + QPointF(-11, 11));
        break;
    }

    painter.setPen(ink);
    painter.setFont(font());
    const QRectF textBox(panel.left() + 8, panel.top() + 20 + iconSize + 10, panel.width() - 16, 24);
    painter.drawText(textBox, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                     QString::fromStdString(message_.status));
}

}  // namespace tamberlo
