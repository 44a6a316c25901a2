// A lane (48 px high) showing one track's clips on the timeline. A click selects a clip; a drag
// moves it horizontally without passing its neighbours or the lane's start, shows the snap line
// (alignBlock) when its start comes within 0.5 s of another clip's start or end in the current
// history snapshot, and at the end emits updateTrack and asks the player to update.
#pragma once

#include "EditorUI/Views/WavePlotView.h"
#include "TamberloMac/Model/TrackModel.h"
#include "Widgets/PanGesture.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace tamberlo {

class MusicWaveView : public QWidget {
    Q_OBJECT
public:
    static constexpr int laneHeight = 48;

    explicit MusicWaveView(QWidget* parent = nullptr);
    ~MusicWaveView() override;

    std::shared_ptr<TrackModel> model() const { return model_; }
    // Shows the track: re-positions the clip views when the track holds the same clips (by
    // identity) as last time, else rebuilds them. A null track empties the lane.
    void setModel(std::shared_ptr<TrackModel> track);
    // Re-positions and re-binds every clip view from the track.
    void updateMusics();

    // Selects the clip of clip view `index`.
    void waveDidClick(int index);
    // One event of a drag of clip view `index`: `translation` is the pointer's movement since the
    // previous event.
    void waveDidPan(int index, QPointF translation, GestureState state);

    // The clip views in the order of the track's clips.
    const std::vector<std::unique_ptr<WavePlotView>>& plots() const { return plots_; }
    // The clip view under a point of the lane, or -1.
    int plotIndexAt(QPointF point) const;
    // Left edge of the dragged clip view at its last placement.
    double lastAlignX() const { return lastAlignX_; }

    QSize sizeHint() const override;

signals:
    // A drag ended: the window re-sizes the timeline and records the edit.
    void updateTrack();
    // Show (or hide) the snap line at x pixels of the timeline.
    void alignBlock(bool show, double x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();
    void selectedMusicDidChange();
    void waveformLoaded(const QString& path);
    void updateColours();
    QRect dirtyRect(const QRectF& frame) const;

    std::shared_ptr<TrackModel> model_;
    std::vector<std::shared_ptr<MusicModel>> lastMusics_;
    std::vector<std::unique_ptr<WavePlotView>> plots_;
    double lastAlignX_ = 0;
    PanGesture pan_;
    int panIndex_ = -1;
    uint64_t selectionObserver_ = 0;
};

}  // namespace tamberlo
