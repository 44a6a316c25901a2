// The editor window driven like a user would: the whole road from launch to quit, the mended
// playback resume, and bad input (odd drops, a failing export).
#include "EditorUI/App/AppDelegate.h"
#include "TamberloMac/EditorFixtures.h"
#include "EditorUI/App/HelpDocument.h"
#include "EditorUI/Export/ExportSheet.h"
#include "EditorUI/Views/DragView.h"
#include "EditorUI/Views/HeaderControlView.h"
#include "EditorUI/Views/MusicRulerView.h"
#include "EditorUI/Views/MusicTrackView.h"
#include "EditorUI/Views/MusicWaveView.h"
#include "EditorUI/Views/TBPopLabel.h"
#include "EditorUI/Views/WaveformStore.h"
#include "EditorUI/Window/MainController.h"
#include "EditorUI/Window/WindowController.h"
#include "EditorUI/Window/WindowImages.h"
#include "EditorUI/support/ViewFixtures.h"
#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/Interface/ToolManager.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/HUDView.h"
#include "Widgets/StyledView.h"
#include "main/TestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QMenu>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace tamberlo;
using viewtest::waitUntil;

namespace {

using editortest::writeWav16;

// The 16-bit samples of a PCM WAV file (interleaved), with its rate and channel count.
struct Wav {
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 0;
    std::vector<int16_t> samples;
};

Wav readWav16(const std::filesystem::path& path) {
    Wav wav;
    const std::string bytes = testsupport::readFile(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return wav;
    auto u32 = [&](size_t at) { uint32_t v; std::memcpy(&v, bytes.data() + at, 4); return v; };
    auto u16 = [&](size_t at) { uint16_t v; std::memcpy(&v, bytes.data() + at, 2); return v; };
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = u32(at + 4);
        if (id == "fmt ") {
            wav.channels = u16(at + 10);
            wav.rate = u32(at + 12);
            wav.bits = u16(at + 22);
        } else if (id == "data") {
            const size_t count = std::min<size_t>(size, bytes.size() - at - 8) / 2;
            wav.samples.resize(count);
            std::memcpy(wav.samples.data(), bytes.data() + at + 8, count * 2);
        }
        at += 8 + size + (size & 1);
    }
    return wav;
}

QMimeData* urlDrop(const std::vector<std::filesystem::path>& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const auto& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
    data->setUrls(urls);
    return data;
}

using viewtest::requested;

int indexOfRequest(const std::string& status) {
    const auto all = HUD::requests();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].status == status) return int(i);
    return -1;
}

class EditorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        viewtest::startEditor();
        savedOpenPanel = MainController::openPanelHook();
        savedSavePanel = ExportSheet::savePanelHook();
        savedTerminate = WindowController::terminateHook();

        // A.wav: 10 s of 8192; B.wav: 4 s of 4096 (44100 Hz stereo); C.wav: 2 s of a sine at 0.5, 48 kHz mono.
        writeWav16(dir / "A.wav", 44100, 2, 441000, [](uint32_t, uint16_t) { return int16_t(8192); });
        writeWav16(dir / "B.wav", 44100, 2, 176400, [](uint32_t, uint16_t) { return int16_t(4096); });
        writeWav16(dir / "C.wav", 48000, 1, 96000, [](uint32_t f, uint16_t) {
            return int16_t(std::lround(16384.0 * std::sin(2 * M_PI * 441.0 * f / 48000.0)));
        });

        window = std::make_unique<WindowController>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        activate();
        main = window->contentViewController();
    }

    void TearDown() override {
        MainController::openPanelHook() = savedOpenPanel;
        ExportSheet::savePanelHook() = savedSavePanel;
        WindowController::terminateHook() = savedTerminate;
        window.reset();
        viewtest::settleEditor();
    }

    void activate() {
        window->activateWindow();
        window->raise();
        (void)QTest::qWaitForWindowActive(window.get(), 2000);
    }

    // Imports files through the open panel, as the add button does.
    void importThroughPanel(std::vector<std::filesystem::path> paths) {
        MainController::openPanelHook() = [paths](QWidget*, std::function<void(std::vector<platform::URL>)> done) {
            std::vector<platform::URL> urls(paths.begin(), paths.end());
            done(urls);
        };
        QTest::mouseClick(main->addBtn(), Qt::LeftButton);
    }

    void clickLane(size_t lane, int x) {
        QTest::mouseClick(main->lanes().at(lane), Qt::LeftButton, {}, QPoint(x, 24));
    }

    // A drag of `dx` pixels in steps of 4 px, starting at x in the lane.
    void dragLane(size_t lane, int x, int dx) {
        QWidget* view = main->lanes().at(lane);
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(x, 24));
        for (int moved = 4; moved <= dx; moved += 4) QTest::mouseMove(view, QPoint(x + moved, 24));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(x + dx, 24));
    }

    void press(QKeySequence keys) {
        activate();
        QTest::keySequence(window.get(), keys);
        QCoreApplication::processEvents();
    }

    // Saves the grabbed window under the build tree once its waveforms are in.
    void screenshot(QWidget* widget, const std::string& name) {
        WaveformStore::shared().waitForReads();
        QTest::qWait(50);
        const auto path = viewtest::saveScreenshot(widget->grab().toImage(), name);
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }

    QString clock() const { return main->mainControlTf()->text(); }
    size_t historySize() const { return RecordSequence::shared().seq().size(); }

    testsupport::ScratchDir dir;
    std::unique_ptr<WindowController> window;
    MainController* main = nullptr;
    MainController::OpenPanelHook savedOpenPanel;
    ExportSheet::SavePanelHook savedSavePanel;
    std::function<void()> savedTerminate;
};

}  // namespace

TEST_F(EditorWindowTest, TheRoadFromLaunchToQuit) {
    // --- Launch: an empty 650 s timeline, the playhead at 0.
    EXPECT_EQ(clock(), "00:00:00");
    EXPECT_TRUE(main->tracks().empty());
    EXPECT_TRUE(main->rows().empty());
    EXPECT_DOUBLE_EQ(main->maxDuration(), 650.0);
    EXPECT_EQ(main->topRulerView()->width(), 2173);
    const int ticks = main->topRulerView()->width() / 10;
    EXPECT_EQ(MusicRulerView::label(0), "00:00");
    EXPECT_EQ(MusicRulerView::label((ticks - 1) / 10 * 10), "10:30");
    EXPECT_GE(main->wavesView()->height(), 200);
    EXPECT_EQ(buttonImage(main->playBtn()), "ic_play");

    // --- Import A and B through the open panel, C by a drop on the lanes (not on the list).
    importThroughPanel({dir / "A.wav", dir / "B.wav"});
    ASSERT_EQ(main->tracks().size(), 2u);
    EXPECT_EQ(main->tracks()[0]->name, "A.wav");
    EXPECT_EQ(main->tracks()[1]->name, "B.wav");
    EXPECT_EQ(historySize(), 1u);

    std::unique_ptr<QMimeData> cDrop(urlDrop({dir / "C.wav"}));
    main->audioTracksView()->performDragOperation(cDrop.get());
    EXPECT_EQ(main->tracks().size(), 2u) << "a drop on the track list imports nothing";
    main->audioWavesView()->performDragOperation(cDrop.get());
    ASSERT_EQ(main->tracks().size(), 3u);
    EXPECT_EQ(main->tracks()[2]->name, "C.wav");
    ASSERT_EQ(main->rows().size(), 3u);
    ASSERT_EQ(main->lanes().size(), 3u);
    EXPECT_EQ(main->allTrackTimeTf()->text(), "/ 00:00:10");
    screenshot(window.get(), "window-after-import.png");

    // --- A press on a row's name selects its track for the bottom lane.
    QTest::mouseClick(main->rows()[2]->nameLab(), Qt::LeftButton);
    EXPECT_EQ(main->selectedTrack(), main->tracks()[2]);
    EXPECT_EQ(main->selectedMusicLab()->text(), "C.wav");
    EXPECT_EQ(main->mainWaveView()->model(), main->tracks()[2]);
    EXPECT_TRUE(main->selectionMark()->isVisible());
    EXPECT_EQ(main->selectionMark()->y(), 2 * MusicTrackView::rowHeight);

    // --- Select B and drag it 20 px right: 6.0 s.
    clickLane(1, 12);
    EXPECT_EQ(Player::shared().selectMusic(), main->tracks()[1]->musics[0]);
    EXPECT_EQ(main->selectedTrack(), main->tracks()[1]);
    dragLane(1, 12, 20);
    EXPECT_DOUBLE_EQ(main->tracks()[1]->musics[0]->startTime, 6.0);
    EXPECT_EQ(main->selectedMusicStart()->text(), "00:00:06");
    EXPECT_EQ(main->selectedMusicEnd()->text(), "00:00:10");
    EXPECT_EQ(main->selectedMusicDuration()->text(), "00:00:04");
    EXPECT_EQ(historySize(), 3u);

    // --- Fades from the pop-ups: A fades in over 1 s, B out over 2 s.
    clickLane(0, 12);
    EXPECT_EQ(main->selectedTrack(), main->tracks()[0]);
    main->selectedMusicFadeInBtn()->setCurrentIndex(1);
    emit main->selectedMusicFadeInBtn()->activated(1);
    EXPECT_DOUBLE_EQ(main->tracks()[0]->musics[0]->fadeInTime, 1.0);
    clickLane(1, 32);
    EXPECT_EQ(main->selectedTrack(), main->tracks()[1]);
    EXPECT_EQ(main->selectedMusicFadeInBtn()->currentText(), "0.0s");
    main->selectedMusicFadeOutBtn()->setCurrentIndex(2);
    emit main->selectedMusicFadeOutBtn()->activated(2);
    EXPECT_DOUBLE_EQ(main->tracks()[1]->musics[0]->fadeOutTime, 2.0);
    EXPECT_EQ(main->selectedMusicFadeOutBtn()->currentText(), "2.0s");
    ASSERT_EQ(main->lanes()[1]->plots().size(), 1u);
    EXPECT_EQ(main->lanes()[1]->plots()[0]->shownBadges(), std::vector<WavePlotView::Badge>{WavePlotView::Badge::fadeOut});
    const size_t afterFades = historySize();

    // --- B's row slider released at −0.5: the bubble reads −6.0 dB, the volume is 0.5, no history step.
    MusicTrackView* rowB = main->rows()[1];
    emit rowB->slider()->volumeChange(-0.5, CustomSlider::Phase::down);
    EXPECT_TRUE(main->volumeTipLabel()->isVisible());
    EXPECT_EQ(main->volumeTipLabel()->text(), "音量：-6.0dB");
    emit rowB->slider()->volumeChange(-0.5, CustomSlider::Phase::up);
    EXPECT_FALSE(main->volumeTipLabel()->isVisible());
    EXPECT_DOUBLE_EQ(main->tracks()[1]->volume, 0.5);
    EXPECT_EQ(historySize(), afterFades);

    // C is muted on its row, so the export mixes A and B.
    QTest::mouseClick(main->rows()[2]->muteBtn(), Qt::LeftButton);
    EXPECT_TRUE(main->tracks()[2]->isMute);

    // --- Export wav through the save panel.
    const auto exported = dir / "mix.wav";
    bool panelAsked = false;
    ExportSheet::savePanelHook() = [&](QWidget*, const ExportSheet::SavePanel& panel,
                                       std::function<void(std::optional<QString>)> done) {
        panelAsked = true;
        EXPECT_EQ(panel.message, "保存为...");
        EXPECT_TRUE(panel.nameFieldStringValue.endsWith(".wav")) << panel.nameFieldStringValue.toStdString();
        EXPECT_EQ(panel.nameFieldStringValue.size(), 14 + 4);
        done(QString::fromStdString(exported.string()));
    };
    QTest::mouseClick(main->exportBtn(), Qt::LeftButton);
    QPointer<ExportSheet> sheet = main->exportSheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(waitUntil([&] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->titleLab()->text(), "导出设置");
    EXPECT_EQ(sheet->saveBtn()->text(), "存储");
    EXPECT_EQ(sheet->cancelBtn()->text(), "取消");
    EXPECT_FALSE(sheet->progressView()->isVisible());
    EXPECT_EQ(sheet->controller()->tracks.size(), 2u);
    sheet->formatPopUp()->setCurrentText("wav");
    screenshot(sheet, "export-sheet.png");

    QStringList progress;
    QObject::connect(sheet, &ExportSheet::progressChanged, [&](const QString& label) { progress << label; });
    QTest::mouseClick(sheet->saveBtn(), Qt::LeftButton);
    EXPECT_TRUE(panelAsked);
    EXPECT_FALSE(sheet->saveBtn()->isEnabled());
    EXPECT_FALSE(sheet->cancelBtn()->isEnabled());
    EXPECT_TRUE(sheet->progressView()->isVisible());
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet && sheet->isVisible()) << "a running export cannot be dismissed";
    ASSERT_TRUE(waitUntil([&] { return requested(HUD::Kind::success, "导出成功"); }, 20000));
    EXPECT_TRUE(requested(HUD::Kind::info, "正在渲染音轨..."));
    EXPECT_TRUE(requested(HUD::Kind::progress, "格式转换中..."));
    EXPECT_LT(indexOfRequest("正在渲染音轨..."), indexOfRequest("格式转换中..."));
    EXPECT_LT(indexOfRequest("格式转换中..."), indexOfRequest("导出成功"));
    EXPECT_EQ(progress, (QStringList{"50.0%", "100.0%"}));
    ASSERT_TRUE(waitUntil([&] { return !sheet; }, 3000)) << "the sheet closes after a successful export";

    // The same samples as the mix-down check of the editor's core: A faded in over 1 s, B at
    // 6 s at half volume fading out over its last 2 s.
    const Wav wav = readWav16(exported);
    ASSERT_EQ(wav.rate, 44100u);
    ASSERT_EQ(wav.channels, 2u);
    ASSERT_EQ(wav.bits, 16u);
    ASSERT_EQ(wav.samples.size(), 441000u * 2);
    int worst = 0;
    for (uint32_t n = 0; n < 441000; ++n) {
        long expected = 8192;
        if (n < 44100) expected = std::lround(8192.0 * (n + 1) / 44100.0);
        else if (n >= 264600 && n < 352800) expected = 10240;
        else if (n >= 352800) expected = 8192 + std::lround(2048.0 * (1.0 - double(n - 352800 + 1) / 88200.0));
        for (int c = 0; c < 2; ++c) worst = std::max(worst, int(std::labs(wav.samples[n * 2 + c] - expected)));
    }
    EXPECT_LE(worst, 1);

    // --- Ruler click at x = 17 (3.0 s), then Space plays all and Space again stops.
    activate();
    QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(17, 20));
    EXPECT_DOUBLE_EQ(main->playStart(), 3.0);
    EXPECT_EQ(clock(), "00:00:03");
    EXPECT_FALSE(Player::shared().isPlay());
    press(QKeySequence(Qt::Key_Space));
    ASSERT_TRUE(Player::shared().isPlay());
    EXPECT_EQ(buttonImage(main->playBtn()), "ic_stop");
    EXPECT_EQ(buttonImage(main->singlePlayBtn()), "ic_play");
    EXPECT_TRUE(waitUntil([&] { return clock() == "00:00:04"; }, 3000)) << clock().toStdString();
    EXPECT_GT(main->topControl()->x(), 10);
    press(QKeySequence(Qt::Key_Space));
    EXPECT_FALSE(Player::shared().isPlay());
    EXPECT_EQ(buttonImage(main->playBtn()), "ic_play");

    // --- Split (Ctrl+T). B (the selected track) lies after the playhead: nothing is cut and no
    // success is shown. A at 3.0 s is cut in two.
    HUD::clearRequests();
    ASSERT_EQ(main->selectedTrack(), main->tracks()[1]);
    press(QKeySequence(Qt::CTRL | Qt::Key_T));
    EXPECT_EQ(main->tracks()[1]->musics.size(), 1u);
    QTest::qWait(20);
    EXPECT_FALSE(requested(HUD::Kind::success, "拆分成功"));

    clickLane(0, 12);
    QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(17, 20));
    press(QKeySequence(Qt::CTRL | Qt::Key_T));
    ASSERT_EQ(main->tracks()[0]->musics.size(), 2u);
    EXPECT_DOUBLE_EQ(main->tracks()[0]->musics[1]->startTime, 3.0);
    ASSERT_TRUE(waitUntil([] { return requested(HUD::Kind::success, "拆分成功"); }));
    EXPECT_EQ(main->lanes()[0]->plots().size(), 2u);
    EXPECT_EQ(main->mainWaveView()->plots().size(), 2u);
    screenshot(window.get(), "window-after-split.png");

    // --- Undo and redo: the split goes and comes back; undo brings track volumes back to 1.0.
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    ASSERT_EQ(main->tracks()[0]->musics.size(), 1u);
    EXPECT_DOUBLE_EQ(main->tracks()[1]->volume, 1.0);
    EXPECT_EQ(main->lanes()[0]->plots().size(), 1u);
    press(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    EXPECT_EQ(main->tracks()[0]->musics.size(), 2u);
    EXPECT_EQ(main->lanes()[0]->plots().size(), 2u);

    // --- The row's "复制音轨" appends a copy.
    ASSERT_EQ(main->rows()[0]->copyAction()->text(), "复制音轨");
    main->rows()[0]->copyAction()->trigger();
    ASSERT_EQ(main->tracks().size(), 4u);
    EXPECT_EQ(main->tracks()[3]->name, "A-1.wav");
    EXPECT_EQ(main->tracks()[3]->musics.size(), 2u);
    EXPECT_EQ(main->lanes().size(), 4u);
    EXPECT_EQ(main->rows().size(), 4u);

    // --- Deleting a track asks first: "取消" keeps it, "确定" removes it.
    for (const bool confirm : {false, true}) {
        MusicTrackView* row = main->rows()[3];
        QTest::mouseClick(row->deleteBtn(), Qt::LeftButton);
        QPointer<QMessageBox> alert = row->deleteAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(), "确认删除音轨？");
        QStringList titles;
        QAbstractButton* choice = nullptr;
        for (auto* button : alert->buttons()) {
            titles << button->text();
            if (button->text() == (confirm ? "确定" : "取消")) choice = button;
        }
        EXPECT_TRUE(titles.contains("确定") && titles.contains("取消"));
        ASSERT_NE(choice, nullptr);
        QTest::mouseClick(choice, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(main->tracks().size(), confirm ? 3u : 4u);
    }
    EXPECT_EQ(main->rows().size(), 3u);

    // --- Closing asks; "取消" keeps the window, "确定" quits.
    int quits = 0;
    WindowController::terminateHook() = [&] { ++quits; };
    for (const bool confirm : {false, true}) {
        window->close();
        QPointer<QMessageBox> alert = window->closeAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(), "请确认制作的音乐已导出，确认关闭工程吗？");
        EXPECT_TRUE(window->isVisible());
        QAbstractButton* choice = nullptr;
        for (auto* button : alert->buttons())
            if (button->text() == (confirm ? "确定" : "取消")) choice = button;
        ASSERT_NE(choice, nullptr);
        QTest::mouseClick(choice, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(quits, confirm ? 1 : 0);
        EXPECT_TRUE(window->isVisible()) << "the window closes only with the application";
    }
}

// A ruler click resumes playback only when it interrupted playback: a flag left over from an
// earlier gesture (a clip deleted or a track copied after a resumed click) starts nothing.
TEST_F(EditorWindowTest, ARulerClickOnAStoppedEditorDoesNotStartPlayback) {
    importThroughPanel({dir / "A.wav", dir / "B.wav"});
    ASSERT_EQ(main->tracks().size(), 2u);

    struct Case {
        const char* name;
        std::function<void()> stopsPlayback;
    };
    const std::vector<Case> cases = {
        {"deleting the selected clip", [&] {
             clickLane(1, 12);
             ASSERT_TRUE(main->canOperate());
             press(QKeySequence(Qt::Key_Backspace));
         }},
        {"copying a track", [&] { main->rows()[0]->copyAction()->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        main->playClick();
        ASSERT_TRUE(Player::shared().isPlay());
        QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(37, 20));
        EXPECT_TRUE(Player::shared().isPlay()) << "a click while playing resumes from the new position";
        EXPECT_DOUBLE_EQ(main->playStart(), 9.0);

        c.stopsPlayback();
        ASSERT_FALSE(Player::shared().isPlay());
        QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(57, 20));
        EXPECT_DOUBLE_EQ(main->playStart(), 15.0);
        EXPECT_FALSE(Player::shared().isPlay());
        EXPECT_FALSE(main->continuePlay());
    }

    // A handle dragged with the mouse while playing stops playback and resumes it on release.
    main->playClick();
    ASSERT_TRUE(Player::shared().isPlay());
    HeaderControlView* top = main->topControl();
    const int startX = top->x();
    QTest::mousePress(top, Qt::LeftButton, {}, QPoint(7, 30));
    QTest::mouseMove(top, QPoint(12, 30));
    EXPECT_FALSE(Player::shared().isPlay());
    EXPECT_TRUE(top->isDragging());
    QTest::mouseMove(top, QPoint(7 + 20, 30));
    QTest::mouseRelease(top, Qt::LeftButton, {}, QPoint(7 + 20, 30));
    EXPECT_TRUE(Player::shared().isPlay());
    EXPECT_FALSE(top->isDragging());
    EXPECT_GT(main->playStart(), startX * 0.3 + 3.0);
    main->playClick();
    ASSERT_FALSE(Player::shared().isPlay());

    // A handle drag decides the same way: on a stopped editor it starts nothing.
    HeaderControlView* handle = main->topControl();
    emit handle->controlDidPan(QPointF(7 + 4, 20), GestureState::began);
    emit handle->controlDidPan(QPointF(7 + 30, 20), GestureState::ended);
    EXPECT_FALSE(Player::shared().isPlay());
    EXPECT_FALSE(handle->isDragging());
}

TEST_F(EditorWindowTest, DroppingWhatIsNoAudioImportsNothing) {
    std::filesystem::create_directories(dir / "folder");
    testsupport::writeFile(dir / "notes.txt", "not audio");
    testsupport::writeFile(dir / "fake.wav", "not audio either");
    writeWav16(dir / "gone.wav", 44100, 1, 100, [](uint32_t, uint16_t) { return int16_t(0); });
    std::filesystem::remove(dir / "gone.wav");

    const struct {
        const char* name;
        std::filesystem::path path;
    } cases[] = {
        {"a folder", dir / "folder"},
        {"a text file", dir / "notes.txt"},
        {"a text file named .wav", dir / "fake.wav"},
        {"a file that vanished", dir / "gone.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<QMimeData> drop(urlDrop({c.path}));
        main->audioWavesView()->performDragOperation(drop.get());
        QCoreApplication::processEvents();
        EXPECT_TRUE(main->tracks().empty());
        EXPECT_TRUE(main->lanes().empty());
        EXPECT_EQ(clock(), "00:00:00");
    }
    // A real file dropped with them still comes in alone.
    std::unique_ptr<QMimeData> mixed(urlDrop({dir / "notes.txt", dir / "A.wav", dir / "gone.wav"}));
    main->audioWavesView()->performDragOperation(mixed.get());
    ASSERT_EQ(main->tracks().size(), 1u);
    EXPECT_EQ(main->tracks()[0]->name, "A.wav");
}

TEST_F(EditorWindowTest, AFailedExportShowsTheFailureAndTheSheetStaysUsable) {
    importThroughPanel({dir / "B.wav"});
    ASSERT_EQ(main->tracks().size(), 1u);

    std::filesystem::path destination = dir / "no-such-folder" / "mix.wav";
    ExportSheet::savePanelHook() = [&](QWidget*, const ExportSheet::SavePanel&,
                                       std::function<void(std::optional<QString>)> done) {
        done(QString::fromStdString(destination.string()));
    };
    QTest::mouseClick(main->exportBtn(), Qt::LeftButton);
    QPointer<ExportSheet> sheet = main->exportSheet();
    ASSERT_TRUE(sheet);
    sheet->formatPopUp()->setCurrentText("wav");
    QTest::mouseClick(sheet->saveBtn(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([] { return requested(HUD::Kind::error, "导出失败"); }, 20000));
    EXPECT_FALSE(requested(HUD::Kind::success, "导出成功"));
    QTest::qWait(50);
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->saveBtn()->isEnabled());
    EXPECT_TRUE(sheet->cancelBtn()->isEnabled());

    // A second save to a good place works.
    destination = dir / "mix.wav";
    QTest::mouseClick(sheet->saveBtn(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([] { return requested(HUD::Kind::success, "导出成功"); }, 20000));
    EXPECT_TRUE(waitUntil([&] { return !sheet; }, 3000));
    EXPECT_EQ(readWav16(destination).samples.size(), 176400u * 2);

    // Cancelling the save panel, or the sheet, changes nothing.
    ExportSheet::savePanelHook() = [](QWidget*, const ExportSheet::SavePanel&,
                                      std::function<void(std::optional<QString>)> done) { done(std::nullopt); };
    HUD::clearRequests();
    QTest::mouseClick(main->exportBtn(), Qt::LeftButton);
    sheet = main->exportSheet();
    ASSERT_TRUE(sheet);
    QTest::mouseClick(sheet->saveBtn(), Qt::LeftButton);
    EXPECT_TRUE(sheet->saveBtn()->isEnabled());
    EXPECT_FALSE(sheet->progressView()->isVisible());
    QTest::mouseClick(sheet->cancelBtn(), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !sheet; }, 1000));
    EXPECT_TRUE(HUD::requests().empty());
}

TEST_F(EditorWindowTest, ExportWithNothingAudibleOpensNoSheet) {
    importThroughPanel({dir / "B.wav"});
    QTest::mouseClick(main->rows()[0]->muteBtn(), Qt::LeftButton);
    QTest::mouseClick(main->exportBtn(), Qt::LeftButton);
    EXPECT_EQ(main->exportSheet(), nullptr);
    EXPECT_TRUE(waitUntil([] { return requested(HUD::Kind::info, "没有可以播放的音轨"); }));
}

TEST(EditorShellTest, TheRatingBannerAppearsOnceItsDelayHasPassed) {
    viewtest::useChinese();
    const double saved = MainController::rateBannerDelay();
    MainController::rateBannerDelay() = 0.05;
    MainController controller;
    controller.resize(1200, 700);
    controller.show();
    EXPECT_FALSE(controller.rateView()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return controller.rateView()->isVisible(); }, 2000));
    EXPECT_EQ(controller.rateLab()->text(), "用的怎么样？给点意见吧！");
    QTest::mouseClick(controller.rateBtn(), Qt::LeftButton);
    EXPECT_FALSE(controller.rateView()->isVisible());
    MainController::rateBannerDelay() = saved;
}

TEST(EditorShellTest, HelpOpensTheDocumentOfThePreferredLanguage) {
    const struct {
        std::vector<std::string> languages;
        const char* document;
    } cases[] = {
        {{"zh-CN"}, "TamberloHelper"},
        {{"zh-TW"}, "TamberloHelper"},
        {{"en-US"}, "TamberloHelper_en"},
        {{"ja-JP"}, "TamberloHelper_en"},
    };
    testsupport::ScratchDir help;
    testsupport::writeFile(help / "TamberloHelper.pdf", "%PDF-1.4");
    const QStringList savedDirectories = HelpDocument::searchDirectories();
    const auto savedOpen = HelpDocument::openHook();
    HelpDocument::searchDirectories() = {QString::fromStdString(help.path().string())};
    std::vector<QUrl> opened;
    HelpDocument::openHook() = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.languages.front());
        setPreferredLanguagesForTesting(c.languages);
        EXPECT_EQ(HelpDocument::name(), c.document);
        opened.clear();
        const bool present = std::string(c.document) == "TamberloHelper";
        // Only the Chinese document exists here: a missing one is logged and opens nothing.
        EXPECT_EQ(HelpDocument::open(), present);
        ASSERT_EQ(opened.size(), present ? 1u : 0u);
        if (present) {
            EXPECT_TRUE(opened[0].toLocalFile().endsWith("TamberloHelper.pdf"));
        }
    }
    HelpDocument::searchDirectories() = savedDirectories;
    HelpDocument::openHook() = savedOpen;
    viewtest::useChinese();
}

TEST(EditorShellTest, LaunchingStartsTheEventLogAndShowsTheEditor) {
    viewtest::useChinese();
    TrackManager::shareInstance().reset();
    AppDelegate delegate;
    WindowController* window = delegate.loadMainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    ASSERT_NE(window->contentViewController(), nullptr);
    EXPECT_FALSE(TrackManager::shareInstance().isTrackingEnabled());
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(TrackManager::shareInstance().isTrackingEnabled());
    bool launched = false;
    for (const auto& event : TrackManager::shareInstance().events()) launched |= event.name == "launch";
    EXPECT_TRUE(launched);
    TrackManager::shareInstance().reset();
}

// The real panels open as window-modal sheets without blocking and report a cancel as nothing chosen.
TEST_F(EditorWindowTest, TheDefaultPanelsOpenAsSheetsAndReportACancel) {
    std::optional<std::vector<platform::URL>> chosen;
    MainController::runDefaultOpenPanel(window.get(), [&](std::vector<platform::URL> urls) { chosen = urls; });
    auto* open = window->findChild<QFileDialog*>();
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->windowModality(), Qt::WindowModal);
    EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFiles);
    // A fresh home has no Desktop: both panels start at home, never in the working folder.
    ASSERT_NE(QDir::currentPath(), QDir::homePath());
    EXPECT_EQ(open->directory().absolutePath(), QDir::homePath());
    open->reject();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_TRUE(chosen->empty());
    QCoreApplication::processEvents();

    bool answered = false;
    std::optional<QString> saved = QString("not asked");
    ExportSheet::SavePanel panel{"保存为...", {"m4a", "aac", "wav", "caf", "mp3"}, QString(), "20240101120000.mp3"};
    ExportSheet::runDefaultSavePanel(window.get(), panel, [&](std::optional<QString> path) {
        answered = true;
        saved = path;
    });
    QFileDialog* save = nullptr;
    for (auto* dialog : window->findChildren<QFileDialog*>())
        if (dialog->acceptMode() == QFileDialog::AcceptSave) save = dialog;
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->windowModality(), Qt::WindowModal);
    EXPECT_EQ(save->defaultSuffix(), "mp3");
    EXPECT_EQ(save->directory().absolutePath(), QDir::homePath());
    save->reject();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(saved.has_value());
}

// The build makes both help documents as real PDFs, and the menu opens the one of the language.
TEST(EditorShellTest, TheBuildMakesBothHelpDocuments) {
    const std::filesystem::path built = TAMBERLO_HELP_DIR;
    for (const char* name : {"TamberloHelper.pdf", "TamberloHelper_en.pdf"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(built / name));
        EXPECT_EQ(testsupport::readFile(built / name).rfind("%PDF-", 0), 0u);
        if (testsupport::haveTool("pdfinfo")) {
            int status = -1;
            const std::string info = testsupport::capture("pdfinfo " + testsupport::q(built / name), &status);
            EXPECT_EQ(status, 0) << info;
            EXPECT_NE(info.find("Pages:"), std::string::npos) << info;
        }
    }

    const QStringList savedDirectories = HelpDocument::searchDirectories();
    const auto savedOpen = HelpDocument::openHook();
    HelpDocument::searchDirectories() = {QString::fromStdString(built.string())};
    std::vector<QUrl> opened;
    HelpDocument::openHook() = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    WindowController window;
    for (const auto& [language, document] : {std::pair{"zh-CN", "/TamberloHelper.pdf"}, {"en-US", "/TamberloHelper_en.pdf"}}) {
        setPreferredLanguagesForTesting(std::vector<std::string>{language});
        opened.clear();
        window.helpClick();
        ASSERT_EQ(opened.size(), 1u) << language;
        EXPECT_TRUE(opened[0].toLocalFile().endsWith(document)) << opened[0].toLocalFile().toStdString();
    }
    HelpDocument::searchDirectories() = savedDirectories;
    HelpDocument::openHook() = savedOpen;
    viewtest::useChinese();
}

namespace {

// The centre of the run of pixels near `colour` along row y of an image from x0 to x1 (−1 when none).
double runCentre(const QImage& image, int y, int x0, int x1, const QColor& colour, int tolerance = 40) {
    int first = -1, last = -1;
    for (int x = x0; x <= x1 && x < image.width(); ++x) {
        if (!viewtest::near(image.pixelColor(x, y), colour, tolerance)) continue;
        if (first < 0) first = x;
        last = x;
    }
    return first < 0 ? -1 : (first + last + 1) / 2.0;
}

}  // namespace

// The handle's line, the ruler tick and the cut of one time fall on one pixel column.
TEST_F(EditorWindowTest, OneTimeIsOnePixelColumn) {
    writeWav16(dir / "D.wav", 44100, 2, 44100 * 60, [](uint32_t, uint16_t) { return int16_t(4096); });
    importThroughPanel({dir / "D.wav"});
    ASSERT_EQ(main->tracks().size(), 1u);

    // The 00:30 tick is tick 10 of the ruler.
    const int tick = 7 + 100;
    QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(tick, 20));
    ASSERT_DOUBLE_EQ(main->playStart(), 30.0);
    WaveformStore::shared().waitForReads();
    QTest::qWait(20);
    const QImage image = main->wavesContainView()->grab().toImage();
    viewtest::saveScreenshot(image, "timeline-columns.png");
    const int top = main->wavesClipView()->verticalScrollBar()->value();
    // The head of the handle covers the tick's foot: the tick is read from the ruler alone.
    const QImage ruler = main->topRulerView()->grab().toImage();
    ASSERT_EQ(main->topRulerView()->x(), 0);
    const double tickColumn = runCentre(ruler, MusicRulerView::rulerHeight - 2, tick - 5, tick + 5, QColor(0x99, 0x99, 0x99));
    const double lineColumn = runCentre(image, top + MusicRulerView::rulerHeight + 4, tick - 5, tick + 5, QColor(0xFC, 0x2C, 0x5C));
    EXPECT_NEAR(tickColumn, tick, 0.5);
    EXPECT_NEAR(lineColumn, tick, 0.5);
    EXPECT_NEAR(main->topControl()->x() + HeaderControlView::handleWidth / 2.0, tick, 0.5);
    EXPECT_EQ(main->bottomControl()->x(), main->topControl()->x());

    // Split at the playhead: the halves meet at 30.0 s, on the same column.
    clickLane(0, 12);
    press(QKeySequence(Qt::CTRL | Qt::Key_T));
    const auto& musics = main->tracks()[0]->musics;
    ASSERT_EQ(musics.size(), 2u);
    EXPECT_EQ(musics[0]->file->length(), 1323000);
    EXPECT_DOUBLE_EQ(musics[1]->startTime, 30.0);
    if (testsupport::haveTool("soxi")) {
        EXPECT_EQ(testsupport::capture("soxi -s " + testsupport::q(musics[0]->file->url().filePath())), "1323000\n");
    }
    const auto& plots = main->lanes()[0]->plots();
    ASSERT_EQ(plots.size(), 2u);
    EXPECT_NEAR(plots[0]->frame.right(), tick, 0.5);
    EXPECT_NEAR(plots[1]->frame.left(), tick, 0.5);

    // A click in the first 14 px of the ruler still moves the playhead (to 0 s before the origin).
    QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(10, 20));
    EXPECT_NEAR(main->playStart(), 0.9, 1e-9);
    QTest::mouseClick(main->topRulerView(), Qt::LeftButton, {}, QPoint(3, 20));
    EXPECT_DOUBLE_EQ(main->playStart(), 0.0);
    EXPECT_EQ(main->topControl()->x(), 0);
}

// A clip dragged near another clip's end snaps to it, with the snap line on that edge's column.
TEST_F(EditorWindowTest, TheSnapLineRunsOnTheNeighboursEdge) {
    importThroughPanel({dir / "A.wav", dir / "B.wav"});
    ASSERT_EQ(main->tracks().size(), 2u);
    QWidget* lane = main->lanes().at(1);
    // B from 0 s towards 10.2 s: within 0.5 s of A's end at 10.0 s.
    QTest::mousePress(lane, Qt::LeftButton, {}, QPoint(12, 24));
    for (int moved = 4; moved <= 32; moved += 4) QTest::mouseMove(lane, QPoint(12 + moved, 24));
    QTest::mouseMove(lane, QPoint(12 + 34, 24));
    QTest::mouseMove(lane, QPoint(12 + 34, 24));  // the pointer holds still: the clip jumps to the edge
    const double edge = main->lanes()[0]->plots()[0]->frame.right();
    EXPECT_TRUE(main->alignLine()->isVisible());
    EXPECT_NEAR(main->alignLine()->x() + 0.5, edge, 0.5);
    EXPECT_NEAR(main->lanes()[1]->plots()[0]->frame.left(), edge, 1e-9);
    QTest::mouseRelease(lane, Qt::LeftButton, {}, QPoint(12 + 34, 24));
    EXPECT_FALSE(main->alignLine()->isVisible());
}

// After undo the selected clip's boxes show the restored values at once.
TEST_F(EditorWindowTest, UndoShowsTheRestoredSelectionAtOnce) {
    importThroughPanel({dir / "A.wav"});
    clickLane(0, 12);
    ASSERT_TRUE(main->canOperate());
    EXPECT_EQ(main->selectedMusicFadeInBtn()->itemText(0), "0.0s") << "no empty first item";
    for (const int seconds : {2, 5}) {
        main->selectedMusicFadeInBtn()->setCurrentIndex(seconds);
        emit main->selectedMusicFadeInBtn()->activated(seconds);
    }
    main->muteClick();
    ASSERT_EQ(main->muteBtn()->property("switchedOn").toBool(), true);

    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(main->muteBtn()->property("switchedOn").toBool(), false);
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(main->selectedMusicFadeInBtn()->currentText(), "2.0s");
    EXPECT_DOUBLE_EQ(main->tracks()[0]->musics[0]->fadeInTime, 2.0);
    EXPECT_TRUE(main->canOperate()) << "the selection follows the restored copy of the clip";
    press(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    EXPECT_EQ(main->selectedMusicFadeInBtn()->currentText(), "5.0s");

    // Undoing the import leaves no clip: the boxes are cleared.
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    press(QKeySequence(Qt::CTRL | Qt::Key_Z));
    if (main->tracks().empty() || main->tracks()[0]->musics.empty()) {
        EXPECT_EQ(Player::shared().selectMusic(), nullptr);
        EXPECT_EQ(main->selectedMusicFadeInBtn()->currentText(), "0.0s");
    }
}

// Ctrl+Q and Ctrl+W ask the close confirmation; "取消" keeps the window.
TEST_F(EditorWindowTest, QuitAndCloseShortcutsAskFirst) {
    importThroughPanel({dir / "A.wav"});
    int quits = 0;
    WindowController::terminateHook() = [&] { ++quits; };
    for (const auto& keys : {QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        SCOPED_TRACE(keys.toString().toStdString());
        press(keys);
        QPointer<QMessageBox> alert = window->closeAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->text(), "请确认制作的音乐已导出，确认关闭工程吗？");
        QAbstractButton* cancel = nullptr;
        for (auto* button : alert->buttons())
            if (button->text() == "取消") cancel = button;
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(quits, 0);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(main->tracks().size(), 1u);
    }
}

// An English desktop sees no Chinese text anywhere in the window; a Chinese one sees the Chinese texts.
TEST(EditorShellTest, TheWindowSpeaksTheDesktopsLanguage) {
    testsupport::ScratchDir dir;
    writeWav16(dir / "A.wav", 44100, 2, 44100, [](uint32_t, uint16_t) { return int16_t(8192); });
    for (const bool english : {true, false}) {
        SCOPED_TRACE(english ? "en" : "zh");
        setPreferredLanguagesForTesting(std::vector<std::string>{english ? "en-US" : "zh-CN"});
        RecordSequence::resetShared();
        MusicFileManager::resetShared();
        HUDView::install();
        {
            WindowController window;
            window.show();
            MainController* main = window.contentViewController();
            main->importMusics({platform::URL(dir / "A.wav")});
            main->tableViewSelectionDidChange(0);
            main->volumeChanged(0.5, CustomSlider::Phase::down);
            main->setPlayStart(0.5);
            main->splitClick();
            ASSERT_TRUE(waitUntil([] { return HUDView::current() != nullptr; }));
            EXPECT_NE(HUDView::current()->window(), nullptr);
            QStringList texts = viewtest::shownTexts(&window);
            texts << QString::fromStdString(HUDView::current()->message().status);
            QStringList han;
            for (const QString& text : texts)
                if (viewtest::hasHan(text)) han << text;
            if (english) {
                EXPECT_TRUE(han.isEmpty()) << han.join(" | ").toStdString();
                EXPECT_TRUE(texts.contains("Help"));
                EXPECT_TRUE(texts.contains("Tamberlo Help"));
                EXPECT_TRUE(texts.contains("Feedback"));
                EXPECT_EQ(ToolManager::volumeStringWith(1.5).rfind("Volume: +", 0), 0u);
            } else {
                EXPECT_TRUE(texts.contains("帮助"));
                EXPECT_TRUE(texts.contains("添加"));
                EXPECT_TRUE(texts.contains("导出"));
            }
            Player::shared().stop();
        }
        HUDView::uninstall();
    }
    Player::shared().setTracks({});
    Player::shared().setSelectMusic(nullptr);
    viewtest::useChinese();
}
