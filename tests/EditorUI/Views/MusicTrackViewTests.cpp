#include "EditorUI/Views/MusicTrackView.h"
#include "EditorUI/Views/TBPopLabel.h"
#include "EditorUI/support/ViewFixtures.h"
#include "TamberloMac/Interface/ToolManager.h"
#include "main/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace tamberlo;

namespace {

bool switchedOn(const QPushButton* button) { return button->styleSheet().contains("black"); }

QAbstractButton* alertButton(QMessageBox* alert, const QString& title) {
    for (auto* button : alert->buttons())
        if (button->text() == title) return button;
    return nullptr;
}

class MusicTrackViewTest : public ::testing::Test {
protected:
    void SetUp() override { viewtest::useChinese(); }
};

}  // namespace

TEST_F(MusicTrackViewTest, BindsTheTrack) {
    auto track = viewtest::makeTrack({}, "晨曲.wav");
    track->isMute = true;
    MusicTrackView row;
    row.setModel(track);
    EXPECT_EQ(row.height(), 56);
    EXPECT_EQ(row.nameLab()->text(), QString("晨曲.wav"));
    EXPECT_TRUE(switchedOn(row.muteBtn()));
    EXPECT_FALSE(switchedOn(row.onlyPlayBtn()));
    EXPECT_DOUBLE_EQ(row.slider()->value(), 0.0);
    EXPECT_EQ(row.muteBtn()->toolTip(), QString("静音"));
    EXPECT_EQ(row.onlyPlayBtn()->toolTip(), QString("只听"));
    EXPECT_EQ(row.deleteBtn()->toolTip(), QString("删除"));
    EXPECT_EQ(row.volumeImgV()->toolTip(), QString("音量"));
    EXPECT_EQ(row.copyAction()->text(), QString("复制音轨"));
    EXPECT_EQ(row.copyAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    EXPECT_EQ(row.deleteAction()->text(), QString("删除音轨"));
    EXPECT_EQ(row.muteBtn()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(row.slider()->focusPolicy(), Qt::NoFocus);

    QImage image = row.grab().toImage();
    viewtest::saveScreenshot(image, "track-row.png");
}

// The volume changes only when the knob is released; the bubble follows the knob meanwhile.
TEST_F(MusicTrackViewTest, SliderSetsTheVolumeOnRelease) {
    auto track = viewtest::makeTrack({});
    MusicTrackView row;
    row.resize(240, 56);
    row.setModel(track);
    QSignalSpy dragging(&row, &MusicTrackView::sliderDraggingBlock);
    QSignalSpy ended(&row, &MusicTrackView::sliderDragEndBlock);

    row.volumeChange(-0.5, CustomSlider::Phase::dragged);
    EXPECT_DOUBLE_EQ(track->volume, 1.0);
    ASSERT_EQ(dragging.count(), 1);
    EXPECT_FLOAT_EQ(dragging[0][1].toFloat(), 0.5f);
    EXPECT_EQ(dragging[0][0].toPointF(), row.slider()->tickPosition());
    EXPECT_EQ(ToolManager::volumeStringWith(dragging[0][1].toFloat()), "音量：-6.0dB");

    row.volumeChange(-0.5, CustomSlider::Phase::up);
    EXPECT_DOUBLE_EQ(track->volume, 0.5);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(dragging.count(), 1);

    row.volumeChange(0.5, CustomSlider::Phase::up);
    EXPECT_DOUBLE_EQ(track->volume, 1.5);
    row.setModel(track);
    EXPECT_DOUBLE_EQ(row.slider()->value(), 0.5);

    // The same through the mouse: press at the knob's place for -0.5, drag, release.
    const QPointF knob(9 + 0.25 * (row.slider()->width() - 12), 10);
    QTest::mousePress(row.slider(), Qt::LeftButton, {}, knob.toPoint());
    QTest::mouseMove(row.slider(), knob.toPoint() + QPoint(1, 0));
    QTest::mouseRelease(row.slider(), Qt::LeftButton, {}, knob.toPoint());
    EXPECT_NEAR(track->volume, 0.5, 1.0 / (row.slider()->width() - 12));
    EXPECT_EQ(dragging.count(), 3);
    EXPECT_EQ(ended.count(), 3);
}

TEST_F(MusicTrackViewTest, MuteTogglesAtOnceAndSoloFollowsTheWindowsChoice) {
    auto a = viewtest::makeTrack({}, "a");
    auto b = viewtest::makeTrack({}, "b");
    MusicTrackView rowA, rowB;
    rowA.setModel(a);
    rowB.setModel(b);

    rowA.muteClick();
    EXPECT_TRUE(a->isMute);
    EXPECT_TRUE(switchedOn(rowA.muteBtn()));
    rowA.muteClick();
    EXPECT_FALSE(a->isMute);
    EXPECT_FALSE(switchedOn(rowA.muteBtn()));

    // The window's solo rule: the clicked track toggles, every other one is cleared.
    const std::vector<std::shared_ptr<TrackModel>> tracks{a, b};
    auto solo = [&](const std::shared_ptr<TrackModel>& clicked) {
        for (auto& t : tracks) t->isOnlyPlay = t == clicked ? !t->isOnlyPlay : false;
    };
    QObject::connect(&rowA, &MusicTrackView::onlyPlayBlock, [&] { solo(a); });
    QObject::connect(&rowB, &MusicTrackView::onlyPlayBlock, [&] { solo(b); });

    QTest::mouseClick(rowA.onlyPlayBtn(), Qt::LeftButton);
    EXPECT_TRUE(a->isOnlyPlay);
    EXPECT_TRUE(switchedOn(rowA.onlyPlayBtn()));
    QTest::mouseClick(rowB.onlyPlayBtn(), Qt::LeftButton);
    EXPECT_FALSE(a->isOnlyPlay);
    EXPECT_TRUE(b->isOnlyPlay);
    EXPECT_FALSE(switchedOn(rowA.onlyPlayBtn()));
    EXPECT_TRUE(switchedOn(rowB.onlyPlayBtn()));
}

TEST_F(MusicTrackViewTest, DeleteAsksFirstAndCancelKeepsTheTrack) {
    QWidget window;
    window.resize(400, 300);
    auto* row = new MusicTrackView(&window);
    row->setModel(viewtest::makeTrack({}));
    window.show();
    QSignalSpy deleted(row, &MusicTrackView::deleteBlock);

    row->deleteClick();
    QMessageBox* alert = row->deleteAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_EQ(alert->text(), QString("确认删除音轨？"));
    ASSERT_EQ(alert->buttons().size(), 2);
    EXPECT_EQ(alert->buttons()[0]->text(), QString("确定"));
    EXPECT_EQ(alert->buttons()[1]->text(), QString("取消"));
    viewtest::saveScreenshot(alert->grab().toImage(), "delete-alert.png");

    alertButton(alert, "取消")->click();
    EXPECT_EQ(deleted.count(), 0);
    ASSERT_TRUE(viewtest::waitUntil([&] { return row->deleteAlert() == nullptr; }));

    row->deleteClick();
    alertButton(row->deleteAlert(), "确定")->click();
    EXPECT_EQ(deleted.count(), 1);
}

TEST_F(MusicTrackViewTest, CopyHandsTheDuplicateToTheWindow) {
    testsupport::ScratchDir dir;
    auto track = viewtest::makeTrack({viewtest::makeClip(dir / "a.wav", 1.0, 2.0)}, "song.wav");
    MusicTrackView row;
    row.setModel(track);
    std::shared_ptr<TrackModel> copy;
    QObject::connect(&row, &MusicTrackView::copyBlock, [&](std::shared_ptr<TrackModel> made) { copy = made; });
    row.copyAction()->trigger();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->name, "song-1.wav");
    EXPECT_NE(copy->identify, track->identify);
    ASSERT_EQ(copy->musics.size(), 1u);
    EXPECT_DOUBLE_EQ(copy->musics[0]->startTime, 2.0);
}

// The bubble hangs 10 px under the point it shows, text width + 14 wide.
TEST_F(MusicTrackViewTest, VolumeBubbleIsTextWidthPlusFourteenWide) {
    QWidget root;
    root.resize(400, 300);
    TBPopLabel bubble(&root);
    bubble.hide();
    EXPECT_EQ(bubble.height(), 35);
    const QString text = QString::fromStdString(ToolManager::volumeStringWith(0.5));
    EXPECT_EQ(text, QString("音量：-6.0dB"));
    bubble.showAtPoint(QPointF(100, 200), text);
    const double w = bubble.getTextSize().width() + 14;
    EXPECT_EQ(bubble.width(), int(std::lround(w)));
    EXPECT_EQ(bubble.x(), int(std::lround(100 - w / 2)));
    EXPECT_EQ(bubble.y(), 210);
    EXPECT_FALSE(bubble.isHidden());
    EXPECT_EQ(bubble.label()->text(), text);

    root.setAutoFillBackground(true);
    QPalette palette = root.palette();
    palette.setColor(QPalette::Window, QColor(0x1B, 0x1C, 0x21));
    root.setPalette(palette);
    root.show();
    const QImage image = root.grab().toImage();
    viewtest::saveScreenshot(image.copy(40, 190, 120, 60), "volume-bubble.png");
    const QPoint body = bubble.geometry().topRight() + QPoint(-6, 14);
    EXPECT_TRUE(viewtest::near(image.pixelColor(body), Qt::white));
    EXPECT_TRUE(viewtest::near(image.pixelColor(100, 205), QColor(0x1B, 0x1C, 0x21)));  // above the arrow
}
