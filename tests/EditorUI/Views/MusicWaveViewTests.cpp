#include "EditorUI/Views/MusicWaveView.h"
#include "EditorUI/Views/WaveformStore.h"
#include "EditorUI/support/ViewFixtures.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Playback/Player.h"
#include "main/TestSupport.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace tamberlo;
using viewtest::makeClip;
using viewtest::makeTrack;
using viewtest::near;

namespace {

const QColor clipColour(0x3B, 0x05, 0x1B);
const QColor selectedColour(0xFC, 0x2C, 0x5C);

class MusicWaveViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        RecordSequence::resetShared();
        Player::shared().setSelectMusic(nullptr);
        lane.resize(2166, MusicWaveView::laneHeight);
    }
    void TearDown() override { Player::shared().setSelectMusic(nullptr); }

    std::shared_ptr<MusicModel> clip(const std::string& name, double seconds, double start, double amplitude = 0.1) {
        return makeClip(dir / name, seconds, start, amplitude);
    }
    QImage grab() { return lane.grab().toImage(); }

    testsupport::ScratchDir dir;
    MusicWaveView lane;
};

}  // namespace

TEST_F(MusicWaveViewTest, PaintsAClipAtItsTimeInItsColour) {
    auto a = clip("a.wav", 4.0, 6.0);
    lane.setModel(makeTrack({a}));
    ASSERT_EQ(lane.plots().size(), 1u);
    const QRectF frame = lane.plots()[0]->frame;
    EXPECT_DOUBLE_EQ(frame.left(), 7 + 20.0);  // the time origin is 7 px in
    EXPECT_NEAR(frame.width(), 13.333, 0.001);
    EXPECT_DOUBLE_EQ(frame.height(), 48.0);

    QImage image = grab();
    const QColor background = image.pixelColor(5, 5);
    EXPECT_TRUE(near(image.pixelColor(33, 6), clipColour)) << image.pixelColor(33, 6).name().toStdString();
    EXPECT_TRUE(near(image.pixelColor(28, 24), clipColour));
    EXPECT_TRUE(near(image.pixelColor(39, 24), clipColour));
    EXPECT_TRUE(near(image.pixelColor(26, 24), background));
    EXPECT_TRUE(near(image.pixelColor(41, 24), background));
    // The rounded corner leaves the very corner pixel out.
    EXPECT_FALSE(near(image.pixelColor(27, 0), clipColour));

    Player::shared().setSelectMusic(a);
    image = grab();
    EXPECT_TRUE(near(image.pixelColor(33, 6), selectedColour));
    Player::shared().setSelectMusic(nullptr);
    EXPECT_TRUE(near(grab().pixelColor(33, 6), clipColour));
}

TEST_F(MusicWaveViewTest, ShowsTheBadgesOfFadesAndMuteInOrder) {
    auto a = clip("a.wav", 30.0, 0.0);
    a->fadeOutTime = 2.0;
    a->isMute = true;
    lane.setModel(makeTrack({a}));
    const auto& plot = *lane.plots()[0];
    EXPECT_EQ(plot.shownBadges(), (std::vector<WavePlotView::Badge>{WavePlotView::Badge::fadeOut, WavePlotView::Badge::mute}));
    const auto rects = plot.badgeRects();
    ASSERT_EQ(rects.size(), 2u);
    EXPECT_EQ(rects[0], QRectF(7 + 4, 2, 12, 12));
    EXPECT_EQ(rects[1], QRectF(7 + 22, 2, 12, 12));

    const QImage image = grab();
    auto darker = [&](int x, int y) { return image.pixelColor(x, y).lightness() < clipColour.lightness() - 3; };
    EXPECT_TRUE(darker(12, 3));   // first badge's corner area
    EXPECT_TRUE(darker(30, 3));   // second badge
    EXPECT_TRUE(near(image.pixelColor(26, 4), clipColour));  // the gap between them
    EXPECT_TRUE(near(image.pixelColor(52, 4), clipColour));  // no third badge
    EXPECT_TRUE(near(image.pixelColor(17, 16), clipColour)); // 12 px tall, 2 px from the top

    a->fadeInTime = 1.0;
    lane.updateMusics();
    EXPECT_EQ(lane.plots()[0]->badgeRects().size(), 3u);
    EXPECT_EQ(lane.plots()[0]->shownBadges().front(), WavePlotView::Badge::fadeIn);
}

// The waveform is read with a file handle of its own: the clip's shared file keeps its position.
TEST_F(MusicWaveViewTest, DrawsTheWaveformReadOnAWorkerWithoutMovingTheClipsFile) {
    auto a = clip("loud.wav", 20.0, 0.0, 0.9);
    a->file->setFramePosition(1234);
    lane.setModel(makeTrack({a}));
    ASSERT_TRUE(viewtest::waitUntil([&] { return lane.plots()[0]->waveform() != nullptr; }));
    EXPECT_EQ(lane.plots()[0]->waveform()->size(), size_t(WaveformStore::points));
    EXPECT_EQ(a->file->framePosition(), 1234);

    const QImage image = grab();
    int white = 0;
    for (int x = 9; x < 71; ++x)
        if (near(image.pixelColor(x, 14), Qt::white, 20)) ++white;
    EXPECT_GT(white, 50);  // a loud sine fills most of the lane's height
    viewtest::saveScreenshot(image.copy(0, 0, 120, 48), "lane-waveform.png");
}

TEST_F(MusicWaveViewTest, AnUnreadableFileLeavesThePlotEmpty) {
    auto a = clip("gone.wav", 4.0, 0.0);
    std::filesystem::resize_file(dir / "gone.wav", 10);
    lane.setModel(makeTrack({a}));
    WaveformStore::shared().waitForReads();
    QCoreApplication::processEvents();
    ASSERT_NE(lane.plots()[0]->waveform(), nullptr);
    EXPECT_TRUE(lane.plots()[0]->waveform()->empty());
    EXPECT_TRUE(near(grab().pixelColor(13, 24), clipColour));
}

TEST_F(MusicWaveViewTest, DragStopsAtTheLaneStartAndAtTheNeighbours) {
    auto a = clip("a.wav", 4.0, 0.0);
    auto b = clip("b.wav", 4.0, 6.0);
    auto c = clip("c.wav", 4.0, 20.0);
    auto track = makeTrack({a, b, c});
    lane.setModel(track);
    QSignalSpy ended(&lane, &MusicWaveView::updateTrack);

    lane.waveDidPan(0, QPointF(-50, 0), GestureState::began);
    lane.waveDidPan(0, QPointF(0, 0), GestureState::ended);
    EXPECT_DOUBLE_EQ(a->startTime, 0.0);
    EXPECT_EQ(ended.count(), 1);

    lane.waveDidPan(1, QPointF(-100, 0), GestureState::began);
    EXPECT_NEAR(b->startTime, 4.0, 1e-9);  // its start against a's end
    lane.waveDidPan(1, QPointF(1000, 0), GestureState::changed);
    EXPECT_NEAR(b->startTime, 16.0, 1e-9);  // its end against c's start
    EXPECT_EQ(Player::shared().selectMusic(), b);
    EXPECT_TRUE(near(lane.plots()[1]->backgroundColor, selectedColour));
    EXPECT_TRUE(near(lane.plots()[0]->backgroundColor, clipColour));

    lane.waveDidPan(2, QPointF(5000, 0), GestureState::began);
    EXPECT_NEAR(c->startTime + c->duration(), (2166 - 7) * 0.3, 1e-9);  // the lane's end
}

TEST_F(MusicWaveViewTest, MouseClickSelectsAndMouseDragMovesByThePointersTravel) {
    auto b = clip("b.wav", 4.0, 0.0);
    lane.setModel(makeTrack({b}));
    QSignalSpy ended(&lane, &MusicWaveView::updateTrack);

    QTest::mouseClick(&lane, Qt::LeftButton, {}, QPoint(13, 24));
    EXPECT_EQ(Player::shared().selectMusic(), b);
    EXPECT_EQ(ended.count(), 0);

    QTest::mousePress(&lane, Qt::LeftButton, {}, QPoint(13, 24));
    QTest::mouseMove(&lane, QPoint(23, 24));
    QTest::mouseMove(&lane, QPoint(33, 24));
    QTest::mouseRelease(&lane, Qt::LeftButton, {}, QPoint(33, 24));
    EXPECT_NEAR(b->startTime, 6.0, 1e-9);  // 20 px = 6 s
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(MusicWaveViewTest, SnapLineAppearsNearAnotherClipsEdge) {
    auto moving = clip("moving.wav", 2.0, 0.0);
    auto other = clip("other.wav", 4.0, 10.0);
    auto own = makeTrack({moving});
    auto second = makeTrack({other});
    RecordSequence::shared().record({own, second});
    lane.setModel(own);
    QSignalSpy align(&lane, &MusicWaveView::alignBlock);

    // 10.3 s: the comparison uses the start of the previous event, so the line shows on the next.
    lane.waveDidPan(0, QPointF(10.3 * 10 / 3, 0), GestureState::began);
    ASSERT_EQ(align.count(), 1);
    EXPECT_FALSE(align[0][0].toBool());
    lane.waveDidPan(0, QPointF(0, 0), GestureState::changed);
    ASSERT_EQ(align.count(), 2);
    EXPECT_TRUE(align[1][0].toBool());
    EXPECT_NEAR(align[1][1].toDouble(), 7 + 100.0 / 3, 1e-9);
    EXPECT_NEAR(lane.plots()[0]->frame.left(), 7 + 100.0 / 3, 1e-9);  // held still: the view snaps
    EXPECT_NEAR(moving->startTime, 10.3, 1e-9);                   // the clip keeps the dragged x

    // Near another clip's end (14.0 s), and the line goes away when the drag ends.
    lane.waveDidPan(0, QPointF(14.2 * 10 / 3 - 100.0 / 3, 0), GestureState::changed);
    EXPECT_NEAR(moving->startTime, 14.2, 1e-9);
    lane.waveDidPan(0, QPointF(0, 0), GestureState::changed);
    EXPECT_TRUE(align.last()[0].toBool());
    EXPECT_NEAR(align.last()[1].toDouble(), 7 + 14.0 * 10 / 3, 1e-9);
    lane.waveDidPan(0, QPointF(200, 0), GestureState::ended);
    EXPECT_FALSE(align.last()[0].toBool());
}

TEST_F(MusicWaveViewTest, AClipsOwnEdgesNeverSnapButItsTracksOtherClipsDo) {
    auto a = clip("a.wav", 4.0, 0.0);
    auto b = clip("b.wav", 2.0, 4.3);
    auto track = makeTrack({a, b});
    RecordSequence::shared().record({track});
    lane.setModel(track);
    QSignalSpy align(&lane, &MusicWaveView::alignBlock);

    lane.waveDidPan(1, QPointF(0, 0), GestureState::began);  // 4.3 s is 0.3 s after a's end
    EXPECT_TRUE(align.last()[0].toBool());
    EXPECT_NEAR(align.last()[1].toDouble(), 7 + 4.0 * 10 / 3, 1e-9);

    lane.waveDidPan(1, QPointF(100, 0), GestureState::changed);  // 34.3 s: nothing near
    lane.waveDidPan(1, QPointF(0, 0), GestureState::changed);
    EXPECT_FALSE(align.last()[0].toBool());
}

TEST_F(MusicWaveViewTest, MovedClipsArePositionedAndNewClipsRebuildTheViews) {
    auto a = clip("a.wav", 4.0, 0.0);
    auto b = clip("b.wav", 4.0, 6.0);
    auto track = makeTrack({a, b});
    lane.setModel(track);
    const WavePlotView* first = lane.plots()[0].get();

    b->startTime = 9.0;
    lane.setModel(track);
    EXPECT_EQ(lane.plots()[0].get(), first);
    EXPECT_DOUBLE_EQ(lane.plots()[1]->frame.left(), 7 + 30.0);

    // History copies keep identities: still no rebuild.
    lane.setModel(track->newCopy());
    EXPECT_EQ(lane.plots()[0].get(), first);

    auto c = clip("c.wav", 1.0, 20.0);
    track->musics.push_back(c);
    lane.setModel(track);
    ASSERT_EQ(lane.plots().size(), 3u);
    EXPECT_NE(lane.plots()[0].get(), first);
    EXPECT_EQ(lane.plots()[2]->viewID, 2);

    lane.setModel(nullptr);
    EXPECT_TRUE(lane.plots().empty());
}
