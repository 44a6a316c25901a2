// The feedback sheet against a loopback feedback service: what it checks before posting, what it
// posts, how it reports, and that it can be closed while its request runs.
#include "Services/Analytics/TrackManager.h"
#include "Services/Feedback/ApiManager.h"
#include "Services/Feedback/FeedbackVC.h"
#include "TamberloMac/Interface/HUD.h"
#include "Widgets/StyledView.h"
#include "platform/foundation/Localization.h"
#include "platform/network/HttpSession.h"
#include "support/FakeHttpServer.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace tamberlo;
using testsupport::FakeHttpServer;

namespace {

constexpr const char* path = "/Statistics_branch/transit/addData";

double localSeconds(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    return double(QDateTime(QDate(year, month, day), QTime(hour, minute, second, millisecond)).toMSecsSinceEpoch()) /
           1000.0;
}

// How many times the sheet reported a satisfaction answer (the web event goes out even before the
// event log is switched on).
int satisfactionEvents() {
    int count = 0;
    for (const auto& event : TrackManager::shareInstance().webEvents()) count += event.category == "使用满意度";
    return count;
}

class Feedback : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setPreferredLanguagesForTesting(std::vector<std::string>{"zh-CN"});
        ::setenv("TAMBERLO_FEEDBACK_URL", server.origin().c_str(), 1);
        TrackManager::shareInstance().clearEvents();
        HUD::clearRequests();
        sheet = FeedbackVC::initFromStory();
        sheet->open();
    }
    void TearDown() override {
        delete sheet.data();
        testsupport::runLoopUntil([] { return platform::HttpSession::requestsInFlight() == 0; });
        ::unsetenv("TAMBERLO_FEEDBACK_URL");
        platform::setPreferredLanguagesForTesting(std::nullopt);
    }

    void submit(int choice, const QString& text, const QString& contact = {}) {
        if (choice == 1) QTest::mouseClick(sheet->goodView, Qt::LeftButton);
        if (choice == 2) QTest::mouseClick(sheet->noGoodView, Qt::LeftButton);
        sheet->textview->setPlainText(text);
        sheet->contactTf->setText(contact);
        QTest::mouseClick(sheet->submitBtn, Qt::LeftButton);
    }
    // Waits until the request has completed on the main queue.
    bool settled() {
        return testsupport::runLoopUntil([this] {
            return platform::HttpSession::requestsInFlight() == 0 && (!sheet || !sheet->isVisible() || sheet->submitBtn->isEnabled());
        }, 70.0);
    }
    std::vector<HUD::Message> messages() const { return HUD::requests(); }

    FakeHttpServer server;
    QPointer<FeedbackVC> sheet;
};

}  // namespace

TEST(FeedbackRequest, DatedInTheCalendarYearWithHundredths) {
    const std::vector<std::pair<double, std::string>> cases = {
        {localSeconds(2024, 12, 30, 23, 59, 59, 500), "2024-12-30 23:59:59 50"},  // week-based year 2025
        {localSeconds(2020, 12, 31, 8, 5, 3, 999), "2020-12-31 08:05:03 99"},
        {localSeconds(2021, 1, 1, 0, 0, 0, 7), "2021-01-01 00:00:00 00"},  // week-based year 2020
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(ApiManager::commentsDate(seconds).toStdString(), text);
}

TEST_F(Feedback, SheetShowsItsTextsAndChoices) {
    EXPECT_EQ(sheet->windowTitle(), "意见反馈");
    EXPECT_EQ(sheet->titleLab->text(), "您在使用软件过程中感受如何？");
    EXPECT_EQ(sheet->goodLab->text(), "满意");
    EXPECT_EQ(sheet->noGoodLab->text(), "不满意");
    EXPECT_EQ(sheet->contactTf->placeholderText(), "QQ/Email/电话号码（可选）");
    EXPECT_EQ(sheet->submitBtn->text(), "提交");
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->feelGood(), 0);
    const QString dir = TAMBERLO_SCREENSHOT_DIR;
    QDir().mkpath(dir);
    EXPECT_TRUE(sheet->grab().save(dir + "/feedback.png"));

    QTest::mouseClick(sheet->goodView, Qt::LeftButton);
    EXPECT_EQ(sheet->feelGood(), 1);
    EXPECT_EQ(sheet->goodView->borderColor(), QColor("#FF890C"));
    EXPECT_EQ(sheet->noGoodView->borderColor(), QColor("#999999"));
    sheet->textview->setPlainText("导出很快，好用");
    EXPECT_TRUE(sheet->grab().save(dir + "/feedback-chosen.png"));
    QTest::mouseClick(sheet->noGoodView, Qt::LeftButton);
    EXPECT_EQ(sheet->feelGood(), 2);
    EXPECT_EQ(sheet->goodView->borderColor(), QColor("#999999"));
    EXPECT_EQ(sheet->noGoodView->borderColor(), QColor("#FF890C"));
}

TEST_F(Feedback, ValidationPostsNothing) {
    struct Case {
        int choice;
        QString text;
        std::optional<std::string> info;
        bool closes;
        int satisfaction;
    };
    const QString tooLong = QString(" ") + QString(999, 'a') + " ";       // 1001 units with the spaces
    const QString pairTooLong = QString(999, 'a') + QString::fromUtf8("😀");  // a surrogate pair counts 2
    const std::vector<Case> cases = {
        {0, "", "请输入反馈信息或选择满意度", false, 0},
        {0, " \n\t ", "请输入反馈信息或选择满意度", false, 0},
        {0, tooLong, "反馈文本太长", false, 0},
        {1, pairTooLong, "反馈文本太长", false, 0},
        {2, " \n", std::nullopt, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(8).toStdString());
        delete sheet.data();
        sheet = FeedbackVC::initFromStory();
        sheet->open();
        HUD::clearRequests();
        TrackManager::shareInstance().clearEvents();
        submit(c.choice, c.text);
        const auto shown = messages();
        if (c.info) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0], (HUD::Message{HUD::Kind::info, *c.info}));
        } else {
            EXPECT_TRUE(shown.empty());
        }
        EXPECT_EQ(!sheet || !sheet->isVisible(), c.closes);
        EXPECT_EQ(satisfactionEvents(), c.satisfaction);
    }
    testsupport::runLoop(0.3);
    EXPECT_TRUE(server.requests(path).empty());
}

TEST_F(Feedback, PostsTheTextAsTypedAndClosesOnSuccess) {
    const QString text = QString(" ") + QString(998, 'x') + " ";  // exactly 1000 units, kept with its spaces
    submit(1, text, "qq 123");
    EXPECT_FALSE(sheet->submitBtn->isEnabled());
    ASSERT_TRUE(settled());
    const auto requests = server.requests(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.at("content-type"), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(requests[0].body)).object();
    EXPECT_EQ(body.value("comments").toString(), text);
    EXPECT_EQ(body.value("feedback_email").toString(), "qq 123");
    EXPECT_EQ(body.value("product_name").toString(), "Tamberlo");
    EXPECT_EQ(body.value("package_name").toString(), "io.tamberlo.Tamberlo");
    EXPECT_EQ(body.value("product_version").toString(), "0.1.0");
    EXPECT_EQ(body.value("product_type").toString(), "macOS");
    EXPECT_EQ(body.keys().size(), 8);
    EXPECT_TRUE(!sheet || !sheet->isVisible());
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(satisfactionEvents(), 1);
}

TEST_F(Feedback, FailureKeepsTheSheetAndCountsAChoiceOnce) {
    server.script(path, {FakeHttpServer::Reply::status(500), FakeHttpServer::Reply::status(500)});
    submit(1, "坏了", "");
    ASSERT_TRUE(settled());
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_TRUE(sheet->submitBtn->isEnabled());
    EXPECT_EQ(sheet->textview->toPlainText(), "坏了");
    EXPECT_EQ(messages().back(), (HUD::Message{HUD::Kind::error, "提交失败，在稍后再次尝试"}));
    // Trying again with the same choice does not count the user twice; a changed choice counts.
    QTest::mouseClick(sheet->submitBtn, Qt::LeftButton);
    ASSERT_TRUE(settled());
    EXPECT_EQ(satisfactionEvents(), 1);
    QTest::mouseClick(sheet->noGoodView, Qt::LeftButton);
    QTest::mouseClick(sheet->submitBtn, Qt::LeftButton);
    ASSERT_TRUE(settled());
    EXPECT_EQ(satisfactionEvents(), 2);
    EXPECT_EQ(server.requests(path).size(), 3u);
    EXPECT_TRUE(!sheet || !sheet->isVisible());  // the third answer is the default 200
}

TEST_F(Feedback, RefusedConnectionIsReportedAndTheSheetStaysUsable) {
    ::setenv("TAMBERLO_FEEDBACK_URL", FakeHttpServer::refusingOrigin().c_str(), 1);
    submit(0, "hello");
    ASSERT_TRUE(settled());
    ASSERT_TRUE(sheet && sheet->isVisible());
    EXPECT_TRUE(sheet->submitBtn->isEnabled());
    EXPECT_EQ(messages().back(), (HUD::Message{HUD::Kind::error, "提交失败，在稍后再次尝试"}));
}

TEST_F(Feedback, ClosingWhileTheRequestRunsIsSafe) {
    server.script(path, {FakeHttpServer::Reply::status(500)});
    submit(0, "hello");
    ASSERT_FALSE(sheet->submitBtn->isEnabled());
    sheet->close();  // the window's close button
    delete sheet.data();
    ASSERT_TRUE(server.waitForRequests(path, 1));
    ASSERT_TRUE(testsupport::runLoopUntil([] { return platform::HttpSession::requestsInFlight() == 0; }));
    testsupport::runLoop(0.2);
    EXPECT_TRUE(messages().empty());  // the completion found no sheet to report on
}

// On an English desktop the sheet and every message it gives are English.
TEST_F(Feedback, AnEnglishDesktopReadsTheSheetInEnglish) {
    delete sheet.data();
    platform::setPreferredLanguagesForTesting(std::vector<std::string>{"en-US"});
    sheet = FeedbackVC::initFromStory();
    sheet->open();
    EXPECT_EQ(sheet->windowTitle(), "Feedback");
    EXPECT_EQ(sheet->titleLab->text(), "How do you feel about the software?");
    EXPECT_EQ(sheet->goodLab->text(), "Satisfied");
    EXPECT_EQ(sheet->noGoodLab->text(), "Not satisfied");
    EXPECT_EQ(sheet->feedbackLab->text(), "Feedback");
    EXPECT_TRUE(sheet->descLab->text().startsWith("Describe a problem"));
    EXPECT_EQ(sheet->contactTitleLab->text(), "Contact");
    EXPECT_EQ(sheet->contactTf->placeholderText(), "QQ/Email/Phone number (optional)");
    EXPECT_EQ(sheet->submitBtn->text(), "Submit");

    const struct {
        QString text;
        bool refused;
        HUD::Message message;
    } cases[] = {
        {"", false, {HUD::Kind::info, "Enter your feedback or choose how satisfied you are"}},
        {QString(FeedbackVC::maximumLength + 1, 'x'), false, {HUD::Kind::info, "The feedback is too long"}},
        {"hello", true, {HUD::Kind::error, "Sending failed, please try again later"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.status);
        if (c.refused) ::setenv("TAMBERLO_FEEDBACK_URL", FakeHttpServer::refusingOrigin().c_str(), 1);
        HUD::clearRequests();
        submit(0, c.text);
        ASSERT_TRUE(settled());
        ASSERT_FALSE(messages().empty());
        EXPECT_EQ(messages().back(), c.message);
    }
}
