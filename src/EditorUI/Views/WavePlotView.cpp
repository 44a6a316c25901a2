#include "EditorUI/Views/WavePlotView.h"

#include "EditorUI/Views/WaveformStore.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ColorHelper.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace tamberlo {

namespace {

constexpr double badgeSize = 12.0;

void paintBadgeGlyph(QPainter& painter, const QRectF& box, WavePlotView::Badge badge) {
    painter.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const QRectF g = box.adjusted(2.5, 2.5, -2.5, -2.5);
    switch (badge) {
    case WavePlotView::Badge::fadeIn:
        painter.drawLine(g.bottomLeft(), g.topRight());
        painter.drawLine(g.bottomLeft(), g.bottomRight());
        break;
    case WavePlotView::Badge::fadeOut:
        painter.drawLine(g.topLeft(), g.bottomRight());
        painter.drawLine(g.bottomLeft(), g.bottomRight());
        break;
    case WavePlotView::Badge::mute: {
        QPainterPath body;
        body.moveTo(g.left(), g.top() + 2.5);
        body.lineTo(g.left() + 2, g.top() + 2.5);
        body.lineTo(g.left() + 4, g.top());
        body.lineTo(g.left() + 4, g.bottom());
        body.lineTo(g.left() + 2, g.bottom() - 2.5);
        body.lineTo(g.left(), g.bottom() - 2.5);
        body.closeSubpath();
        painter.setBrush(Qt::white);
        painter.drawPath(body);
        painter.drawLine(QPointF(g.right() - 2.5, g.top() + 2), QPointF(g.right(), g.bottom() - 2));
        painter.drawLine(QPointF(g.right(), g.top() + 2), QPointF(g.right() - 2.5, g.bottom() - 2));
        break;
    }
    }
}

}  // namespace

WavePlotView::WavePlotView(QRectF frame) : frame(frame), backgroundColor(second()) {}

bool WavePlotView::setMusic(std::shared_ptr<MusicModel> music) {
    music_ = std::move(music);
    const QString path = music_ && music_->file ? QString::fromStdString(music_->file->url().path()) : QString();
    if (path == filePath_ && (waveform_ || path.isEmpty())) return false;
    const bool changed = path != filePath_;
    filePath_ = path;
    setWaveform(WaveformStore::shared().waveform(path));
    return changed;
}

void WavePlotView::setWaveform(std::shared_ptr<const std::vector<float>> points) { waveform_ = std::move(points); }

std::vector<WavePlotView::Badge> WavePlotView::shownBadges() const {
    std::vector<Badge> shown;
    if (!music_) return shown;
    if (music_->fadeInTime > 0) shown.push_back(Badge::fadeIn);
    if (music_->fadeOutTime > 0) shown.push_back(Badge::fadeOut);
    if (music_->isMute) shown.push_back(Badge::mute);
    return shown;
}

std::vector<QRectF> WavePlotView::badgeRects() const {
    std::vector<QRectF> rects;
    const size_t count = shownBadges().size();
    for (size_t k = 0; k < count; ++k)
        rects.emplace_back(frame.left() + 4 + 18.0 * double(k), frame.top() + 2, badgeSize, badgeSize);
    return rects;
}

QString WavePlotView::badgeToolTip(Badge badge) {
    switch (badge) {
    case Badge::fadeIn: return QString::fromStdString(localized("淡入"));
    case Badge::fadeOut: return QString::fromStdString(localized("淡出"));
    case Badge::mute: return QString::fromStdString(localized("静音"));
    }
    return {};
}

// The filled, mirrored waveform, drawn column by device-pixel column into an image strip: each
// column shows the loudest point that falls in it, and the edge pixels take partial coverage.
// A noisy outline filled as a path costs tens of milliseconds per wide clip; the strip costs a
// write per pixel, so a lane repaints within a frame while a clip is dragged.
void WavePlotView::paintWaveform(QPainter& painter, const QRectF& exposed) const {
    if (!waveform_ || waveform_->empty() || frame.width() <= 0) return;
    const QRectF area = frame.intersected(exposed);
    if (area.isEmpty()) return;
    const double dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    // Whole device columns inside the clip; the body's antialiased edge covers the rest.
    const int first = int(std::ceil(area.left() * dpr));
    const int last = int(std::floor(area.right() * dpr));  // exclusive
    const int rows = int(std::lround(frame.height() * dpr));
    if (last <= first || rows <= 0) return;

    QImage strip(last - first, rows, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    const auto& points = *waveform_;
    const double n = double(points.size());
    const double left = frame.left() * dpr;
    const double width = frame.width() * dpr;
    const double mid = rows / 2.0;
    const double scale = mid - dpr;
    const double radius = cornerRadius * dpr;
    for (int px = first; px < last; ++px) {
        const size_t i0 = size_t(std::clamp((px - left) / width * n, 0.0, n - 1));
        const size_t i1 = std::max(i0 + 1, size_t(std::clamp((px + 1 - left) / width * n, 0.0, n)));
        float peak = 0;
        for (size_t i = i0; i < i1; ++i) peak = std::max(peak, std::fabs(points[i]));
        double extent = std::min(1.0, double(peak)) * scale;
        // Inside the rounded corners the waveform keeps clear of the cut-off corner.
        const double fromEnd = std::min(px + 0.5 - left, left + width - (px + 0.5));
        if (fromEnd < radius) {
            const double d = radius - fromEnd;
            extent = std::min(extent, mid - (radius - std::sqrt(std::max(0.0, radius * radius - d * d))));
        }
        if (extent <= 0) continue;
        const int column = px - first;
        for (int y = std::max(0, int(mid - extent)); y < std::min(rows, int(std::ceil(mid + extent))); ++y) {
            const double coverage = std::clamp(std::min(y + 1.0, mid + extent) - std::max(double(y), mid - extent), 0.0, 1.0);
            const uint v = uint(std::lround(coverage * 255));
            reinterpret_cast<QRgb*>(strip.scanLine(y))[column] = qRgba(int(v), int(v), int(v), int(v));
        }
    }
    strip.setDevicePixelRatio(dpr);
    painter.drawImage(QPointF(first / dpr, frame.top()), strip);
}

void WavePlotView::paint(QPainter& painter, const QRectF& exposed) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(frame, cornerRadius, cornerRadius);
    painter.fillPath(body, backgroundColor);

    paintWaveform(painter, exposed);

    const auto badges = shownBadges();
    const auto rects = badgeRects();
    for (size_t k = 0; k < badges.size(); ++k) {
        // Badges past the clip's end are cut off by it, as subviews of the clip would be.
        if (rects[k].left() >= frame.right()) break;
        painter.save();
        painter.setClipRect(frame.intersected(rects[k].adjusted(-1, -1, 1, 1)), Qt::IntersectClip);
        QPainterPath badge;
        badge.addRoundedRect(rects[k], 2.0, 2.0);
        painter.fillPath(badge, QColor(0, 0, 0, 77));
        paintBadgeGlyph(painter, rects[k], badges[k]);
        painter.restore();
    }
    painter.restore();
}

}  // namespace tamberlo
