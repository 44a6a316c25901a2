// One clip in a lane: its frame (x = start × 10/3, width = duration × 10/3, the lane's height),
// its colour ("FC2C5C" selected, "3B051B" otherwise, corner radius 6), its white mirrored
// waveform and its 12 × 12 badges (fade-in, fade-out, mute) at x = 4 + 18k, 2 px from the top.
// The lane owns and paints these; they are not widgets so that frames keep fractional pixels.
#pragma once

#include "TamberloMac/Model/MusicModel.h"

#include <QColor>
#include <QRectF>
#include <QString>

#include <memory>
#include <vector>

class QPainter;

namespace tamberlo {

class WavePlotView {
public:
    enum class Badge { fadeIn, fadeOut, mute };

    explicit WavePlotView(QRectF frame = {});

    // The clip's frame in the lane.
    QRectF frame;
    // The clip's index in its track's list.
    int viewID = 0;
    QColor backgroundColor;
    double cornerRadius = 6.0;

    std::shared_ptr<MusicModel> music() const { return music_; }
    // Binds the clip; when its file's path differs from the one shown, the waveform is asked
    // for again (WaveformStore). Returns whether the path changed.
    bool setMusic(std::shared_ptr<MusicModel> music);
    // The path whose waveform is shown.
    const QString& filePath() const { return filePath_; }
    // The waveform points (first channel), or null while not loaded.
    std::shared_ptr<const std::vector<float>> waveform() const { return waveform_; }
    void setWaveform(std::shared_ptr<const std::vector<float>> points);

    // The shown badges in order, and their rectangles in the lane.
    std::vector<Badge> shownBadges() const;
    std::vector<QRectF> badgeRects() const;
    // Tooltip of a badge: "淡入", "淡出", "静音".
    static QString badgeToolTip(Badge badge);

    // Paints the part of the clip inside `exposed` (the painter is in lane coordinates).
    void paint(QPainter& painter, const QRectF& exposed) const;
    void paint(QPainter& painter) const { paint(painter, frame); }

private:
    void paintWaveform(QPainter& painter, const QRectF& exposed) const;

    std::shared_ptr<MusicModel> music_;
    QString filePath_;
    std::shared_ptr<const std::vector<float>> waveform_;
};

}  // namespace tamberlo
