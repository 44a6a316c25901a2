#include "EditorUI/Views/MusicTrackView.h"
#include "EditorUI/Window/WindowImages.h"

#include "Widgets/ConfirmAlert.h"

#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ColorHelper.h"
#include "Widgets/ElidedLabel.h"
#include "Widgets/ViewHelper.h"
#include "platform/foundation/NotificationCenter.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaMethod>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace tamberlo {

namespace {


QPushButton* makeButton(QWidget* parent, const char* image, const char* toolTip) {
    auto* button = new QPushButton(parent);
    button->setIcon(windowImage(image));
    button->setIconSize(QSize(16, 16));
    button->setFocusPolicy(Qt::NoFocus);
    button->setFlat(true);
    button->setToolTip(localizedText(toolTip));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

}  // namespace

MusicTrackView::MusicTrackView(QWidget* parent) : QWidget(parent) {
    setFixedHeight(rowHeight);
    setMinimumWidth(200);

    nameLab_ = new ElidedLabel(this);
    nameLab_->setFont(pingfangSC(13));
    QPalette palette = nameLab_->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    nameLab_->setPalette(palette);

    muteBtn_ = makeButton(this, "ic_mute", "静音");
    onlyPlayBtn_ = makeButton(this, "ic_only_play", "只听");
    deleteBtn_ = makeButton(this, "ic_delete", "删除");
    setSwitched(muteBtn_, false, 3);
    setSwitched(onlyPlayBtn_, false, 3);
    setSwitched(deleteBtn_, false, 3);

    volumeImgV_ = new QLabel(this);
    volumeImgV_->setPixmap(windowImage("ic_volume").pixmap(16, 16));
    volumeImgV_->setToolTip(localizedText("音量"));

    slider_ = new CustomSlider(this);
    slider_->setRange(-1.0, 1.0);

    menu_ = new QMenu(QString(), this);
    copyAction_ = menu_->addAction(localizedText("复制音轨"));
    copyAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    deleteAction_ = menu_->addAction(localizedText("删除音轨"));
    deleteAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    // The shortcuts are shown in the menu and act while it is open; they are not bound to the row,
    // so that the rows of a list do not compete for them.
    copyAction_->setShortcutVisibleInContextMenu(true);
    deleteAction_->setShortcutVisibleInContextMenu(true);

    updateTimer_ = new QTimer(this);
    updateTimer_->setSingleShot(true);
    updateTimer_->setInterval(300);

    connect(muteBtn_, &QPushButton::clicked, this, [this] { muteClick(); });
    connect(onlyPlayBtn_, &QPushButton::clicked, this, [this] { onlyPlayClick(); });
    connect(deleteBtn_, &QPushButton::clicked, this, [this] { deleteClick(); });
    connect(slider_, &CustomSlider::volumeChange, this,
            [this](double value, CustomSlider::Phase phase) { volumeChange(value, phase); });
    connect(copyAction_, &QAction::triggered, this, [this] { copyClick(); });
    connect(deleteAction_, &QAction::triggered, this, [this] { deleteClick(); });
    connect(updateTimer_, &QTimer::timeout, this, [this] { updatePlayer(); });

    onlyPlayObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        NotifyManager::OnlyPlayTrackDidChange(), [this](const platform::Notification&) { onlyPlayTrackDidChange(); });

    muteBtn_->setGeometry(12, 30, 20, 20);
    onlyPlayBtn_->setGeometry(38, 30, 20, 20);
    deleteBtn_->setGeometry(64, 30, 20, 20);
    volumeImgV_->setGeometry(94, 32, 16, 16);
    resize(220, rowHeight);
    layoutRow();
}

// The 56 px row: the name on top, the switches and the volume slider below; the name and the
// slider take the width.
void MusicTrackView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutRow();
}

void MusicTrackView::layoutRow() {
    nameLab_->setGeometry(12, 6, std::max(0, width() - 24), 20);
    slider_->setGeometry(114, 30, std::max(40, width() - 114 - 12), 20);
}

MusicTrackView::~MusicTrackView() { platform::NotificationCenter::defaultCenter().removeObserver(onlyPlayObserver_); }

MusicTrackView* MusicTrackView::initNib(QWidget* parent) { return new MusicTrackView(parent); }

void MusicTrackView::setModel(std::shared_ptr<TrackModel> track) {
    model_ = std::move(track);
    nameLab_->setFullText(model_ ? QString::fromStdString(model_->name) : QString());
    refreshButtons();
    slider_->setValue(model_ ? model_->volume - 1.0 : 0.0);
}

void MusicTrackView::refreshButtons() {
    setSwitched(muteBtn_, model_ && model_->isMute, 3);
    setSwitched(onlyPlayBtn_, model_ && model_->isOnlyPlay, 3);
}

void MusicTrackView::muteClick() {
    TrackManager::TrackPage("VC_Home", "Action_Track_Mute");
    if (!model_) return;
    model_->isMute = !model_->isMute;
    setSwitched(muteBtn_, model_->isMute, 3);
    updateSettings();
}

void MusicTrackView::onlyPlayClick() {
    emit onlyPlayBlock();
    NotifyManager::post(NotifyManager::OnlyPlayTrackDidChange());
    updateSettings();
}

void MusicTrackView::onlyPlayTrackDidChange() { setSwitched(onlyPlayBtn_, model_ && model_->isOnlyPlay, 3); }

void MusicTrackView::volumeChange(double value, CustomSlider::Phase phase) {
    slider_->setValue(value);
    const float gain = float(value) + 1.0f;
    if (phase == CustomSlider::Phase::down || phase == CustomSlider::Phase::dragged)
        emit sliderDraggingBlock(slider_->tickPosition(), gain);
    std::printf("slider value: %f\n", value);
    if (phase == CustomSlider::Phase::up) {
        if (model_) model_->volume = gain;
        updateSettings();
        emit sliderDragEndBlock();
    }
}

void MusicTrackView::updateSettings() { updateTimer_->start(); }

void MusicTrackView::updatePlayer() { Player::shared().updatePlayer(); }

void MusicTrackView::copyClick() {
    Player::shared().stop();
    // The copy writes work files: make it only when the window takes it.
    if (!model_ || !isSignalConnected(QMetaMethod::fromSignal(&MusicTrackView::copyBlock))) return;
    emit copyBlock(model_->duplicate());
}

void MusicTrackView::deleteClick() {
    if (deleteAlert_) return;
    deleteAlert_ = openConfirmAlert(window(), QMessageBox::Information, localizedText("确认删除音轨？"),
                                    localizedText("确定"), localizedText("取消"), this, [this] {
                                        Player::shared().stop();
                                        emit deleteBlock();
                                    });
}

void MusicTrackView::contextMenuEvent(QContextMenuEvent* event) { menu_->popup(event->globalPos()); }

void MusicTrackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), dark2());
    painter.fillRect(QRect(0, height() - 1, width(), 1), dark1());
}

}  // namespace tamberlo
