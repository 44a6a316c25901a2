#include "online-feedback-steps.h"

#include "Services/Analytics/MPWebAnalyticsTracker.h"
#include "Services/Feedback/FeedbackVC.h"
#include "Services/Feedback/RouterManager.h"
#include "TamberloMac/Interface/HUD.h"
#include "Widgets/StyledView.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/network/HttpSession.h"
#include "platform/storekit/ReviewPrompt.h"

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <cstdio>

using namespace tamberlo;

namespace {

// Types the text the way a user would: ASCII on the keys, line breaks as the Return key, and
// everything else committed by the input method.
void type(QWidget* widget, const QString& text) {
    qsizetype start = 0;
    while (start < text.size()) {
        const bool ascii = text[start].unicode() < 0x80;
        qsizetype end = start;
        while (end < text.size() && (text[end].unicode() < 0x80) == ascii && text[end] != '\n') ++end;
        if (end == start) {  // a line break
            QTest::keyClick(widget, Qt::Key_Return);
            ++start;
            continue;
        }
        if (ascii) {
            QTest::keyClicks(widget, text.mid(start, end - start));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(text.mid(start, end - start));
            QApplication::sendEvent(widget, &commit);
        }
        start = end;
    }
}

void feedback(const QJsonObject& step) {
    const QDateTime now = QDateTime::fromString(step.value("now").toString(), Qt::ISODateWithMs);
    if (now.isValid()) {
        const double seconds = double(now.toMSecsSinceEpoch()) / 1000.0;
        platform::SystemFacts::current().now = [seconds] { return seconds; };
    }
    HUD::clearRequests();
    QPointer<FeedbackVC> sheet = FeedbackVC::initFromStory();
    bool closed = false;
    bool submitEnabled = true;
    QObject::connect(sheet, &QDialog::finished, [&] {
        closed = true;
        submitEnabled = sheet->submitBtn->isEnabled();
    });
    sheet->open();
    QApplication::processEvents();
    const int choice = step.value("choice").toInt();
    if (choice == 1) QTest::mouseClick(sheet->goodView, Qt::LeftButton);
    if (choice == 2) QTest::mouseClick(sheet->noGoodView, Qt::LeftButton);
    type(sheet->textview, step.value("text").toString());
    type(sheet->contactTf, step.value("contact").toString());
    QTest::mouseClick(sheet->submitBtn, Qt::LeftButton);

    // Completions hop to the main queue after the request has left the session: wait for both.
    QDeadlineTimer deadline(75000);
    const auto waiting = [&] {
        return platform::HttpSession::requestsInFlight() > 0 || (sheet && !closed && !sheet->submitBtn->isEnabled());
    };
    while (waiting() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (sheet && !closed) submitEnabled = sheet->submitBtn->isEnabled();

    const auto requests = HUD::requests();
    std::string hud = "none";
    if (!requests.empty()) hud = std::string(HUD::nameOf(requests.back().kind)) + ":" + requests.back().status;
    std::printf("feedback: closed=%d hud=%s submit=%s\n", closed ? 1 : 0, hud.c_str(),
                submitEnabled ? "enabled" : "disabled");
    std::fflush(stdout);
    delete sheet.data();
}

void rate(const char* name, void (*operation)()) {
    int requests = 0;
    platform::ReviewPrompt::setHandlerForTesting([&requests] { ++requests; });
    operation();
    platform::ReviewPrompt::setHandlerForTesting({});
    std::printf("%s: %s\n", name, requests > 0 ? "requested" : "skipped");
    std::fflush(stdout);
}

std::optional<std::string> optionalText(const QJsonObject& step, const char* key) {
    const QJsonValue value = step.value(key);
    if (!value.isString()) return std::nullopt;
    return value.toString().toStdString();
}

MPValue optionalValue(const QJsonObject& step, const char* key) {
    const QJsonValue value = step.value(key);
    if (value.isString()) return KKGAValue(value.toString().toStdString());
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number == double(int64_t(number))) return KKGAValue(int64_t(number));
        return KKGAValue(number);
    }
    return std::nullopt;
}

}  // namespace

bool runFeedbackAndTrackerStep(const QString& action, const QJsonObject& step) {
    auto& tracker = MPWebAnalyticsTracker::sharedTracker();
    if (action == "feedback") {
        feedback(step);
    } else if (action == "rate-version") {
        rate("rate-version", &RouterManager::showRatedThisVersion);
    } else if (action == "rate-life") {
        rate("rate-life", &RouterManager::showRateAllLife);
    } else if (action == "mp-activate") {
        MPAnalyticsConfiguration configuration(step.value("main").toString().toStdString());
        const QJsonObject duplicate = step.value("duplicate").toObject();
        for (auto it = duplicate.begin(); it != duplicate.end(); ++it)
            configuration.duplicateEventsForCategory(it.key().toStdString(), it.value().toString().toStdString());
        const QJsonObject additional = step.value("additional").toObject();
        for (auto it = additional.begin(); it != additional.end(); ++it)
            configuration.addEventsForCategory(it.key().toStdString(), it.value().toString().toStdString());
        tracker.activateConfiguration(configuration);
    } else if (action == "mp-event") {
        tracker.trackEventOfCategory(optionalText(step, "category"), optionalText(step, "action"),
                                     optionalText(step, "label"), optionalValue(step, "value"));
    } else if (action == "mp-timing") {
        tracker.trackTimingOfCategory(optionalText(step, "category"), optionalText(step, "variable"),
                                      optionalValue(step, "time"), optionalText(step, "label"));
    } else if (action == "mp-screen") {
        tracker.trackScreen(step.value("screen").toString().toStdString());
    } else if (action == "mp-modal") {
        tracker.trackModalScreen(step.value("screen").toString().toStdString());
    } else if (action == "mp-modal-pop") {
        tracker.stopTrackingModalScreen();
    } else {
        return false;
    }
    return true;
}
