#include "EditorUI/Views/MusicWaveView.h"

#include "EditorUI/Views/TimelineGeometry.h"
#include "EditorUI/Views/WaveformStore.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Playback/Player.h"
#include "Widgets/ColorHelper.h"
#include "platform/foundation/NotificationCenter.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace tamberlo {

namespace {

constexpr double snapDistance = 0.5;     // seconds
constexpr double snapStillness = 0.15;   // pixels

bool sameClip(const std::shared_ptr<MusicModel>& a, const std::shared_ptr<MusicModel>& b) {
    return a && b && a->identify == b->identify;
}

// Where a clip is drawn in a lane `height` px high.
QRectF clipFrame(const MusicModel& clip, double height) {
    return QRectF(timeline::xForSeconds(clip.startTime), 0, timeline::widthForSeconds(clip.duration()), height);
}

}  // namespace

MusicWaveView::MusicWaveView(QWidget* parent) : QWidget(parent) {
    resize(width(), laneHeight);
    setMouseTracking(false);
    selectionObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        NotifyManager::SelectedMusicDidChange(), [this](const platform::Notification&) { selectedMusicDidChange(); });
    connect(&WaveformStore::shared(), &WaveformStore::loaded, this, &MusicWaveView::waveformLoaded);
}

MusicWaveView::~MusicWaveView() { platform::NotificationCenter::defaultCenter().removeObserver(selectionObserver_); }

QSize MusicWaveView::sizeHint() const { return QSize(2166, laneHeight); }

void MusicWaveView::setModel(std::shared_ptr<TrackModel> track) {
    model_ = std::move(track);
    const auto& musics = model_ ? model_->musics : std::vector<std::shared_ptr<MusicModel>>{};
    bool unchanged = lastMusics_.size() == musics.size() && plots_.size() == musics.size();
    for (size_t i = 0; unchanged && i < lastMusics_.size(); ++i) {
        unchanged = std::any_of(musics.begin(), musics.end(),
                                [&](const auto& clip) { return clip && lastMusics_[i] && clip->identify == lastMusics_[i]->identify; });
    }
    lastMusics_ = musics;
    if (unchanged)
        updateMusics();
    else
        rebuild();
}

void MusicWaveView::rebuild() {
    plots_.clear();
    if (model_) {
        const auto selected = Player::shared().selectMusic();
        for (size_t i = 0; i < model_->musics.size(); ++i) {
            const auto& clip = model_->musics[i];
            auto plot = std::make_unique<WavePlotView>(
                clipFrame(*clip, height()));
            plot->viewID = int(i);
            plot->backgroundColor = sameClip(clip, selected) ? primary() : second();
            plot->setMusic(clip);
            plots_.push_back(std::move(plot));
        }
    }
    update();
}

void MusicWaveView::updateMusics() {
    if (!model_) return;
    if (plots_.size() != model_->musics.size()) return rebuild();
    for (size_t i = 0; i < model_->musics.size(); ++i) {
        const auto& clip = model_->musics[i];
        plots_[i]->frame = clipFrame(*clip, height());
        plots_[i]->viewID = int(i);
        plots_[i]->setMusic(clip);
    }
    update();
}

int MusicWaveView::plotIndexAt(QPointF point) const {
    for (size_t i = plots_.size(); i-- > 0;)
        if (plots_[i]->frame.contains(point)) return int(i);
    return -1;
}

QRect MusicWaveView::dirtyRect(const QRectF& frame) const { return frame.toAlignedRect().adjusted(-2, 0, 2, 0); }

void MusicWaveView::waveDidClick(int index) {
    if (!model_ || index < 0 || size_t(index) >= plots_.size() || size_t(index) >= model_->musics.size()) return;
    Player::shared().setSelectMusic(model_->musics[size_t(index)]);
}

void MusicWaveView::waveDidPan(int index, QPointF translation, GestureState state) {
    if (!model_ || index < 0 || size_t(index) >= plots_.size() || size_t(index) >= model_->musics.size()) return;
    WavePlotView& v = *plots_[size_t(index)];
    const QRectF before = v.frame;
    const double w = v.frame.width();

    // 1-2: follow the pointer, but not past the lane's start or end nor into a neighbour.
    double x = translation.x() + v.frame.left();
    x = std::max(double(timeline::origin), std::min(x, width() - w));
    for (size_t j = 0; j < plots_.size(); ++j) {
        const QRectF& other = plots_[j]->frame;
        if (int(j) == index - 1 && x <= other.right()) x = other.right();
        if (int(j) == index + 1 && x + w >= other.left()) x = std::min(x, other.left() - w);
        const QColor colour = int(j) == index ? primary() : second();
        if (plots_[j]->backgroundColor != colour) {
            plots_[j]->backgroundColor = colour;
            update(dirtyRect(other));
        }
    }

    // 3-4: the last snapshot's clip edges within 0.5 s of this clip's start; a later track wins.
    const auto clip = model_->musics[size_t(index)];
    bool found = false;
    double snapX = 0;
    for (const auto& track : RecordSequence::shared().displays()) {
        if (!track) continue;
        for (const auto& c : track->musics) {
            if (!c || c->identify == clip->identify) continue;
            if (std::fabs(clip->startTime - c->startTime) <= snapDistance) {
                snapX = timeline::xForSeconds(c->startTime);
                found = true;
                break;
            }
            const double end = c->startTime + c->duration();
            if (std::fabs(clip->startTime - end) <= snapDistance) {
                snapX = timeline::xForSeconds(end);
                found = true;
                break;
            }
        }
    }
    emit alignBlock(found, snapX);

    // 6: the view jumps to the snap position once the pointer holds still.
    v.frame.moveLeft(found && std::fabs(lastAlignX_ - x) < snapStillness ? snapX : x);
    lastAlignX_ = v.frame.left();
    update(dirtyRect(before).united(dirtyRect(v.frame)));

    // 7: the clip keeps the pointer's position, not the snap position.
    clip->startTime = timeline::secondsAtX(x);
    Player::shared().setSelectMusic(clip);

    if (state != GestureState::began && state != GestureState::changed) {
        emit alignBlock(false, snapX);
        emit updateTrack();
        Player::shared().updatePlayer();
    }
}

void MusicWaveView::selectedMusicDidChange() {
    const auto selected = Player::shared().selectMusic();
    for (auto& plot : plots_) {
        const QColor colour = sameClip(plot->music(), selected) ? primary() : second();
        if (plot->backgroundColor == colour) continue;
        plot->backgroundColor = colour;
        update(dirtyRect(plot->frame));
    }
}

void MusicWaveView::waveformLoaded(const QString& path) {
    for (auto& plot : plots_) {
        if (plot->filePath() != path) continue;
        plot->setWaveform(WaveformStore::shared().waveform(path));
        update(dirtyRect(plot->frame));
    }
}

void MusicWaveView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRectF exposed = QRectF(event->rect()).adjusted(-1, -1, 1, 1);
    for (const auto& plot : plots_)
        if (plot->frame.intersects(exposed)) plot->paint(painter, exposed);
}

void MusicWaveView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    for (auto& plot : plots_) plot->frame.setHeight(height());
}

void MusicWaveView::mousePressEvent(QMouseEvent* event) {
    const int index = event->button() == Qt::LeftButton ? plotIndexAt(event->position()) : -1;
    if (index < 0) return QWidget::mousePressEvent(event);
    panIndex_ = index;
    pan_.press(event->position());
}

void MusicWaveView::mouseMoveEvent(QMouseEvent* event) {
    if (panIndex_ < 0) return QWidget::mouseMoveEvent(event);
    if (auto state = pan_.move(event->position())) waveDidPan(panIndex_, pan_.translation(), *state);
}

void MusicWaveView::mouseReleaseEvent(QMouseEvent* event) {
    if (panIndex_ < 0 || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    const int index = panIndex_;
    panIndex_ = -1;
    switch (pan_.release(event->position())) {
    case PanGesture::Release::click: waveDidClick(index); break;
    case PanGesture::Release::panEnded: waveDidPan(index, pan_.translation(), GestureState::ended); break;
    case PanGesture::Release::none: break;
    }
}

bool MusicWaveView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        for (const auto& plot : plots_) {
            const auto badges = plot->shownBadges();
            const auto rects = plot->badgeRects();
            for (size_t k = 0; k < badges.size(); ++k) {
                if (rects[k].contains(help->pos()) && plot->frame.contains(help->pos())) {
                    QToolTip::showText(help->globalPos(), WavePlotView::badgeToolTip(badges[k]), this);
                    return true;
                }
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

}  // namespace tamberlo
