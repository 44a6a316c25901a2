#include "OnlineAccountSteps.h"

#include "Services/Account/DMGApi.h"
#include "Services/Account/DMGChecker.h"
#include "platform/foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

using namespace tamberlo;

namespace {

// Spins the main loop until the flag is set (the account client completes on its own queue).
void waitFor(const std::atomic<bool>& done) {
    while (!done.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void print(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string text(const QJsonObject& step, const char* key) { return step.value(key).toString().toStdString(); }

bool runApi(const QJsonObject& step) {
    const QString op = step.value("op").toString();
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto line = std::make_shared<std::string>();
    DMGApi::Completion completion = [done, line](const DMGApi::Error& error, const DMGApi::Reply& reply) {
        *line = std::string("account-api: error=") + (error ? "1" : "0") + " reply=" + (reply ? "1" : "0") +
                " succ=" + (DMGApi::isSuccess(reply) ? "1" : "0") + " msg=" + DMGApi::message(reply);
        *done = true;
    };
    DMGApi& api = DMGApi::shared();
    if (op == "login")
        api.loginWithPhone(text(step, "mobile"), text(step, "password"), completion);
    else if (op == "loginSms")
        api.loginWithPhone(text(step, "mobile"), DMGApi::SmsCode{text(step, "code")}, completion);
    else if (op == "tokenLogin")
        api.loginWithToken(text(step, "token"), completion);
    else if (op == "fetchSmsCode")
        api.fetchSmsCode(text(step, "mobile"), step.value("isRegister").toBool(), completion);
    else if (op == "verify")
        api.verifyPhone(text(step, "mobile"), text(step, "code"), completion);
    else if (op == "reset")
        api.resetWithPhone(text(step, "mobile"), text(step, "password"), completion);
    else
        return false;
    waitFor(*done);
    print(*line);
    return true;
}

void runUserinfo() {
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto line = std::make_shared<std::string>();
    auto record = std::make_shared<std::optional<DMGUserinfo>>();
    DMGChecker::shared().fetchUserinfo(
        [done, line, record](const std::optional<DMGUserinfo>& user) {
            *line = user ? "userinfo: mobile=" + user->mobile + " userId=" + user->userId +
                               " token=" + (user->accessToken.empty() ? "empty" : "set")
                         : "userinfo: none";
            *record = user;
            *done = true;
        },
        false);
    waitFor(*done);
    // The session is stored right after the callbacks: the step ends when it is there.
    if (*record) {
        QElapsedTimer clock;
        clock.start();
        auto stored = [&] {
            const DMGUserinfo now = DMGChecker::shared().loadUserinfo();
            return now.accessToken == (*record)->accessToken && now.mobile == (*record)->mobile &&
                   now.userId == (*record)->userId;
        };
        while (!stored() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    print(*line);
}

}  // namespace

bool runAccountStep(const QString& action, const QJsonObject& step) {
    static std::once_flag configured;
    std::call_once(configured, [] { DMGChecker::shared().configServiceKey(tamberloAccountServiceKey, tamberloAccountFlavorName); });
    if (action == "account-api") {
        if (runApi(step)) return true;
        std::fprintf(stderr, "tamberlo-online: unknown account-api op \"%s\"\n", text(step, "op").c_str());
        return false;
    }
    if (action == "userinfo") {
        runUserinfo();
        return true;
    }
    if (action == "store-session") {
        auto& defaults = platform::UserDefaults::standardUserDefaults();
        defaults.setString(text(step, "token"), DMGChecker::tokenKey);
        defaults.setString(text(step, "mobile"), DMGChecker::mobileKey);
        defaults.setString(text(step, "userId"), DMGChecker::userIdKey);
        defaults.synchronize();
        return true;
    }
    return false;
}
