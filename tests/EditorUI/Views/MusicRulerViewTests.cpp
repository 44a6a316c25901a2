#include "EditorUI/Views/MusicRulerView.h"
#include "EditorUI/support/ViewFixtures.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace tamberlo;
using viewtest::near;

namespace {

const QColor tick(0x99, 0x99, 0x99);

// Height of the tick column at x, counted up from the lower edge.
int tickHeight(const QImage& image, int x) {
    int h = 0;
    while (h < image.height() && near(image.pixelColor(x, image.height() - 1 - h), tick, 8)) ++h;
    return h;
}

QImage render(MusicRulerView& ruler, const QRegion& region) {
    QImage image(ruler.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    ruler.render(&image, QPoint(), region, QWidget::DrawChildren);
    return image;
}

}  // namespace

TEST(MusicRulerView, DrawsTicksAndLabelsOverATimeline) {
    MusicRulerView ruler;
    ruler.resize(2166, MusicRulerView::rulerHeight);
    const QImage image = render(ruler, QRegion(ruler.rect()));

    // Ticks are the runs of tick colour along the lower edge, from the time origin 7 px in: 0 … 214.
    int ticks = 0;
    for (int x = 0; x < image.width(); ++x) {
        const bool on = near(image.pixelColor(x, image.height() - 1), tick, 8);
        const bool before = x > 0 && near(image.pixelColor(x - 1, image.height() - 1), tick, 8);
        if (on && !before) ++ticks;
    }
    EXPECT_EQ(ticks, 215);

    struct Case { int x; int height; };
    for (const Case c : {Case{47, 4}, Case{57, 8}, Case{107, 12}, Case{2137, 4}, Case{2117, 4}, Case{7, 12}})
        EXPECT_EQ(tickHeight(image, c.x), c.height) << "x = " << c.x;
    EXPECT_EQ(tickHeight(image, 52), 0);
    EXPECT_EQ(tickHeight(image, 3), 0) << "nothing before the origin";

    // A label is drawn over every tenth tick, above it, and nowhere between.
    auto inkAround = [&](int x) {
        int ink = 0;
        for (int y = image.height() - 30; y < image.height() - 14; ++y)
            for (int dx = -14; dx <= 14; ++dx)
                if (image.pixelColor(x + dx, y).lightness() < 200) ++ink;
        return ink;
    };
    EXPECT_GT(inkAround(107), 20);
    EXPECT_GT(inkAround(2107), 20);
    EXPECT_EQ(inkAround(157), 0);
    viewtest::saveScreenshot(image.copy(0, 0, 700, image.height()), "ruler.png");
}

TEST(MusicRulerView, LabelsCountMinutesAndSeconds) {
    struct Case { int tick; const char* text; };
    for (const Case c : {Case{0, "00:00"}, Case{10, "00:30"}, Case{20, "01:00"}, Case{210, "10:30"},
                         Case{2000, "100:00"}})
        EXPECT_EQ(MusicRulerView::label(c.tick).toStdString(), c.text);
}

// A repaint of a part far from the left edge still gets its ticks.
TEST(MusicRulerView, PartialRepaintDrawsTheExposedTicks) {
    MusicRulerView ruler;
    ruler.resize(2166, MusicRulerView::rulerHeight);
    // render() puts the region's content at the image's origin: x 1000 of the ruler is x 0 here.
    const QImage image = render(ruler, QRegion(1000, 0, 120, ruler.height()));
    EXPECT_EQ(tickHeight(image, 7), 12);
    EXPECT_EQ(tickHeight(image, 57), 8);
    EXPECT_EQ(tickHeight(image, 117), 4);
}

TEST(MusicRulerView, AClickReportsItsXAndADragDoesNot) {
    MusicRulerView ruler;
    ruler.resize(2166, MusicRulerView::rulerHeight);
    QSignalSpy clicks(&ruler, &MusicRulerView::clicked);
    QTest::mouseClick(&ruler, Qt::LeftButton, {}, QPoint(100, 10));
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_DOUBLE_EQ(clicks[0][0].toDouble(), 100.0);

    QTest::mousePress(&ruler, Qt::LeftButton, {}, QPoint(100, 10));
    QTest::mouseMove(&ruler, QPoint(140, 10));
    QTest::mouseRelease(&ruler, Qt::LeftButton, {}, QPoint(140, 10));
    EXPECT_EQ(clicks.count(), 1);
}
