#include "EditorUI/Views/CustomScrollView.h"
#include "EditorUI/Views/DragView.h"
#include "EditorUI/Views/HeaderControlView.h"
#include "EditorUI/support/ViewFixtures.h"

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace tamberlo;

TEST(DragView, DropsOfFilesReachTheCompletionAndOtherDropsAreRefused) {
    DragView view;
    auto* child = new QLabel("lanes", &view);  // drops over children land on the view
    view.resize(200, 100);
    child->setGeometry(0, 0, 100, 50);
    std::vector<std::vector<platform::URL>> received;
    QObject::connect(&view, &DragView::dragComplete,
                     [&](const std::vector<platform::URL>& urls) { received.push_back(urls); });
    EXPECT_TRUE(view.acceptDrops());
    EXPECT_FALSE(child->acceptDrops());

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.wav"), QUrl("https://example.com/b.wav"), QUrl::fromLocalFile("/tmp/c")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(view.dragEntered());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(view.dragEntered());
    ASSERT_EQ(received.size(), 1u);
    ASSERT_EQ(received[0].size(), 2u);  // local files only
    EXPECT_EQ(received[0][0].path(), "/tmp/a.wav");
    EXPECT_EQ(received[0][1].path(), "/tmp/c");

    QMimeData text;
    text.setText("not a file");
    QDragEnterEvent textEnter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &textEnter);
    EXPECT_FALSE(textEnter.isAccepted());
    EXPECT_FALSE(view.performDragOperation(&text));

    QMimeData webOnly;
    webOnly.setUrls({QUrl("https://example.com/b.wav")});
    EXPECT_TRUE(view.performDragOperation(&webOnly));
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[1].empty());
}

TEST(HeaderControlView, ReportsThePointerWhileDraggedAndKeepsItsCursor) {
    QWidget container;
    container.resize(400, 200);
    auto* handle = HeaderControlView::initNib(&container);
    handle->setGeometry(50, 0, HeaderControlView::handleWidth, 200);
    EXPECT_EQ(handle->width(), 14);
    QSignalSpy pans(handle, &HeaderControlView::controlDidPan);

    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(7, 50));
    QTest::mouseMove(handle, QPoint(27, 50));
    handle->setIsDragging(true);
    EXPECT_EQ(handle->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(handle->cursor().hotSpot(), QPoint(11, 0));
    QTest::mouseMove(handle, QPoint(47, 50));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(47, 50));
    ASSERT_EQ(pans.count(), 3);
    EXPECT_EQ(pans[0][0].toPointF(), QPointF(27, 50));
    EXPECT_EQ(pans[0][1].value<GestureState>(), GestureState::began);
    EXPECT_EQ(pans[1][1].value<GestureState>(), GestureState::changed);
    EXPECT_EQ(pans[2][1].value<GestureState>(), GestureState::ended);
    handle->setIsDragging(false);

    const QImage image = container.grab(QRect(40, 0, 40, 60)).toImage();
    EXPECT_TRUE(viewtest::near(image.pixelColor(17, 40), QColor(0xFC, 0x2C, 0x5C), 40));  // the line at 7
    EXPECT_TRUE(viewtest::near(image.pixelColor(17, 3), QColor(0xFC, 0x2C, 0x5C)));       // the head
}

TEST(CustomScrollView, DarkScrollersAndARedCornerWhenBothShow) {
    CustomScrollView view;
    view.resize(200, 150);
    auto* content = new QWidget;
    content->resize(800, 600);
    view.setWidget(content);
    view.show();
    QApplication::processEvents();
    auto* horizontal = qobject_cast<CustomScroller*>(view.horizontalScrollBar());
    ASSERT_NE(horizontal, nullptr);
    ASSERT_NE(qobject_cast<CustomScroller*>(view.verticalScrollBar()), nullptr);
    EXPECT_EQ(horizontal->height(), CustomScroller::thickness);

    const QImage image = view.grab().toImage();
    viewtest::saveScreenshot(image, "scroll-view.png");
    EXPECT_TRUE(viewtest::near(image.pixelColor(view.width() - 3, view.height() - 3), Qt::red));
    const QRect knob = horizontal->knobRect();
    auto at = [&](QPoint p) { return image.pixelColor(horizontal->mapTo(&view, p)); };
    EXPECT_TRUE(viewtest::near(at(knob.center()), QColor(0x55, 0x55, 0x55)));
    EXPECT_TRUE(viewtest::near(at(QPoint(knob.right() + 20, 1)), QColor(0x23, 0x25, 0x2A)));
}

TEST(CustomScrollView, NoRedCornerBesideALoneScroller) {
    CustomScrollView view;
    view.resize(200, 150);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget;
    content->resize(800, 100);
    view.setWidget(content);
    view.show();
    QApplication::processEvents();
    ASSERT_TRUE(view.horizontalScrollBar()->isVisible());
    ASSERT_FALSE(view.verticalScrollBar()->isVisible());

    const QImage image = view.grab().toImage();
    for (int x = view.width() - CustomScroller::thickness; x < view.width(); ++x)
        for (int y = view.height() - CustomScroller::thickness; y < view.height(); ++y)
            EXPECT_FALSE(viewtest::near(image.pixelColor(x, y), Qt::red)) << x << "," << y;
}
