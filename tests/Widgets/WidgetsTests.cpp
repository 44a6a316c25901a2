#include "EditorUI/support/ViewFixtures.h"
#include "TamberloMac/Interface/HUD.h"
#include "Widgets/ColorHelper.h"
#include "Widgets/ColorPopupButtonCell.h"
#include "Widgets/CustomSlider.h"
#include "Widgets/HUDView.h"
#include "Widgets/PanGesture.h"
#include "Widgets/SpaceButtonCell.h"
#include "Widgets/StyledView.h"
#include "Widgets/ViewHelper.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace tamberlo;
using viewtest::near;

TEST(ColorHelper, ReadsHexTextAndHoldsThePalette) {
    struct Case { const char* text; std::optional<QColor> colour; };
    const Case cases[] = {
        {"FC2C5C", QColor(252, 44, 92, 255)},
        {"80FFFFFF", QColor(255, 255, 255, 128)},
        {"f7f7f7", QColor(247, 247, 247)},
        {"FC2C5", std::nullopt},
        {"", std::nullopt},
        {"GGGGGG", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto colour = hexStr(c.text);
        ASSERT_EQ(colour.has_value(), c.colour.has_value()) << c.text;
        if (colour) {
            EXPECT_EQ(colour->rgba(), c.colour->rgba()) << c.text;
        }
    }
    EXPECT_EQ(primary(), *hexStr("FC2C5C"));
    EXPECT_EQ(second(), *hexStr("3B051B"));
    EXPECT_EQ(dark1(), *hexStr("1B1C21"));
    EXPECT_EQ(dark2(), *hexStr("23252A"));
}

TEST(ViewHelper, TagsEdgesFontsAndTextWidth) {
    QWidget parent;
    auto* view = new QWidget(&parent);
    view->setGeometry(10, 20, 30, 40);
    EXPECT_EQ(viewID(view), 0);
    setViewID(view, 7);
    EXPECT_EQ(viewID(view), 7);
    EXPECT_EQ(left(view), 10);
    EXPECT_EQ(right(view), 40);
    EXPECT_EQ(top(view), 20);
    EXPECT_EQ(bottom(view), 60);
    setRight(view, 100);
    setBottom(view, 100);
    EXPECT_EQ(view->geometry(), QRect(70, 60, 30, 40));
    setLeft(view, 0);
    setTop(view, 0);
    EXPECT_EQ(view->geometry(), QRect(0, 0, 30, 40));

    const QFont font = pingfangSC(12);
    EXPECT_EQ(font.pixelSize(), 12);
    // The interface font has the Chinese glyphs, so the texts do not fall back to boxes.
    const QFontMetrics metrics(font);
    for (QChar ch : QString("音量拆分成功导出正在渲染音轨"))
        EXPECT_TRUE(metrics.inFont(ch)) << int(ch.unicode());
    EXPECT_GT(pingfangSC_Medium(12).weight(), font.weight());
    EXPECT_NEAR(widthWithFont("0000", font), 2 * widthWithFont("00", font), 1.0);
    EXPECT_GT(widthWithFont("音量：-6.0dB", font), widthWithFont("-6.0dB", font));

    QPushButton button("添加");
    setTitleColor(&button, Qt::white);
    EXPECT_EQ(button.palette().color(QPalette::ButtonText), QColor(Qt::white));
}

TEST(StyledView, FillsARoundedBackgroundWithABorder) {
    StyledView view;
    view.resize(40, 40);
    view.setBackgroundColor(QColor("#AAAAAA"));
    view.setCornerRadius(10);
    view.setBorderWidth(2);
    view.setBorderColor(Qt::black);
    const QImage image = view.grab().toImage();
    EXPECT_TRUE(near(image.pixelColor(20, 20), QColor("#AAAAAA")));
    EXPECT_TRUE(near(image.pixelColor(20, 0), Qt::black, 40));
    EXPECT_FALSE(near(image.pixelColor(0, 0), QColor("#AAAAAA"), 20));
}

TEST(PanGesture, TellsClicksFromPans) {
    PanGesture gesture;
    gesture.press({10, 10});
    EXPECT_FALSE(gesture.move({12, 11}).has_value());  // within the slop
    EXPECT_EQ(gesture.release({12, 11}), PanGesture::Release::click);

    gesture.press({10, 10});
    EXPECT_EQ(gesture.move({20, 10}), GestureState::began);
    EXPECT_EQ(gesture.translation(), QPointF(10, 0));
    EXPECT_EQ(gesture.move({25, 12}), GestureState::changed);
    EXPECT_EQ(gesture.translation(), QPointF(5, 2));
    EXPECT_EQ(gesture.release({26, 12}), PanGesture::Release::panEnded);
    EXPECT_EQ(gesture.translation(), QPointF(1, 0));
    EXPECT_EQ(gesture.release({26, 12}), PanGesture::Release::none);
}

TEST(CustomSlider, KnobPositionAndMousePhases) {
    QWidget parent;
    auto* slider = new CustomSlider(&parent);
    slider->setGeometry(100, 40, 112, 20);
    slider->setValue(0.0);
    EXPECT_EQ(slider->tickPosition(), QPointF(100 + 9 + 50, 50));
    slider->setValue(-1.0);
    EXPECT_EQ(slider->tickPosition(), QPointF(109, 50));
    slider->setValue(5.0);
    EXPECT_DOUBLE_EQ(slider->value(), 1.0);

    QSignalSpy changes(slider, &CustomSlider::volumeChange);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(34, 10));  // 9 + 25: a quarter of the way
    QTest::mouseMove(slider, QPoint(59, 10));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(59, 10));
    ASSERT_EQ(changes.count(), 3);
    EXPECT_DOUBLE_EQ(changes[0][0].toDouble(), -0.5);
    EXPECT_EQ(changes[0][1].value<CustomSlider::Phase>(), CustomSlider::Phase::down);
    EXPECT_EQ(changes[1][1].value<CustomSlider::Phase>(), CustomSlider::Phase::dragged);
    EXPECT_EQ(changes[2][1].value<CustomSlider::Phase>(), CustomSlider::Phase::up);
    EXPECT_DOUBLE_EQ(changes[2][0].toDouble(), 0.0);
}

namespace {

class HUDViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(480, 320);
        window.setAutoFillBackground(true);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(0x1B, 0x1C, 0x21));
        window.setPalette(palette);
        window.show();
        HUDView::install([this] { return &window; });
        HUD::dismiss();
    }
    void TearDown() override {
        HUD::setMessageLifetime(1.0);
        HUD::dismiss();
        HUDView::uninstall();
    }
    bool shows(const std::string& status) {
        return HUDView::current() && HUDView::current()->message().status == status;
    }

    QWidget window;
};

}  // namespace

TEST_F(HUDViewTest, DrawsTheMessageOnALightPanelOverTheWindow) {
    struct Case { const char* status; HUD::Kind kind; const char* file; };
    const Case cases[] = {
        {"导出成功", HUD::Kind::success, "overlay-success.png"},
        {"正在渲染音轨...", HUD::Kind::progress, "overlay-progress.png"},
        {"没有可以播放的音轨", HUD::Kind::info, "overlay-info.png"},
        {"导出失败", HUD::Kind::error, "overlay-error.png"},
    };
    for (const auto& c : cases) {
        switch (c.kind) {
        case HUD::Kind::success: HUD::showSuccessWithStatus(c.status); break;
        case HUD::Kind::progress: HUD::showProgressWithStatus(c.status); break;
        case HUD::Kind::info: HUD::showInfoWithStatus(c.status); break;
        case HUD::Kind::error: HUD::showErrorWithStatus(c.status); break;
        }
        ASSERT_TRUE(viewtest::waitUntil([&] { return shows(c.status); })) << c.status;
        HUDView* view = HUDView::current();
        EXPECT_EQ(view->parentWidget(), &window);
        EXPECT_EQ(view->geometry(), window.rect());
        EXPECT_EQ(view->message().kind, c.kind);

        const QImage image = window.grab().toImage();
        viewtest::saveScreenshot(image, c.file);
        const QRect panel = view->panelRect().toAlignedRect();
        EXPECT_TRUE(near(image.pixelColor(panel.left() + 4, panel.center().y()), QColor(0xF7, 0xF7, 0xF7)));
        EXPECT_TRUE(near(image.pixelColor(panel.left() - 3, panel.center().y()), QColor(0x1B, 0x1C, 0x21)));
        // Rounded corners (radius 10): the very corner shows the window.
        EXPECT_FALSE(near(image.pixelColor(panel.left(), panel.top()), QColor(0xF7, 0xF7, 0xF7)));
        // The text is drawn: dark ink in the lower part of the panel.
        int ink = 0;
        for (int y = panel.top() + 60; y < panel.bottom(); ++y)
            for (int x = panel.left(); x < panel.right(); ++x)
                if (image.pixelColor(x, y).lightness() < 120) ++ink;
        EXPECT_GT(ink, 40) << c.status;
    }
}

TEST_F(HUDViewTest, MessagesCloseThemselvesAndAProgressStays) {
    HUD::setMessageLifetime(0.5);
    HUD::showProgressWithStatus("正在渲染音轨...");
    ASSERT_TRUE(viewtest::waitUntil([&] { return shows("正在渲染音轨..."); }));
    QTest::qWait(600);
    EXPECT_TRUE(shows("正在渲染音轨..."));

    // A success, then an error 0.25 s later: the success's dismissal removes the error at 0.5 s,
    // well before its own at 0.75 s (the margin is for a loaded machine).
    QElapsedTimer clock;
    clock.start();
    HUD::showSuccessWithStatus("导出成功");
    ASSERT_TRUE(viewtest::waitUntil([&] { return shows("导出成功"); }));
    QTest::qWait(250);
    HUD::showErrorWithStatus("导出失败");
    ASSERT_TRUE(viewtest::waitUntil([&] { return shows("导出失败"); }));
    ASSERT_TRUE(viewtest::waitUntil([&] { return HUDView::current() == nullptr; }, 2000));
    EXPECT_LT(clock.elapsed(), 700);
    EXPECT_FALSE(HUD::current().has_value());
}

namespace {

// The leftmost and rightmost columns holding a pixel near `colour`.
std::pair<int, int> columnsOf(const QImage& image, const QColor& colour) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (near(image.pixelColor(x, y), colour, 30)) {
                if (first < 0) first = x;
                last = x;
                break;
            }
    return {first, last};
}

}  // namespace

TEST(SpaceButtonCell, ImageAndTitleAreCentredAsOneGroup) {
    SpaceButtonCell free(nullptr);
    free.horizontalImagePadding = 10;
    EXPECT_EQ(free.imageFrame(QRectF(0, 3, 20, 20), 100, 30, true), QRectF(20, 3, 20, 20));
    EXPECT_EQ(free.titleFrame(QRectF(0, 0, 30, 34), 100, 20, true), QRectF(50, 0, 30, 34));
    EXPECT_EQ(free.imageFrame(QRectF(5, 3, 20, 20), 100, 0, false), QRectF(5, 3, 20, 20)) << "no title: unchanged";
    EXPECT_EQ(free.titleFrame(QRectF(5, 0, 30, 34), 100, 0, false), QRectF(5, 0, 30, 34)) << "no image: unchanged";

    for (const double padding : {0.0, 12.0}) {
        SCOPED_TRACE(padding);
        QPixmap red(16, 16);
        red.fill(Qt::red);
        QPushButton button(QIcon(red), "WWWW");
        button.setFixedSize(200, 34);
        button.setIconSize(QSize(16, 16));
        button.setFont(pingfangSC_Medium(13));
        button.setStyleSheet("QPushButton { background: #33353B; border: none; border-radius: 6px; }");
        setTitleColor(&button, Qt::white);
        auto* cell = new SpaceButtonCell(&button);
        cell->horizontalImagePadding = padding;
        const QImage image = button.grab().toImage();
        const double titleWidth = QFontMetricsF(button.font()).horizontalAdvance("WWWW");
        const auto [imageLeft, imageRight] = columnsOf(image, Qt::red);
        const auto [titleLeft, titleRight] = columnsOf(image, Qt::white);
        EXPECT_NEAR(imageLeft, (200 - titleWidth - 16 - padding) / 2, 1.0);
        EXPECT_NEAR(titleLeft - imageRight - 1, padding, 2.5) << "the gap is the padding";
        // The group is centred: as much room on the left as on the right.
        EXPECT_NEAR(imageLeft, 200 - 1 - titleRight, 3.0);
        EXPECT_TRUE(near(image.pixelColor(100, 2), QColor(0x33, 0x35, 0x3B), 8)) << "the style's background";
    }
}

TEST(ColorPopupButtonCell, TheTitleTakesTheColourOnlyWhenSet) {
    const auto makePopUp = [](QComboBox& popUp) {
        popUp.addItems({"2.0s", "3.0s"});
        popUp.setFixedSize(90, 26);
        popUp.setStyleSheet("QComboBox { background: #33353B; border: none; padding: 3px 8px; }");
    };
    QComboBox plain, uncoloured, coloured;
    for (auto* popUp : {&plain, &uncoloured, &coloured}) makePopUp(*popUp);
    new ColorPopupButtonCell(&uncoloured);
    (new ColorPopupButtonCell(&coloured))->textColor = QColor(0, 255, 0);
    EXPECT_EQ(uncoloured.grab().toImage(), plain.grab().toImage()) << "no colour: drawn as the plain pop-up";
    EXPECT_GE(columnsOf(coloured.grab().toImage(), QColor(0, 255, 0)).first, 0);
    EXPECT_LT(columnsOf(plain.grab().toImage(), QColor(0, 255, 0)).first, 0);
}
