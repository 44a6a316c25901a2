// Drives the online services from a JSON script, the way the editor would, for shell checks:
//
//   tamberlo-online SCRIPT.json
//
// SCRIPT is a list of steps run in turn:
//   {"do":"init"}                                  the launch's initialWithLaunchOptions
//   {"do":"launch"}                                TrackLaunch
//   {"do":"page","page":P,"action":A}              TrackPage
//   {"do":"funnel","name":N,"step":S,"order":O}    TrackCompleteRate
//   {"do":"satisfy","yes":true}                    TrackSatisfyWithFuncName
//   {"do":"dispatch"}                              a web-analytics batch now; prints "dispatch: YES|NO"
//   {"do":"wait","seconds":S}                      runs the main loop
//   {"do":"kill"}                                  ends the process at once (SIGKILL)
// and the steps of online-feedback-steps.h and OnlineAccountSteps.h.
// Endpoints come from TAMBERLO_EVENTLOG_URL, TAMBERLO_COLLECT_URL and TAMBERLO_TRACKING_ID.
#include "OnlineAccountSteps.h"
#include "Services/Analytics/KKWebAnalytics.h"
#include "Services/Analytics/TrackManager.h"
#include "online-feedback-steps.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace tamberlo;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamberlo-online SCRIPT.json\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tamberlo-online: cannot read %s\n", argv[1]);
        return 2;
    }
    QJsonParseError error{};
    const QJsonDocument script = QJsonDocument::fromJson(file.readAll(), &error);
    if (!script.isArray()) {
        std::fprintf(stderr, "tamberlo-online: %s is not a JSON list of steps (%s)\n", argv[1],
                     error.errorString().toLocal8Bit().constData());
        return 2;
    }
    for (const QJsonValue& value : script.array()) {
        const QJsonObject step = value.toObject();
        const QString action = step.value("do").toString();
        if (action == "init") {
            TrackManager::initialWithLaunchOptions({});
        } else if (action == "launch") {
            TrackManager::TrackLaunch();
        } else if (action == "page") {
            TrackManager::TrackPage(step.value("page").toString().toStdString(), step.value("action").toString().toStdString());
        } else if (action == "funnel") {
            TrackManager::TrackCompleteRate(step.value("name").toString().toStdString(),
                                            step.value("step").toString().toStdString(),
                                            uint64_t(step.value("order").toInteger()));
        } else if (action == "satisfy") {
            TrackManager::TrackSatisfyWithFuncName("使用满意度", step.value("yes").toBool());
        } else if (action == "dispatch") {
            std::printf("dispatch: %s\n", KKWebAnalytics::sharedInstance().dispatch() ? "YES" : "NO");
            std::fflush(stdout);
        } else if (action == "wait") {
            QElapsedTimer clock;
            clock.start();
            const qint64 milliseconds = qint64(step.value("seconds").toDouble() * 1000.0);
            while (clock.elapsed() < milliseconds) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        } else if (action == "kill") {
            std::fflush(stdout);
            ::kill(::getpid(), SIGKILL);
        } else if (runFeedbackAndTrackerStep(action, step)) {
        } else if (runAccountStep(action, step)) {
        } else {
            std::fprintf(stderr, "tamberlo-online: unknown step \"%s\"\n", action.toLocal8Bit().constData());
            return 2;
        }
    }
    return 0;
}
