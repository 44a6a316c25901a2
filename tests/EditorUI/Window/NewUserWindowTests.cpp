// The editor as a new user meets it: English throughout on an English desktop, names that fit
// their fields, a rating banner that hides nothing, the keyboard back after every dialog, no
// clock without clips, a plain message when there is nothing to export, and help documents that
// read back as their pages.
#include "EditorUI/Export/ExportSheet.h"
#include "EditorUI/Views/CustomScrollView.h"
#include "EditorUI/Views/MusicRulerView.h"
#include "EditorUI/Views/MusicTrackView.h"
#include "EditorUI/Views/WaveformStore.h"
#include "EditorUI/Window/MainController.h"
#include "EditorUI/Window/WindowController.h"
#include "EditorUI/support/ViewFixtures.h"
#include "Services/Feedback/FeedbackVC.h"
#include "TamberloMac/EditorFixtures.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ElidedLabel.h"
#include "Widgets/HUDView.h"
#include "main/TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace tamberlo;
using viewtest::waitUntil;

namespace {

const std::string longName =
    "A very long name of a recording made on a summer evening by the river, all the birds singing - final mix 12.wav";

using viewtest::requested;

class NewUserWindow : public ::testing::Test {
protected:
    void SetUp() override {
        viewtest::startEditor();
        savedOpenPanel = MainController::openPanelHook();
        savedTerminate = WindowController::terminateHook();
        WindowController::terminateHook() = [] {};
        editortest::writeWav16(dir / "A.wav", 44100, 2, 44100, [](uint32_t, uint16_t) { return int16_t(8192); });
    }

    void TearDown() override {
        MainController::openPanelHook() = savedOpenPanel;
        WindowController::terminateHook() = savedTerminate;
        window.reset();
        viewtest::settleEditor();
        viewtest::useChinese();
    }

    void open(const char* language) {
        setPreferredLanguagesForTesting(std::vector<std::string>{language});
        window = std::make_unique<WindowController>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 20000));
        main = window->contentViewController();
    }

    void importFile(const std::filesystem::path& path) { main->importMusics({platform::URL(path)}); }

    // Deletes the first track's only clip, as a user selecting it and pressing Delete does.
    void deleteOnlyClip() {
        main->document().select(main->tracks()[0], main->tracks()[0]->musics[0]);
        main->deleteClick();
        ASSERT_TRUE(main->tracks()[0]->musics.empty());
    }

    static QAbstractButton* buttonOfRole(QMessageBox* alert, QMessageBox::ButtonRole role) {
        for (auto* button : alert->buttons())
            if (alert->buttonRole(button) == role) return button;
        return nullptr;
    }

    testsupport::ScratchDir dir;
    std::unique_ptr<WindowController> window;
    MainController* main = nullptr;
    MainController::OpenPanelHook savedOpenPanel;
    std::function<void()> savedTerminate;
};

}  // namespace

// Every text an English desktop meets — the window, its menus, the export and feedback sheets,
// the alerts and every status message — is English.
TEST_F(NewUserWindow, AnEnglishDesktopSeesNoChinese) {
    open("en-US");
    testsupport::writeFile(dir / "notes.txt", "not audio");
    testsupport::writeFile(dir / "broken.wav", "RIFF, but not a WAV file");
    QStringList texts;
    const auto look = [&] { texts << viewtest::shownTexts(window.get()); };

    importFile(dir / "notes.txt");   // no audiovisual content at all
    importFile(dir / "broken.wav");  // looks like audio, cannot be read
    importFile(dir / "A.wav");
    ASSERT_EQ(main->tracks().size(), 1u);
    main->tableViewSelectionDidChange(0);
    main->volumeChanged(0.5, CustomSlider::Phase::down);
    main->setPlayStart(0.5);
    main->splitClick();
    look();

    main->exportClick();
    ASSERT_NE(main->exportSheet(), nullptr);
    look();
    main->exportSheet()->cancelClick();

    window->feedbackClick();
    auto* feedback = window->findChild<FeedbackVC*>();
    ASSERT_NE(feedback, nullptr);
    QTest::mouseClick(feedback->submitBtn, Qt::LeftButton);  // nothing typed, nothing chosen
    feedback->textview->setPlainText(QString(FeedbackVC::maximumLength + 1, 'x'));
    QTest::mouseClick(feedback->submitBtn, Qt::LeftButton);
    look();
    feedback->close();

    main->rows()[0]->deleteClick();
    ASSERT_NE(main->rows()[0]->deleteAlert(), nullptr);
    look();
    buttonOfRole(main->rows()[0]->deleteAlert(), QMessageBox::RejectRole)->click();

    window->close();
    ASSERT_NE(window->closeAlert(), nullptr);
    look();
    buttonOfRole(window->closeAlert(), QMessageBox::RejectRole)->click();

    main->undoClick();  // before the split: the one clip
    ASSERT_EQ(main->tracks()[0]->musics.size(), 1u);
    deleteOnlyClip();
    main->exportClick();
    look();

    for (const auto& message : HUD::requests()) texts << QString::fromStdString(message.status);
    QStringList han;
    for (const QString& text : texts)
        if (viewtest::hasHan(text)) han << text;
    EXPECT_TRUE(han.isEmpty()) << han.join(" | ").toStdString();
    for (const char* expected : {"Export Settings", "Satisfied", "Submit", "Delete this track?", "Split done"})
        EXPECT_TRUE(texts.contains(expected)) << expected;
    EXPECT_TRUE(requested(HUD::Kind::error, "Import failed"));
    EXPECT_TRUE(requested(HUD::Kind::info, "Enter your feedback or choose how satisfied you are"));
    EXPECT_TRUE(requested(HUD::Kind::info, "The feedback is too long"));
    EXPECT_TRUE(requested(HUD::Kind::info, "Nothing to export"));
}

// A project whose only clip was deleted has nothing to mix down: the window says so, as the
// document driver does, and opens no sheet; it is no failure.
TEST_F(NewUserWindow, ExportingAfterTheOnlyClipWasDeletedSaysThereIsNothingToExport) {
    open("zh-CN");
    importFile(dir / "A.wav");
    deleteOnlyClip();
    HUD::clearRequests();
    main->exportClick();
    EXPECT_EQ(main->exportSheet(), nullptr);
    ASSERT_EQ(HUD::requests().size(), 1u);
    EXPECT_EQ(HUD::requests()[0].kind, HUD::Kind::info);
    EXPECT_EQ(HUD::requests()[0].status, "没有可以导出的内容");
}

// Space on a project without clips starts nothing: no playback, no clock, no stop button.
TEST_F(NewUserWindow, SpaceWithoutClipsLeavesTheClockStill) {
    open("zh-CN");
    const QString zero = main->mainControlTf()->text();
    for (const bool withTrack : {false, true}) {
        SCOPED_TRACE(withTrack ? "a track whose clip was deleted" : "no track");
        if (withTrack) {
            importFile(dir / "A.wav");
            deleteOnlyClip();
        }
        QTest::keyClick(window.get(), Qt::Key_Space);
        // A position reported while nothing plays does not move the clock either.
        Player::shared().updateTimeBlock(207.0);
        QTest::qWait(300);
        EXPECT_FALSE(Player::shared().isPlay());
        EXPECT_FALSE(Player::shared().isTimerRunning());
        EXPECT_EQ(main->mainControlTf()->text(), zero);
        EXPECT_DOUBLE_EQ(main->playStart(), 0.0);
    }
    // The same key with a clip plays: the key did reach the window above.
    importFile(dir / "A.wav");
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_TRUE(Player::shared().isPlay());
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_FALSE(Player::shared().isPlay());
}

// Closing any sheet or dialog gives the keyboard back to the window: its shortcuts act at once.
TEST_F(NewUserWindow, EveryClosedDialogGivesTheKeyboardBackToTheWindow) {
    open("zh-CN");
    importFile(dir / "A.wav");
    int panels = 0;
    const struct {
        const char* name;
        std::function<void()> openIt;
        std::function<void()> closeIt;
    } dialogs[] = {
        {"export sheet", [&] { main->exportClick(); }, [&] { main->exportSheet()->cancelClick(); }},
        {"feedback sheet", [&] { window->feedbackClick(); }, [&] { window->findChild<FeedbackVC*>()->close(); }},
        {"delete alert", [&] { main->rows()[0]->deleteClick(); },
         [&] { buttonOfRole(main->rows()[0]->deleteAlert(), QMessageBox::RejectRole)->click(); }},
        {"close alert", [&] { window->close(); },
         [&] { buttonOfRole(window->closeAlert(), QMessageBox::RejectRole)->click(); }},
        {"open panel", [&] { MainController::runDefaultOpenPanel(window.get(), [](std::vector<platform::URL>) {}); },
         [&] { window->findChild<QFileDialog*>()->reject(); }},
    };
    for (const auto& dialog : dialogs) {
        SCOPED_TRACE(dialog.name);
        dialog.openIt();
        QWidget* modal = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }));
        // The dialog has the keyboard while it is open.
        modal->activateWindow();
        ASSERT_TRUE(waitUntil([&] { return QApplication::activeWindow() == modal; }));
        dialog.closeIt();
        EXPECT_TRUE(waitUntil([&] { return QApplication::activeWindow() == window.get(); }));
        MainController::openPanelHook() = [&](QWidget*, std::function<void(std::vector<platform::URL>)>) { ++panels; };
        const int before = panels;
        QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_N));
        EXPECT_EQ(panels, before + 1) << "the window's shortcut acted";
        MainController::openPanelHook() = savedOpenPanel;
        QTest::qWait(50);  // the closed dialog is deleted
    }
}

// A long name ends in "…" inside its field in the track row and in the bar, with the whole name as
// its tooltip, and no label of the window draws past its cell.
TEST_F(NewUserWindow, LongNamesEndInAnEllipsisInsideTheirFields) {
    open("en-US");
    editortest::writeWav16(dir / longName, 44100, 2, 44100, [](uint32_t, uint16_t) { return int16_t(4096); });
    importFile(dir / longName);
    ASSERT_EQ(main->tracks().size(), 1u);
    main->tableViewSelectionDidChange(0);
    WaveformStore::shared().waitForReads();
    QTest::qWait(50);

    const QColor dark1(0x1B, 0x1C, 0x21), dark2(0x23, 0x25, 0x2A);
    struct Field {
        const char* name;
        ElidedLabel* label;
        QWidget* cell;  // what the label is drawn on
        int nextLeft;   // where the next thing on the line starts (in the cell)
        QColor background;
    };
    MusicTrackView* row = main->rows()[0];
    const Field fields[] = {
        {"track row", row->nameLab(), row, row->width(), dark2},
        {"bottom bar", main->selectedMusicLab(), main->selectedMusicLab()->parentWidget(),
         main->selectedMusicStart()->x(), dark1},
    };
    for (const auto& field : fields) {
        SCOPED_TRACE(field.name);
        const QString shown = field.label->text();
        EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        EXPECT_EQ(field.label->toolTip().toStdString(), longName);
        EXPECT_LE(field.label->fontMetrics().horizontalAdvance(shown), field.label->contentsRect().width());
        // From the label's last column to the next thing on the line, only the background.
        const QImage image = field.cell->grab().toImage();
        const QRect box = field.label->geometry();
        EXPECT_LT(box.right(), field.nextLeft) << "the field runs into the next one";
        int inked = 0;
        for (int x = box.right() - 1; x < field.nextLeft && x < image.width(); ++x)
            for (int y = box.top(); y <= box.bottom(); ++y)
                inked += !viewtest::near(viewtest::pixel(image, x, y), field.background, 8);
        EXPECT_EQ(inked, 0);
    }
    viewtest::saveScreenshot(window->grab().toImage(), "long-name.png");
    viewtest::saveScreenshot(row->grab().toImage(), "long-name-row.png");

    // Every one-line label of the window holds its whole text.
    for (auto* label : window->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap() || label->text().isEmpty()) continue;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
            << label->text().toStdString();
    }
}

// The rating banner takes a row of its own under the toolbar: the ruler and its labels move down
// and stay in view.
TEST(EditorShellTest, TheRatingBannerHidesNoneOfTheRulersLabels) {
    const double saved = MainController::rateBannerDelay();
    MainController::rateBannerDelay() = 0.05;
    setPreferredLanguagesForTesting(std::vector<std::string>{"en-US"});
    const auto restore = qScopeGuard([&] {
        MainController::rateBannerDelay() = saved;
        viewtest::useChinese();
    });
    MainController controller;
    controller.resize(1200, 700);
    controller.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&controller));
    const auto inController = [&](QWidget* widget) { return QRect(widget->mapTo(&controller, QPoint(0, 0)), widget->size()); };
    // The banner may already be up by now on a busy machine: the ruler is compared with and
    // without it by closing it, not by catching the moment before it shows.
    ASSERT_TRUE(waitUntil([&] { return controller.rateView()->isVisible(); }));
    QCoreApplication::processEvents();
    const QRect banner = inController(controller.rateView());
    const QRect viewport = inController(controller.wavesClipView()->viewport());
    EXPECT_FALSE(banner.intersects(viewport)) << "the banner covers the lanes and their ruler";
    const int rulerWith = inController(controller.topRulerView()).top();
    viewtest::saveScreenshot(controller.grab().toImage(), "rating-banner.png");

    controller.closeRateClick();
    ASSERT_TRUE(waitUntil([&] { return inController(controller.topRulerView()).top() != rulerWith; }));
    EXPECT_EQ(rulerWith, inController(controller.topRulerView()).top() + banner.height());
}

// The first label sits on a tick a few pixels from the ruler's left edge: it is drawn whole, with
// as much ink as the same text painted in the open.
TEST(EditorShellTest, TheRulersFirstLabelIsWhole) {
    MusicRulerView ruler;
    ruler.resize(400, ruler.height());
    QImage image(ruler.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    ruler.render(&image);
    const auto ink = [](const QImage& picture, QRect area) {
        int count = 0;
        area = area.intersected(picture.rect());
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) count += qGray(picture.pixel(x, y)) < 200 ? 1 : 0;
        return count;
    };
    const int h = ruler.height();
    const QRect firstLabel(0, h - 30, 48, 17);

    QImage open(200, h, QImage::Format_ARGB32);
    open.fill(image.pixel(2, 2));  // the ruler's own background
    {
        QPainter painter(&open);
        painter.setFont(ruler.font());
        painter.setPen(QColor(0x99, 0x99, 0x99));
        painter.drawText(QRectF(80, h - 29.5, 32, 15), Qt::AlignCenter | Qt::TextDontClip, MusicRulerView::label(0));
    }
    const int whole = ink(open, QRect(60, h - 30, 72, 17));
    ASSERT_GT(whole, 20);
    EXPECT_NEAR(ink(image, firstLabel), whole, whole / 10) << "the first label is cut at the ruler's left edge";
}

// The corner between the scrollers is repainted red as soon as the second scroller appears.
TEST(CustomScrollViewTest, TheCornerTurnsRedWhenTheSecondScrollerAppears) {
    CustomScrollView area;
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* content = new QWidget;
    content->resize(2000, 100);
    area.setWidget(content);
    area.resize(400, 300);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    QWidget* corner = area.cornerWidget();
    ASSERT_NE(corner, nullptr);
    QTest::qWait(50);

    struct PaintWatch : QObject {
        QAbstractScrollArea* area = nullptr;
        bool paintedWithBoth = false;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && area->verticalScrollBar()->isVisible()) paintedWithBoth = true;
            return false;
        }
    } watch;
    watch.area = &area;
    corner->installEventFilter(&watch);
    ASSERT_FALSE(area.verticalScrollBar()->isVisible());
    content->resize(2000, 1000);
    EXPECT_TRUE(waitUntil([&] { return area.verticalScrollBar()->isVisible(); }));
    EXPECT_TRUE(waitUntil([&] { return watch.paintedWithBoth; }));
    EXPECT_TRUE(viewtest::near(viewtest::pixel(corner->grab().toImage(), 2, 2), Qt::red));
}

// pdftotext reads each help document back as its page's text, whitespace aside (digits kept,
// Chinese as its real characters), and no page ends with a heading.
TEST(HelpDocumentsTest, ReadBackAsTheirPages) {
    if (!testsupport::haveTool("pdftotext")) GTEST_SKIP() << "pdftotext is missing (scripts/setup installs poppler-utils)";
    const auto squeezed = [](const QString& text) {
        QString result;
        for (const QChar c : text)
            if (!c.isSpace()) result += c;
        return result;
    };
    for (const char* name : {"TamberloHelper", "TamberloHelper_en"}) {
        SCOPED_TRACE(name);
        QTextDocument page;
        page.setHtml(QString::fromStdString(
            testsupport::readFile(std::filesystem::path(TAMBERLO_HELP_SOURCE_DIR) / (std::string(name) + ".html"))));
        const std::filesystem::path pdf = std::filesystem::path(TAMBERLO_HELP_DIR) / (std::string(name) + ".pdf");
        int status = -1;
        const QString text = QString::fromStdString(
            testsupport::capture("pdftotext -layout -enc UTF-8 " + testsupport::q(pdf) + " -", &status));
        ASSERT_EQ(status, 0);
        EXPECT_EQ(squeezed(text).toStdString(), squeezed(page.toPlainText()).toStdString());

        QStringList headings;
        for (QTextBlock block = page.firstBlock(); block.isValid(); block = block.next())
            if (block.blockFormat().headingLevel() > 0) headings << block.text().trimmed();
        ASSERT_GE(headings.size(), 5);
        for (const QString& sheet : text.split('\f')) {
            QStringList lines = sheet.split('\n');
            lines.removeIf([](const QString& line) { return line.trimmed().isEmpty(); });
            if (!lines.isEmpty()) {
                EXPECT_FALSE(headings.contains(lines.last().trimmed())) << lines.last().toStdString();
            }
        }
    }
}
