// The editor window's content: the toolbar (add, export, play all, play the selected track, master
// volume, playhead clock), the track list beside the lanes with the top ruler and playhead, and
// the bottom editing lane of the selected track with its clip fields and clip commands. It owns
// the document (an EditorDocument), turns every button, shortcut, drop and gesture into an edit,
// a history snapshot or a playback command, keeps the timeline (x = seconds × 10/3, at least
// 650 s) and the playhead in step, and opens the export sheet.
#pragma once

#include "EditorUI/Export/ExportSheet.h"
#include "TamberloMac/Document/EditorDocument.h"
#include "Widgets/CustomSlider.h"
#include "Widgets/ElidedLabel.h"
#include "Widgets/PanGesture.h"
#include "platform/foundation/URL.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTimer;

namespace tamberlo {

class DragView;
class HeaderControlView;
class MusicRulerView;
class MusicTrackView;
class MusicWaveView;
class StyledView;
class TBPopLabel;

class MainController : public QWidget {
    Q_OBJECT
public:
    // Runs an open panel (files only, several at once, audiovisual content) on `window`;
    // `completion` gets the chosen files (empty when cancelled). Tests replace it; the default is
    // a window-modal QFileDialog.
    using OpenPanelHook = std::function<void(QWidget* window, std::function<void(std::vector<platform::URL>)> completion)>;
    static OpenPanelHook& openPanelHook();
    static void runDefaultOpenPanel(QWidget* window, std::function<void(std::vector<platform::URL>)> completion);
    // Seconds before the rating banner appears (once); tests shorten it.
    static double& rateBannerDelay();

    explicit MainController(QWidget* parent = nullptr);
    ~MainController() override;

    // --- The document and the window's state ---
    EditorDocument& document() { return document_; }
    const std::vector<std::shared_ptr<TrackModel>>& tracks() const { return document_.tracks; }
    std::shared_ptr<TrackModel> selectedTrack() const { return document_.selectedTrack; }
    bool isPlayAll() const { return document_.isPlayAll; }
    // Playback was running when a ruler click or a handle drag began, and resumes when it ends.
    bool continuePlay() const { return continuePlay_; }
    double playStart() const { return playStart_; }
    double maxDuration() const { return maxDuration_; }
    // A clip is selected and the selected track holds it.
    bool canOperate() const { return document_.canOperate(); }

    // --- Commands ---
    void addMusicClick();
    void importMusics(const std::vector<platform::URL>& urls);
    void exportClick();
    // The account button: asks the account state for the signed-in user; none opens the sign-in window.
    void accountClick();
    void playClick();
    void singlePlayClick();
    void muteClick();
    void splitClick();
    void deleteClick();
    void undoClick();
    void reUndoClick();
    void selectedMusicFadeInClick();
    void selectedMusicFadeOutClick();
    void volumeChanged(double value, CustomSlider::Phase phase);
    void seekPlayControlClick();
    void rateClick();
    void closeRateClick();

    // --- Timeline and selection ---
    void calculateMaxDuration();
    void updateTracksContentSize();
    void updateMusics();
    void reloadWaves();
    void updateTopTrack();
    void updateBottomTrack();
    void updateSelectMusic();
    // Moves the playhead: handles, clock and the player's start.
    void setPlayStart(double seconds);
    // A click on either ruler at x pixels.
    void rulerDidClick(double x);
    // One event of a drag of a playhead handle (`pointInHandle` in the handle's coordinates).
    void controlDidPan(HeaderControlView* control, QPointF pointInHandle, GestureState state);
    // The track list's selection: a row index, or -1 for none.
    void tableViewSelectionDidChange(int row);
    int selectedRow() const { return selectedRow_; }
    // The mark beside the row of the selected track (hidden without one).
    QWidget* selectionMark() const;

    // --- Views, for the window controller and tests ---
    QWidget* rateView() const { return rateView_; }
    QLabel* rateLab() const { return rateLab_; }
    QPushButton* rateBtn() const { return rateBtn_; }
    DragView* audioTracksView() const { return audioTracksView_; }
    DragView* audioWavesView() const { return audioWavesView_; }
    QScrollArea* trackTableView() const { return trackTableView_; }
    QScrollArea* wavesClipView() const { return wavesClipView_; }
    QWidget* wavesContainView() const { return wavesContainView_; }
    QWidget* wavesView() const { return wavesView_; }
    QScrollArea* bottomClipView() const { return bottomClipView_; }
    QWidget* bottomView() const { return bottomView_; }
    MusicWaveView* mainWaveView() const { return mainWaveView_; }
    MusicRulerView* topRulerView() const { return topRulerView_; }
    MusicRulerView* bottomRulerView() const { return bottomRulerView_; }
    HeaderControlView* topControl() const { return topControl_; }
    HeaderControlView* bottomControl() const { return bottomControl_; }
    StyledView* alignLine() const { return alignLine_; }
    TBPopLabel* volumeTipLabel() const { return volumeTipLabel_; }
    QLabel* mainControlTf() const { return mainControlTf_; }
    QLabel* allTrackTimeTf() const { return allTrackTimeTf_; }
    // The selected track's name, elided to its field with the whole name as its tooltip.
    ElidedLabel* selectedMusicLab() const { return selectedMusicLab_; }
    QLabel* selectedMusicStart() const { return selectedMusicStart_; }
    QLabel* selectedMusicEnd() const { return selectedMusicEnd_; }
    QLabel* selectedMusicDuration() const { return selectedMusicDuration_; }
    QComboBox* selectedMusicFadeInBtn() const { return selectedMusicFadeInBtn_; }
    QComboBox* selectedMusicFadeOutBtn() const { return selectedMusicFadeOutBtn_; }
    QPushButton* playBtn() const { return playBtn_; }
    QPushButton* singlePlayBtn() const { return singlePlayBtn_; }
    QPushButton* muteBtn() const { return muteBtn_; }
    QPushButton* splitBtn() const { return splitBtn_; }
    QPushButton* deleteBtn() const { return deleteBtn_; }
    QPushButton* undoBtn() const { return undoBtn_; }
    QPushButton* reUndoBtn() const { return reUndoBtn_; }
    QPushButton* addBtn() const { return addBtn_; }
    QPushButton* exportBtn() const { return exportBtn_; }
    QPushButton* seekPlayControlBtn() const { return seekPlayControlBtn_; }
    QPushButton* accountBtn() const { return accountBtn_; }
    CustomSlider* volumeSlider() const { return volumeSlider_; }
    QLabel* fadeInImgV() const { return fadeInImgV_; }
    QLabel* fadeOutImgV() const { return fadeOutImgV_; }
    // The rows of the track list, in track order.
    const std::vector<MusicTrackView*>& rows() const { return rows_; }
    // The lanes, in track order.
    const std::vector<MusicWaveView*>& lanes() const { return lanes_; }
    // The export sheet while it is open.
    ExportSheet* exportSheet() const { return exportSheet_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void international();
    void setupUI();
    void installShortcuts();
    void reloadTrackList();
    void markSelectedRow();
    MusicTrackView* makeRow(const std::shared_ptr<TrackModel>& track);
    void layoutLanesOverlay();
    void playStateDidChange();
    void selectedMusicDidChange();
    void selectFadeItem(QComboBox* popUp, double seconds);
    void showVolumeTip(QPointF pointInRoot, float gain);
    void record();

    EditorDocument document_;
    bool continuePlay_ = false;
    double playStart_ = 0;
    double maxDuration_ = 650;
    int selectedRow_ = -1;
    uint64_t selectionObserver_ = 0;
    uint64_t playStateObserver_ = 0;

    QWidget* rateView_ = nullptr;
    StyledView* rateBar_ = nullptr;  // the banner's row under the toolbar, shown with it
    QLabel* rateLab_ = nullptr;
    QPushButton* rateBtn_ = nullptr;
    QPushButton* rateCloseBtn_ = nullptr;
    QSplitter* splitView_ = nullptr;
    DragView* audioTracksView_ = nullptr;
    DragView* audioWavesView_ = nullptr;
    QScrollArea* trackTableView_ = nullptr;
    QWidget* trackListContent_ = nullptr;
    QScrollArea* wavesClipView_ = nullptr;
    QWidget* wavesContainView_ = nullptr;
    QWidget* wavesView_ = nullptr;
    QScrollArea* bottomClipView_ = nullptr;
    QWidget* bottomView_ = nullptr;
    MusicWaveView* mainWaveView_ = nullptr;
    MusicRulerView* topRulerView_ = nullptr;
    MusicRulerView* bottomRulerView_ = nullptr;
    HeaderControlView* topControl_ = nullptr;
    HeaderControlView* bottomControl_ = nullptr;
    StyledView* alignLine_ = nullptr;
    TBPopLabel* volumeTipLabel_ = nullptr;
    QLabel* mainControlTf_ = nullptr;
    QLabel* allTrackTimeTf_ = nullptr;
    ElidedLabel* selectedMusicLab_ = nullptr;
    QLabel* selectedMusicStart_ = nullptr;
    QLabel* selectedMusicEnd_ = nullptr;
    QLabel* selectedMusicDuration_ = nullptr;
    QComboBox* selectedMusicFadeInBtn_ = nullptr;
    QComboBox* selectedMusicFadeOutBtn_ = nullptr;
    QPushButton* playBtn_ = nullptr;
    QPushButton* singlePlayBtn_ = nullptr;
    QPushButton* muteBtn_ = nullptr;
    QPushButton* splitBtn_ = nullptr;
    QPushButton* deleteBtn_ = nullptr;
    QPushButton* undoBtn_ = nullptr;
    QPushButton* reUndoBtn_ = nullptr;
    QPushButton* addBtn_ = nullptr;
    QPushButton* exportBtn_ = nullptr;
    QPushButton* seekPlayControlBtn_ = nullptr;
    QPushButton* accountBtn_ = nullptr;
    CustomSlider* volumeSlider_ = nullptr;
    QLabel* fadeInImgV_ = nullptr;
    QLabel* fadeOutImgV_ = nullptr;
    // The mark beside the row of the selected track.
    StyledView* selectionMark_ = nullptr;
    std::vector<MusicTrackView*> rows_;
    std::vector<MusicWaveView*> lanes_;
    QPointer<ExportSheet> exportSheet_;
    bool syncingScroll_ = false;
};

}  // namespace tamberlo
