#include "EditorUI/Window/MainController.h"

#include "EditorUI/Export/ExportSheet.h"
#include "EditorUI/Views/CustomScrollView.h"
#include "EditorUI/Views/DragView.h"
#include "EditorUI/Views/HeaderControlView.h"
#include "EditorUI/Views/MusicRulerView.h"
#include "EditorUI/Views/MusicTrackView.h"
#include "EditorUI/Views/MusicWaveView.h"
#include "EditorUI/Views/TBPopLabel.h"
#include "EditorUI/Views/TimelineGeometry.h"
#include "EditorUI/Window/WindowImages.h"
#include "Services/Account/DMGChecker.h"
#include "Services/Analytics/TrackManager.h"
#include "Services/Feedback/FeedbackVC.h"
#include "TamberloMac/Files/AudiovisualContent.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Interface/NotifyManager.h"
#include "TamberloMac/Interface/ToolManager.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ColorHelper.h"
#include "Widgets/ColorPopupButtonCell.h"
#include "Widgets/ElidedLabel.h"
#include "Widgets/SpaceButtonCell.h"
#include "Widgets/StyledView.h"
#include "Widgets/ViewHelper.h"
#include "platform/foundation/NotificationCenter.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tamberlo {

namespace {

QString qs(const std::string& value) { return QString::fromStdString(value); }

void homeEvent(const char* action) { TrackManager::TrackPage("VC_Home", action); }

constexpr int rulerHeight = MusicRulerView::rulerHeight;
constexpr int rowHeight = MusicTrackView::rowHeight;
constexpr int laneHeight = MusicWaveView::laneHeight;
constexpr int handleWidth = HeaderControlView::handleWidth;
constexpr int toolbarHeight = 60;
constexpr int infoBarHeight = 48;
// The bottom lane's area: its ruler, the lane 8 px below it and 8 px under the lane.
constexpr int bottomViewHeight = rulerHeight + 8 + laneHeight + 8;
constexpr int fadeSeconds = 10;

// The rating banner: a "FC2C5C" strip whose two lower corners are rounded.
class BannerView : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = rect();
        const double radius = 3.0;
        QPainterPath path;
        path.moveTo(r.topLeft());
        path.lineTo(r.topRight());
        path.lineTo(r.right(), r.bottom() - radius);
        path.quadTo(r.bottomRight(), QPointF(r.right() - radius, r.bottom()));
        path.lineTo(r.left() + radius, r.bottom());
        path.quadTo(r.bottomLeft(), QPointF(r.left(), r.bottom() - radius));
        path.closeSubpath();
        painter.fillPath(path, primary());
    }
};

QPushButton* toolButton(QWidget* parent, const QString& image, const QString& title = {}) {
    auto* button = new QPushButton(title, parent);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setFlat(true);
    button->setIconSize(QSize(20, 20));
    if (!image.isEmpty()) setButtonImage(button, image);
    return button;
}

template <class Label = QLabel>
Label* fieldLabel(QWidget* parent, int pixelSize, const QColor& color) {
    auto* label = new Label(parent);
    label->setFont(pingfangSC(pixelSize));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QComboBox* fadePopUp(QWidget* parent) {
    auto* popUp = new QComboBox(parent);
    popUp->setFocusPolicy(Qt::NoFocus);
    popUp->setFixedWidth(76);
    popUp->setFont(pingfangSC(12));
    // The title is white through the cell; the list keeps its own colours.
    (new ColorPopupButtonCell(popUp))->textColor = QColor(Qt::white);
    popUp->setStyleSheet("QComboBox { background: #33353B; border: none; border-radius: 4px; padding: 3px 8px; }"
                         "QComboBox QAbstractItemView { background: #33353B; color: white; "
                         "selection-background-color: #FC2C5C; }");
    // Item i is a fade of i whole seconds.
    for (int seconds = 0; seconds <= fadeSeconds; ++seconds) popUp->addItem(QString("%1.0s").arg(seconds));
    popUp->setCurrentIndex(0);
    return popUp;
}

QLabel* imageLabel(QWidget* parent, const QString& image, const QString& toolTip) {
    auto* label = new QLabel(parent);
    label->setPixmap(windowImage(image).pixmap(20, 20));
    label->setToolTip(toolTip);
    label->setFixedSize(20, 20);
    return label;
}

void paintViewport(QScrollArea* area, const QColor& color) {
    QPalette p = area->viewport()->palette();
    p.setColor(QPalette::Window, color);
    p.setColor(QPalette::Base, color);
    area->viewport()->setPalette(p);
    area->viewport()->setAutoFillBackground(true);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Hooks

MainController::OpenPanelHook& MainController::openPanelHook() {
    static OpenPanelHook hook = &MainController::runDefaultOpenPanel;
    return hook;
}

void MainController::runDefaultOpenPanel(QWidget* window, std::function<void(std::vector<platform::URL>)> completion) {
    auto* dialog = new QFileDialog(window);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // Audio and movie files only: the extensions the import keeps, in either case.
    QStringList patterns;
    for (const char* extension : {"wav", "caf", "aif", "aiff", "aifc", "mp3", "m4a", "aac", "mp4", "m4v", "mov",
                                  "flac", "ogg", "opus", "bwf", "snd", "au", "ts"})
        patterns << QString("*.%1").arg(extension) << QString("*.%1").arg(QString(extension).toUpper());
    dialog->setNameFilter(patterns.join(' '));
    // The home folder, never the folder the program was started from.
    dialog->setDirectory(QDir::homePath());
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
        std::vector<platform::URL> urls;
        if (result == QDialog::Accepted)
            for (const QString& file : dialog->selectedFiles()) urls.emplace_back(file.toStdString());
        completion(urls);
    });
    dialog->open();
}

double& MainController::rateBannerDelay() {
    static double seconds = 300.0;
    return seconds;
}

// ---------------------------------------------------------------------------------------------
// Set-up

MainController::MainController(QWidget* parent) : QWidget(parent) {
    setObjectName("MainController");
    setupUI();
    international();
    installShortcuts();
    calculateMaxDuration();
    updateTracksContentSize();
    setPlayStart(0);

    auto& center = platform::NotificationCenter::defaultCenter();
    selectionObserver_ = center.addObserver(NotifyManager::SelectedMusicDidChange(),
                                            [this](const platform::Notification&) { selectedMusicDidChange(); });
    playStateObserver_ = center.addObserver(NotifyManager::PlayStateDidChange(),
                                            [this](const platform::Notification&) { playStateDidChange(); });
    playStateDidChange();
    updateSelectMusic();
}

MainController::~MainController() {
    auto& center = platform::NotificationCenter::defaultCenter();
    center.removeObserver(selectionObserver_);
    center.removeObserver(playStateObserver_);
    auto& player = Player::shared();
    player.updateTimeBlock = nullptr;
    player.stop();
}

void MainController::international() {
    rateLab_->setText(localizedText("用的怎么样？给点意见吧！"));
    rateBtn_->setText(localizedText("去评价"));
    selectedMusicLab_->setFullText(localizedText("选中的音频"));
    addBtn_->setText(localizedText("添加"));
    exportBtn_->setText(localizedText("导出"));
    accountBtn_->setText(localizedText("账号"));

    const auto tip = [](const char* title, const QKeySequence& keys) {
        return QString("%1  %2").arg(localizedText(title), keys.toString(QKeySequence::NativeText));
    };
    addBtn_->setToolTip(tip("添加", QKeySequence(Qt::CTRL | Qt::Key_N)));
    exportBtn_->setToolTip(tip("导出", QKeySequence(Qt::CTRL | Qt::Key_E)));
    playBtn_->setToolTip(tip("播放", QKeySequence(Qt::Key_Space)));
    singlePlayBtn_->setToolTip(tip("播放", QKeySequence(Qt::CTRL | Qt::Key_Space)));
    muteBtn_->setToolTip(tip("静音", QKeySequence(Qt::CTRL | Qt::Key_M)));
    splitBtn_->setToolTip(tip("播放头处拆分", QKeySequence(Qt::CTRL | Qt::Key_T)));
    deleteBtn_->setToolTip(tip("删除", QKeySequence(Qt::Key_Backspace)));
    undoBtn_->setToolTip(tip("撤销", QKeySequence(Qt::CTRL | Qt::Key_Z)));
    reUndoBtn_->setToolTip(tip("重做", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
    fadeInImgV_->setToolTip(localizedText("淡入"));
    fadeOutImgV_->setToolTip(localizedText("淡出"));
}

void MainController::setupUI() {
    // The editor area is white; the toolbar, the track list and the clip bar are the dark palette.
    setAutoFillBackground(true);
    QPalette rootPalette = palette();
    rootPalette.setColor(QPalette::Window, Qt::white);
    setPalette(rootPalette);
    setMinimumSize(900, 560);

    // --- Toolbar: add, export | play all, play selected, clock | master volume, follow playhead
    auto* toolbar = new StyledView(this);
    toolbar->setBackgroundColor(dark1());
    toolbar->setFixedHeight(toolbarHeight);
    addBtn_ = toolButton(toolbar, "ic_add");
    exportBtn_ = toolButton(toolbar, "ic_export");
    for (auto* button : {addBtn_, exportBtn_}) {
        button->setFixedSize(92, 34);
        button->setFont(pingfangSC_Medium(13));
        button->setStyleSheet(QString("QPushButton { background: %1; border: none; border-radius: 6px; }"
                                      "QPushButton:hover { background: %2; }")
                                  .arg(button == addBtn_ ? primary().name() : QString("#33353B"),
                                       button == addBtn_ ? primary().lighter(115).name() : QString("#44464D")));
        setTitleColor(button, Qt::white);
        // Image and title centred as one group, 6 px apart.
        (new SpaceButtonCell(button))->horizontalImagePadding = 6;
    }
    playBtn_ = toolButton(toolbar, "ic_play");
    singlePlayBtn_ = toolButton(toolbar, "ic_play");
    playBtn_->setFixedSize(40, 40);
    singlePlayBtn_->setFixedSize(32, 32);
    playBtn_->setStyleSheet(QString("QPushButton { background: %1; border: none; border-radius: 20px; }").arg(primary().name()));
    singlePlayBtn_->setStyleSheet("QPushButton { background: #33353B; border: none; border-radius: 16px; }");
    singlePlayBtn_->setIconSize(QSize(16, 16));
    mainControlTf_ = fieldLabel(toolbar, 22, Qt::white);
    mainControlTf_->setFont(QFont("DejaVu Sans Mono", 18));
    mainControlTf_->setObjectName("mainControlTf");
    allTrackTimeTf_ = fieldLabel(toolbar, 13, QColor(0x99, 0x99, 0x99));
    allTrackTimeTf_->setFont(QFont("DejaVu Sans Mono", 11));
    auto* volumeImage = imageLabel(toolbar, "ic_volume", QString());
    volumeSlider_ = new CustomSlider(toolbar);
    volumeSlider_->setRange(-1.0, 1.0);
    volumeSlider_->setValue(0.0);
    volumeSlider_->setFixedWidth(130);
    seekPlayControlBtn_ = toolButton(toolbar, "ic_follow");
    seekPlayControlBtn_->setFixedSize(32, 32);

    auto* toolbarRow = new QHBoxLayout(toolbar);
    toolbarRow->setContentsMargins(16, 0, 16, 0);
    toolbarRow->setSpacing(10);
    toolbarRow->addWidget(addBtn_);
    toolbarRow->addWidget(exportBtn_);
    toolbarRow->addStretch(1);
    toolbarRow->addWidget(singlePlayBtn_);
    toolbarRow->addWidget(playBtn_);
    toolbarRow->addSpacing(8);
    toolbarRow->addWidget(mainControlTf_);
    toolbarRow->addWidget(allTrackTimeTf_);
    toolbarRow->addStretch(1);
    toolbarRow->addWidget(volumeImage);
    toolbarRow->addWidget(volumeSlider_);
    toolbarRow->addWidget(seekPlayControlBtn_);
    accountBtn_ = toolButton(toolbar, QString());
    accountBtn_->setFont(pingfangSC(13));
    accountBtn_->setStyleSheet("QPushButton { color: #CCCCCC; padding: 4px 8px; }");
    toolbarRow->addWidget(accountBtn_);

    // --- Track list (left) and lanes (right)
    splitView_ = new QSplitter(Qt::Horizontal, this);
    splitView_->setHandleWidth(1);
    splitView_->setChildrenCollapsible(false);
    splitView_->setStyleSheet(QString("QSplitter::handle { background: %1; }").arg(dark1().name()));

    audioTracksView_ = new DragView(splitView_);
    audioTracksView_->setMinimumWidth(220);
    auto* listHeader = new StyledView(audioTracksView_);
    listHeader->setBackgroundColor(dark1());
    listHeader->setFixedHeight(rulerHeight);
    trackTableView_ = new CustomScrollView(audioTracksView_);
    trackTableView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    trackTableView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    trackTableView_->setFrameShape(QFrame::NoFrame);
    trackTableView_->setWidgetResizable(false);
    trackListContent_ = new StyledView;
    static_cast<StyledView*>(trackListContent_)->setBackgroundColor(dark2());
    trackListContent_->installEventFilter(this);
    trackTableView_->setWidget(trackListContent_);
    selectionMark_ = new StyledView(trackListContent_);
    selectionMark_->setBackgroundColor(primary());
    selectionMark_->hide();
    trackTableView_->viewport()->setAutoFillBackground(true);
    {
        QPalette p = trackTableView_->viewport()->palette();
        p.setColor(QPalette::Window, dark2());
        p.setColor(QPalette::Base, dark2());
        trackTableView_->viewport()->setPalette(p);
    }
    auto* listColumn = new QVBoxLayout(audioTracksView_);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(0);
    listColumn->addWidget(listHeader);
    listColumn->addWidget(trackTableView_);

    audioWavesView_ = new DragView(splitView_);
    wavesClipView_ = new CustomScrollView(audioWavesView_);
    wavesClipView_->setFrameShape(QFrame::NoFrame);
    wavesClipView_->setWidgetResizable(false);
    wavesClipView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    wavesClipView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    wavesContainView_ = new QWidget;
    wavesContainView_->setAutoFillBackground(true);
    {
        QPalette p = wavesContainView_->palette();
        p.setColor(QPalette::Window, Qt::white);
        wavesContainView_->setPalette(p);
    }
    wavesView_ = new QWidget(wavesContainView_);
    topRulerView_ = new MusicRulerView(wavesContainView_);
    topRulerView_->setAutoFillBackground(true);
    alignLine_ = new StyledView(wavesContainView_);
    alignLine_->setBackgroundColor(*hexStr("AAAAAA"));
    alignLine_->hide();
    topControl_ = HeaderControlView::initNib(wavesContainView_);
    wavesClipView_->setWidget(wavesContainView_);
    paintViewport(wavesClipView_, Qt::white);
    auto* wavesColumn = new QVBoxLayout(audioWavesView_);
    wavesColumn->setContentsMargins(0, 0, 0, 0);
    wavesColumn->addWidget(wavesClipView_);

    splitView_->addWidget(audioTracksView_);
    splitView_->addWidget(audioWavesView_);
    splitView_->setStretchFactor(0, 0);
    splitView_->setStretchFactor(1, 1);
    splitView_->setSizes({250, 1000});

    // --- The selected clip's bar and the bottom lane
    auto* infoBar = new StyledView(this);
    infoBar->setBackgroundColor(dark1());
    infoBar->setFixedHeight(infoBarHeight);
    selectedMusicLab_ = fieldLabel<ElidedLabel>(infoBar, 13, Qt::white);
    selectedMusicLab_->setFixedWidth(200);
    selectedMusicStart_ = fieldLabel(infoBar, 13, Qt::white);
    selectedMusicEnd_ = fieldLabel(infoBar, 13, Qt::white);
    selectedMusicDuration_ = fieldLabel(infoBar, 13, QColor(0x99, 0x99, 0x99));
    for (auto* field : {selectedMusicStart_, selectedMusicEnd_, selectedMusicDuration_})
        field->setFont(QFont("DejaVu Sans Mono", 11));
    auto* rangeDash = fieldLabel(infoBar, 13, QColor(0x99, 0x99, 0x99));
    rangeDash->setText("–");
    fadeInImgV_ = imageLabel(infoBar, "ic_fade_in", QString());
    fadeOutImgV_ = imageLabel(infoBar, "ic_fade_out", QString());
    selectedMusicFadeInBtn_ = fadePopUp(infoBar);
    selectedMusicFadeOutBtn_ = fadePopUp(infoBar);
    muteBtn_ = toolButton(infoBar, "ic_mute");
    splitBtn_ = toolButton(infoBar, "ic_split");
    deleteBtn_ = toolButton(infoBar, "ic_delete");
    undoBtn_ = toolButton(infoBar, "ic_undo");
    reUndoBtn_ = toolButton(infoBar, "ic_redo");
    for (auto* button : {muteBtn_, splitBtn_, deleteBtn_, undoBtn_, reUndoBtn_}) {
        button->setFixedSize(32, 32);
        setSwitched(button, false);
    }
    auto* infoRow = new QHBoxLayout(infoBar);
    infoRow->setContentsMargins(16, 0, 16, 0);
    infoRow->setSpacing(8);
    infoRow->addWidget(selectedMusicLab_);
    infoRow->addWidget(selectedMusicStart_);
    infoRow->addWidget(rangeDash);
    infoRow->addWidget(selectedMusicEnd_);
    infoRow->addSpacing(6);
    infoRow->addWidget(selectedMusicDuration_);
    infoRow->addStretch(1);
    infoRow->addWidget(fadeInImgV_);
    infoRow->addWidget(selectedMusicFadeInBtn_);
    infoRow->addSpacing(6);
    infoRow->addWidget(fadeOutImgV_);
    infoRow->addWidget(selectedMusicFadeOutBtn_);
    infoRow->addSpacing(12);
    infoRow->addWidget(muteBtn_);
    infoRow->addWidget(splitBtn_);
    infoRow->addWidget(deleteBtn_);
    infoRow->addSpacing(12);
    infoRow->addWidget(undoBtn_);
    infoRow->addWidget(reUndoBtn_);

    bottomClipView_ = new CustomScrollView(this);
    bottomClipView_->setFrameShape(QFrame::NoFrame);
    bottomClipView_->setWidgetResizable(false);
    bottomClipView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bottomClipView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bottomClipView_->setFixedHeight(bottomViewHeight + CustomScroller::thickness);
    bottomView_ = new QWidget;
    bottomView_->setAutoFillBackground(true);
    {
        QPalette p = bottomView_->palette();
        p.setColor(QPalette::Window, Qt::white);
        bottomView_->setPalette(p);
    }
    bottomRulerView_ = new MusicRulerView(bottomView_);
    mainWaveView_ = new MusicWaveView(bottomView_);
    bottomControl_ = HeaderControlView::initNib(bottomView_);
    bottomClipView_->setWidget(bottomView_);
    paintViewport(bottomClipView_, Qt::white);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(toolbar);
    column->addWidget(splitView_, 1);
    column->addWidget(infoBar);
    column->addWidget(bottomClipView_);

    // --- The rating banner, hidden until its delay has passed. It hangs from the toolbar in a row
    // of its own, so the ruler's labels and the lanes move down under it instead of hiding.
    rateBar_ = new StyledView(this);
    rateBar_->setBackgroundColor(dark1());
    rateBar_->setFixedHeight(34);
    rateView_ = new BannerView(rateBar_);
    rateView_->setFixedSize(380, 34);
    rateLab_ = fieldLabel(rateView_, 13, Qt::white);
    rateBtn_ = new QPushButton(rateView_);
    rateBtn_->setFocusPolicy(Qt::NoFocus);
    rateBtn_->setFont(pingfangSC_Medium(12));
    rateBtn_->setStyleSheet("QPushButton { background: white; color: #FC2C5C; border: none; border-radius: 4px; "
                            "padding: 2px 10px; }");
    rateCloseBtn_ = new QPushButton(QString::fromUtf8("×"), rateView_);
    rateCloseBtn_->setFocusPolicy(Qt::NoFocus);
    rateCloseBtn_->setFlat(true);
    rateCloseBtn_->setFixedSize(22, 22);
    rateCloseBtn_->setStyleSheet("QPushButton { color: white; border: none; font-size: 16px; }");
    auto* rateRow = new QHBoxLayout(rateView_);
    rateRow->setContentsMargins(14, 0, 6, 0);
    rateRow->addWidget(rateLab_);
    rateRow->addStretch();
    rateRow->addWidget(rateBtn_);
    rateRow->addWidget(rateCloseBtn_);
    auto* rateBarRow = new QHBoxLayout(rateBar_);
    rateBarRow->setContentsMargins(0, 0, 0, 0);
    rateBarRow->addWidget(rateView_, 0, Qt::AlignHCenter);
    rateBar_->hide();
    column->insertWidget(1, rateBar_);
    QPointer<MainController> self(this);
    GCDAfterMain(
        [self] {
            if (self) self->rateBar_->show();
        },
        rateBannerDelay());

    // --- Bubble, gestures, drops and scrolling
    volumeTipLabel_ = new TBPopLabel(this);
    volumeTipLabel_->hide();

    connect(audioWavesView_, &DragView::dragComplete, this,
            [this](const std::vector<platform::URL>& urls) { importMusics(urls); });
    // The track list is a drop target too, but a drop there imports nothing.
    connect(topRulerView_, &MusicRulerView::clicked, this, [this](double x) { rulerDidClick(x); });
    connect(bottomRulerView_, &MusicRulerView::clicked, this, [this](double x) { rulerDidClick(x); });
    for (auto* control : {topControl_, bottomControl_})
        connect(control, &HeaderControlView::controlDidPan, this,
                [this, control](QPointF point, GestureState state) { controlDidPan(control, point, state); });
    connect(mainWaveView_, &MusicWaveView::updateTrack, this, [this] {
        updateTopTrack();
        updateTracksContentSize();
        record();
    });

    connect(addBtn_, &QPushButton::clicked, this, [this] { addMusicClick(); });
    connect(exportBtn_, &QPushButton::clicked, this, [this] { exportClick(); });
    connect(accountBtn_, &QPushButton::clicked, this, [this] { accountClick(); });
    connect(playBtn_, &QPushButton::clicked, this, [this] { playClick(); });
    connect(singlePlayBtn_, &QPushButton::clicked, this, [this] { singlePlayClick(); });
    connect(muteBtn_, &QPushButton::clicked, this, [this] { muteClick(); });
    connect(splitBtn_, &QPushButton::clicked, this, [this] { splitClick(); });
    connect(deleteBtn_, &QPushButton::clicked, this, [this] { deleteClick(); });
    connect(undoBtn_, &QPushButton::clicked, this, [this] { undoClick(); });
    connect(reUndoBtn_, &QPushButton::clicked, this, [this] { reUndoClick(); });
    connect(seekPlayControlBtn_, &QPushButton::clicked, this, [this] { seekPlayControlClick(); });
    connect(rateBtn_, &QPushButton::clicked, this, [this] { rateClick(); });
    connect(rateCloseBtn_, &QPushButton::clicked, this, [this] { closeRateClick(); });
    connect(selectedMusicFadeInBtn_, &QComboBox::activated, this, [this](int) { selectedMusicFadeInClick(); });
    connect(selectedMusicFadeOutBtn_, &QComboBox::activated, this, [this](int) { selectedMusicFadeOutClick(); });
    connect(volumeSlider_, &CustomSlider::volumeChange, this,
            [this](double value, CustomSlider::Phase phase) { volumeChanged(value, phase); });

    // The track list and the lanes scroll together vertically; the top ruler and the playhead
    // handle stay at the top of the lanes' visible area.
    connect(trackTableView_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (syncingScroll_) return;
        syncingScroll_ = true;
        wavesClipView_->verticalScrollBar()->setValue(value);
        syncingScroll_ = false;
        layoutLanesOverlay();
    });
    connect(wavesClipView_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!syncingScroll_) {
            syncingScroll_ = true;
            trackTableView_->verticalScrollBar()->setValue(value);
            syncingScroll_ = false;
        }
        layoutLanesOverlay();
    });
    wavesClipView_->viewport()->installEventFilter(this);
    bottomClipView_->viewport()->installEventFilter(this);

    // The playback service reports the position every 0.02 s; the playhead follows on the main queue,
    // and only while the service plays: a report that arrives when nothing plays (after a stop, or
    // from a service that had nothing to play) must not run the clock.
    Player::shared().updateTimeBlock = [self](double seconds) {
        GCDAsyncMain([self, seconds] {
            if (self && Player::shared().isPlay()) self->setPlayStart(seconds);
        });
    };
}

void MainController::installShortcuts() {
    const auto bind = [this](const QKeySequence& keys, std::function<void()> action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [action] { action(); });
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_N), [this] { addMusicClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { exportClick(); });
    bind(QKeySequence(Qt::Key_Space), [this] { playClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Space), [this] { singlePlayClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_M), [this] { muteClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_T), [this] { splitClick(); });
    bind(QKeySequence(Qt::Key_Backspace), [this] { deleteClick(); });
    bind(QKeySequence(Qt::Key_Delete), [this] { deleteClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { undoClick(); });
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { reUndoClick(); });
}

// ---------------------------------------------------------------------------------------------
// Commands

void MainController::addMusicClick() {
    QPointer<MainController> self(this);
    openPanelHook()(window(), [self](std::vector<platform::URL> urls) {
        if (!self || urls.empty()) return;
        QStringList names;
        for (const auto& url : urls) names << qs(url.path());
        std::printf("选取的文件 (%s)\n", names.join(", ").toStdString().c_str());
        self->importMusics(urls);
    });
}

void MainController::importMusics(const std::vector<platform::URL>& urls) {
    // Nothing happens unless some file is audiovisual content; files the store cannot copy or
    // open are skipped there.
    const bool anyKept = !audiovisualContentURLs(urls).empty();
    document_.importMusics(urls);
    if (!anyKept) return;
    continuePlay_ = false;
    updateMusics();
}

void MainController::accountClick() {
    DMGChecker::shared().fetchUserinfo(
        [](const std::optional<DMGUserinfo>& user) {
            if (!user) DMGChecker::shared().startLogin();
        },
        false);
}

void MainController::exportClick() {
    auto controller = document_.exportMusics();
    continuePlay_ = false;
    if (!controller) return;
    auto* sheet = ExportSheet::initFromStory(controller, this);
    exportSheet_ = sheet;
    sheet->open();
}

void MainController::playClick() {
    document_.playAll();
    if (!Player::shared().isPlay()) continuePlay_ = false;
}

void MainController::singlePlayClick() {
    document_.playSelectedTrack();
    if (!Player::shared().isPlay()) continuePlay_ = false;
}

void MainController::muteClick() {
    const bool can = canOperate();
    document_.muteMusic();
    if (!can) return;
    setSwitched(muteBtn_, Player::shared().selectMusic()->isMute);
    updateTopTrack();
    updateBottomTrack();
}

void MainController::splitClick() {
    const bool hasTrack = document_.selectedTrack != nullptr;
    document_.split(playStart_);
    if (!hasTrack) return;
    continuePlay_ = false;
    updateTopTrack();
    updateBottomTrack();
}

void MainController::deleteClick() {
    const bool can = canOperate();
    document_.deleteMusic();
    if (!can) return;
    updateTopTrack();
    updateBottomTrack();
}

void MainController::undoClick() {
    document_.undo();
    if (RecordSequence::shared().hasChange) updateMusics();
}

void MainController::reUndoClick() {
    document_.redo();
    if (RecordSequence::shared().hasChange) updateMusics();
}

void MainController::selectedMusicFadeInClick() {
    const bool can = canOperate();
    document_.setFadeIn(double(selectedMusicFadeInBtn_->currentIndex()));
    if (can) {
        updateTopTrack();
        updateBottomTrack();
    } else {
        selectedMusicFadeInBtn_->setCurrentIndex(0);
    }
}

void MainController::selectedMusicFadeOutClick() {
    const bool can = canOperate();
    document_.setFadeOut(double(selectedMusicFadeOutBtn_->currentIndex()));
    if (can) {
        updateTopTrack();
        updateBottomTrack();
    } else {
        selectedMusicFadeOutBtn_->setCurrentIndex(0);
    }
}

void MainController::volumeChanged(double value, CustomSlider::Phase phase) {
    const float gain = float(value) + 1.0f;
    if (phase == CustomSlider::Phase::down || phase == CustomSlider::Phase::dragged)
        showVolumeTip(volumeSlider_->parentWidget()->mapTo(this, volumeSlider_->tickPosition()), gain);
    std::printf("slider value: %f\n", value);
    if (phase == CustomSlider::Phase::up) {
        volumeTipLabel_->hide();
        // The master volume takes effect when the knob is released.
        document_.setMainVolume(gain);
    }
}

void MainController::seekPlayControlClick() {
    homeEvent("Action_Follow_Control");
    auto* bar = wavesClipView_->horizontalScrollBar();
    auto* animation = new QPropertyAnimation(bar, "value", this);
    animation->setDuration(250);
    animation->setStartValue(bar->value());
    animation->setEndValue(std::clamp(topControl_->x() - 200, bar->minimum(), bar->maximum()));
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainController::rateClick() {
    homeEvent("Go_Feedback");
    FeedbackVC::initFromStory(window())->open();
    rateBar_->hide();
}

void MainController::closeRateClick() { rateBar_->hide(); }

// ---------------------------------------------------------------------------------------------
// Timeline

void MainController::calculateMaxDuration() {
    double longest = 0;
    for (const auto& track : document_.tracks)
        if (track) longest = std::max(longest, track->duration());
    if (!std::isfinite(longest)) longest = 0;
    allTrackTimeTf_->setText("/ " + qs(ToolManager::timeStringWith(longest)));
    maxDuration_ = std::max(longest + 100.0, 650.0);
}

void MainController::updateTracksContentSize() {
    const int w = int(timeline::xForSeconds(maxDuration_));
    const int bottomTrackWidth = std::max(bottomClipView_->viewport()->width(), w);
    const int wavesWidth = std::max(wavesClipView_->viewport()->width(), w);
    const int tracksHeight = std::max(200, rowHeight * int(document_.tracks.size()));
    // The lanes fill the visible area below the ruler, so the editor area stays white to the bottom.
    const int wavesHeight = std::max(wavesClipView_->viewport()->height() - rulerHeight, tracksHeight);

    wavesView_->setGeometry(0, rulerHeight, wavesWidth, wavesHeight);
    for (size_t i = 0; i < lanes_.size(); ++i)
        lanes_[i]->setGeometry(0, int(i) * rowHeight + 8, wavesWidth, laneHeight);
    wavesContainView_->resize(wavesWidth, rulerHeight + wavesHeight);
    topRulerView_->resize(wavesWidth, rulerHeight);
    alignLine_->resize(1, wavesContainView_->height());

    // The list is as tall as the lanes plus the lanes' horizontal scroller, so both scroll alike.
    trackListContent_->resize(trackTableView_->viewport()->width(), wavesHeight + CustomScroller::thickness);
    for (auto* row : rows_) row->resize(trackListContent_->width(), rowHeight);

    bottomView_->resize(bottomTrackWidth, bottomViewHeight);
    bottomRulerView_->setGeometry(0, 0, bottomTrackWidth, rulerHeight);
    mainWaveView_->setGeometry(0, rulerHeight + 8, bottomTrackWidth, laneHeight);
    bottomControl_->setGeometry(bottomControl_->x(), 25, handleWidth, bottomViewHeight - 25);
    layoutLanesOverlay();
}

void MainController::layoutLanesOverlay() {
    const int top = wavesClipView_->verticalScrollBar()->value();
    topRulerView_->move(0, top);
    topControl_->setGeometry(topControl_->x(), top + rulerHeight - 7, handleWidth,
                             std::max(0, wavesClipView_->height() - 25));
    topRulerView_->raise();
    alignLine_->raise();
    topControl_->raise();
    bottomControl_->raise();
}

void MainController::updateMusics() {
    calculateMaxDuration();
    updateTracksContentSize();
    reloadWaves();
    reloadTrackList();
    updateBottomTrack();
}

void MainController::reloadWaves() {
    const auto& tracks = document_.tracks;
    if (lanes_.size() != tracks.size()) {
        // A lane may be the sender of the signal that led here: let the event loop delete it.
        for (auto* lane : lanes_) {
            lane->hide();
            lane->deleteLater();
        }
        lanes_.clear();
        for (size_t i = 0; i < tracks.size(); ++i) {
            auto* lane = new MusicWaveView(wavesView_);
            lane->setGeometry(0, int(i) * rowHeight + 8, wavesView_->width(), laneHeight);
            lane->setModel(tracks[i]);
            connect(lane, &MusicWaveView::updateTrack, this, [this] {
                updateTracksContentSize();
                record();
            });
            connect(lane, &MusicWaveView::alignBlock, this, [this](bool show, double x) {
                alignLine_->setVisible(show);
                alignLine_->move(timeline::lineColumnAtX(x), 0);
                alignLine_->raise();
                topControl_->raise();
            });
            lane->show();
            lanes_.push_back(lane);
        }
    } else {
        for (size_t i = 0; i < tracks.size(); ++i) lanes_[i]->setModel(tracks[i]);
    }
}

void MainController::reloadTrackList() {
    const auto& tracks = document_.tracks;
    // Rows are reused in order; extra rows go when the event loop is free again, since the row
    // that asked for a delete may still be on the stack.
    while (rows_.size() > tracks.size()) {
        rows_.back()->hide();
        rows_.back()->deleteLater();
        rows_.pop_back();
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (i == rows_.size()) rows_.push_back(makeRow(tracks[i]));
        auto* row = rows_[i];
        row->setGeometry(0, int(i) * rowHeight, trackListContent_->width(), rowHeight);
        row->setModel(tracks[i]);
        row->show();
    }
    if (selectedRow_ >= int(tracks.size())) selectedRow_ = -1;
}

MusicTrackView* MainController::makeRow(const std::shared_ptr<TrackModel>& track) {
    auto* row = MusicTrackView::initNib(trackListContent_);
    row->setModel(track);
    connect(row, &MusicTrackView::deleteBlock, this, [this, row] {
        document_.deleteTrack(row->model());
        updateMusics();
    });
    connect(row, &MusicTrackView::copyBlock, this, [this](std::shared_ptr<TrackModel> copy) {
        if (document_.appendCopy(std::move(copy))) updateMusics();
    });
    connect(row, &MusicTrackView::onlyPlayBlock, this, [this, row] { document_.toggleOnlyPlay(row->model()); });
    connect(row, &MusicTrackView::sliderDraggingBlock, this, [this, row](QPointF point, float gain) {
        std::printf("point = (%.2f, %.2f)\n", point.x(), point.y());
        showVolumeTip(row->mapTo(this, point), gain);
    });
    connect(row, &MusicTrackView::sliderDragEndBlock, this, [this] {
        volumeTipLabel_->hide();
        homeEvent("Action_Track_Volume");
    });
    return row;
}

void MainController::updateTopTrack() {
    const auto& selected = document_.selectedTrack;
    if (!selected) return;
    const auto at = std::find(document_.tracks.begin(), document_.tracks.end(), selected);
    if (at == document_.tracks.end()) return;
    const size_t index = size_t(at - document_.tracks.begin());
    if (index < lanes_.size()) lanes_[index]->setModel(selected);
}

void MainController::updateBottomTrack() {
    const auto& selected = document_.selectedTrack;
    mainWaveView_->setModel(selected);
    selectedMusicLab_->setFullText(selected ? qs(selected->name) : localizedText("选中的音乐"));
    if (!document_.isPlayAll) continuePlay_ = false;
    markSelectedRow();
}

QWidget* MainController::selectionMark() const { return selectionMark_; }

void MainController::markSelectedRow() {
    const auto& tracks = document_.tracks;
    const auto at = std::find(tracks.begin(), tracks.end(), document_.selectedTrack);
    if (!document_.selectedTrack || at == tracks.end()) {
        selectionMark_->hide();
        return;
    }
    selectionMark_->setGeometry(0, int(at - tracks.begin()) * rowHeight, 3, rowHeight);
    selectionMark_->show();
    selectionMark_->raise();
}

void MainController::tableViewSelectionDidChange(int row) {
    const auto& tracks = document_.tracks;
    auto& player = Player::shared();
    if (row >= 0 && row < int(tracks.size())) {
        const auto track = tracks[size_t(row)];
        // Another track while the selected track played alone ends that playback.
        if (track != document_.selectedTrack && player.isPlay() && !document_.isPlayAll) player.stop();
        selectedRow_ = row;
        document_.selectedTrack = track;
    } else {
        selectedRow_ = -1;
        document_.selectedTrack = nullptr;
    }
    updateBottomTrack();
}

void MainController::selectedMusicDidChange() { updateSelectMusic(); }

void MainController::updateSelectMusic() {
    auto& player = Player::shared();
    const auto music = player.selectMusic();
    if (music) {
        for (const auto& track : document_.tracks) {
            if (!track || !track->holds(music)) continue;
            if (track != document_.selectedTrack && player.isPlay() && !document_.isPlayAll) player.stop();
            document_.selectedTrack = track;
            updateBottomTrack();
            break;
        }
        selectedMusicStart_->setText(qs(ToolManager::timeStringWith(music->startTime)));
        selectedMusicEnd_->setText(qs(ToolManager::timeStringWith(music->startTime + music->duration())));
        selectedMusicDuration_->setText(qs(ToolManager::timeStringWith(music->duration())));
        selectFadeItem(selectedMusicFadeInBtn_, music->fadeInTime);
        selectFadeItem(selectedMusicFadeOutBtn_, music->fadeOutTime);
        setSwitched(muteBtn_, music->isMute);
    } else {
        const QString zero = qs(ToolManager::timeStringWith(0));
        selectedMusicStart_->setText(zero);
        selectedMusicEnd_->setText(zero);
        selectedMusicDuration_->setText(zero);
        selectFadeItem(selectedMusicFadeInBtn_, 0);
        selectFadeItem(selectedMusicFadeOutBtn_, 0);
        setSwitched(muteBtn_, false);
    }
    calculateMaxDuration();
}

void MainController::selectFadeItem(QComboBox* popUp, double seconds) {
    const long whole = std::isfinite(seconds) ? long(seconds) : 0;
    const int index = popUp->findText(QString("%1.0s").arg(whole));
    if (index >= 0) popUp->setCurrentIndex(index);
}

void MainController::playStateDidChange() {
    const auto& player = Player::shared();
    const bool playing = player.isPlay();
    setButtonImage(playBtn_, playing && document_.isPlayAll ? "ic_stop" : "ic_play");
    setButtonImage(singlePlayBtn_, playing && !document_.isPlayAll ? "ic_stop" : "ic_play");
}

void MainController::setPlayStart(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    playStart_ = seconds;
    const int x = timeline::handleLeftForSeconds(seconds);
    topControl_->move(x, topControl_->y());
    bottomControl_->move(x, bottomControl_->y());
    mainControlTf_->setText(qs(ToolManager::timeStringWith(seconds)));
    document_.setPlayStart(seconds);
}

void MainController::rulerDidClick(double x) {
    auto& player = Player::shared();
    // Whether to resume is decided by this gesture alone: a flag left over from an earlier one
    // must not start a stopped editor.
    continuePlay_ = player.isPlay();
    if (continuePlay_) player.stop();
    setPlayStart(timeline::secondsAtX(x));
    if (continuePlay_) player.play();
}

void MainController::controlDidPan(HeaderControlView* control, QPointF pointInHandle, GestureState state) {
    if (control != topControl_ && control != bottomControl_) return;
    auto& player = Player::shared();
    control->setIsDragging(true);
    if (state == GestureState::began) continuePlay_ = player.isPlay();
    if (player.isPlay()) {
        continuePlay_ = true;
        player.stop();
    }
    const QWidget* superview = control->parentWidget();
    double x = pointInHandle.x() + control->x() - control->width() / 2.0;
    x = std::clamp(x, 0.0, double(std::max(0, superview->width() - control->width())));
    setPlayStart(timeline::secondsAtHandleLeft(x));
    if (state == GestureState::ended || state == GestureState::cancelled) {
        control->setIsDragging(false);
        if (continuePlay_) player.play();
    }
}

// ---------------------------------------------------------------------------------------------
// Events

bool MainController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trackListContent_ && event->type() == QEvent::MouseButtonPress) {
        // A press on a row's background (or below the rows) selects that row (or none).
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            const int row = int(mouse->position().y()) / rowHeight;
            tableViewSelectionDidChange(row < int(document_.tracks.size()) ? row : -1);
            return true;
        }
    }
    if (event->type() == QEvent::Resize && wavesClipView_ && bottomClipView_ &&
        (watched == wavesClipView_->viewport() || watched == bottomClipView_->viewport()))
        updateTracksContentSize();
    return QWidget::eventFilter(watched, event);
}

void MainController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateTracksContentSize();
}

void MainController::showVolumeTip(QPointF pointInRoot, float gain) {
    volumeTipLabel_->showAtPoint(pointInRoot, qs(ToolManager::volumeStringWith(gain)));
    volumeTipLabel_->raise();
}

void MainController::record() { RecordSequence::shared().record(document_.tracks); }

}  // namespace tamberlo
