// One row of the track list (56 px): the track's name, mute, solo ("只听") and delete buttons, a
// volume image and a volume slider (slider value = volume − 1, so 0 is unity), and a context menu
// with "复制音轨" (Ctrl+Shift+C) and "删除音轨" (Ctrl+Backspace). Mute, solo and volume are written
// into the track at once and never recorded as edits; copy, delete, solo and the volume bubble are
// handed to the window through the signals.
#pragma once

#include "TamberloMac/Model/TrackModel.h"
#include "Widgets/CustomSlider.h"
#include "Widgets/ElidedLabel.h"

#include <QPointF>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QTimer;

namespace tamberlo {

class MusicTrackView : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowHeight = 56;

    explicit MusicTrackView(QWidget* parent = nullptr);
    ~MusicTrackView() override;
    // A new row (the design's nib loader).
    static MusicTrackView* initNib(QWidget* parent = nullptr);

    std::shared_ptr<TrackModel> model() const { return model_; }
    // Binds the row: name, mute and solo button backgrounds, slider at volume − 1.
    void setModel(std::shared_ptr<TrackModel> track);

    // Actions of the buttons, the slider and the menu.
    void muteClick();
    void onlyPlayClick();
    void volumeChange(double value, CustomSlider::Phase phase);
    // Asks "确认删除音轨？" in a window-modal alert ("确定", "取消"); on "确定" stops playback
    // and emits deleteBlock.
    void deleteClick();
    // Stops playback and emits copyBlock with the track's duplicate.
    void copyClick();
    // Asks the player to re-apply mute, solo and gains 0.3 s later (several requests, one update).
    void updateSettings();
    void updatePlayer();

    // Parts, for the window and for tests.
    // The track's name, elided to the row's width with the whole name as its tooltip.
    ElidedLabel* nameLab() const { return nameLab_; }
    QPushButton* muteBtn() const { return muteBtn_; }
    QPushButton* onlyPlayBtn() const { return onlyPlayBtn_; }
    QPushButton* deleteBtn() const { return deleteBtn_; }
    QLabel* volumeImgV() const { return volumeImgV_; }
    CustomSlider* slider() const { return slider_; }
    QMenu* menu() const { return menu_; }
    QAction* copyAction() const { return copyAction_; }
    QAction* deleteAction() const { return deleteAction_; }
    // The delete alert while it is open, else null.
    QMessageBox* deleteAlert() const { return deleteAlert_; }

signals:
    // The user chose "复制音轨"; `copy` is the track's duplicate for the window to append.
    void copyBlock(std::shared_ptr<tamberlo::TrackModel> copy);
    // The user confirmed deleting the track (playback already stopped).
    void deleteBlock();
    // The solo button was clicked; the window toggles this track's solo and clears the others.
    void onlyPlayBlock();
    // The slider is being dragged: knob centre in the slider's parent, and the gain.
    void sliderDraggingBlock(QPointF point, float gain);
    // The slider was released (the track's volume is set).
    void sliderDragEndBlock();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onlyPlayTrackDidChange();
    void refreshButtons();
    void layoutRow();

    std::shared_ptr<TrackModel> model_;
    ElidedLabel* nameLab_ = nullptr;
    QPushButton* muteBtn_ = nullptr;
    QPushButton* onlyPlayBtn_ = nullptr;
    QPushButton* deleteBtn_ = nullptr;
    QLabel* volumeImgV_ = nullptr;
    CustomSlider* slider_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QPointer<QMessageBox> deleteAlert_;
    QTimer* updateTimer_ = nullptr;
    uint64_t onlyPlayObserver_ = 0;
};

}  // namespace tamberlo
