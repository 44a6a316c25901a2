// The account state: the token sign-in table, the stored session, the kept listener and opening
// the sign-in window.
#include "Services/Account/DMGApi.h"
#include "Services/Account/DMGChecker.h"
#include "Services/Account/DMGLoginController.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/HttpSession.h"
#include "Services/Account/support/AccountServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace tamberlo;
using testsupport::FakeHttpServer;
using testsupport::runLoopUntil;

namespace {

platform::UserDefaults& defaults() { return platform::UserDefaults::standardUserDefaults(); }

void storeSession(const std::string& token, const std::string& mobile, const std::string& userId) {
    defaults().setString(token, DMGChecker::tokenKey);
    defaults().setString(mobile, DMGChecker::mobileKey);
    defaults().setString(userId, DMGChecker::userIdKey);
}

// The results one callback received, in order, with the thread each came on.
struct Results {
    std::mutex mutex;
    std::vector<std::optional<DMGUserinfo>> records;
    std::vector<std::string> order;  // names of the callbacks as they ran
    std::atomic<int> calls{0};

    DMGChecker::UserinfoBlock named(const std::string& name) {
        return [this, name](const std::optional<DMGUserinfo>& user) {
            {
                std::lock_guard lock(mutex);
                records.push_back(user);
                order.push_back(name);
            }
            ++calls;
        };
    }
    bool waitFor(int n) { return runLoopUntil([this, n] { return calls.load() >= n; }); }
};

std::string stored(const char* key) { return defaults().stringForKey(key).value_or("<none>"); }

}  // namespace

TEST(AccountChecker, ConfigurationSetsKeyAndFlavour) {
    DMGChecker::shared().configServiceKey(accounttest::serviceKey, "");
    EXPECT_EQ(DMGApi::shared().serviceKey(), accounttest::serviceKey);
    EXPECT_EQ(DMGApi::shared().flavorName(), "app store");
    DMGChecker::shared().configServiceKey(accounttest::serviceKey, "Web");
    EXPECT_EQ(DMGApi::shared().flavorName(), "Web");
}

TEST(AccountChecker, WithoutATokenTheCallbackRunsAtOnceWithoutARequest) {
    accounttest::AccountServer service;
    for (const char* token : {static_cast<const char*>(nullptr), ""}) {
        if (token) defaults().setString(token, DMGChecker::tokenKey);
        Results results;
        DMGChecker::shared().fetchUserinfo(results.named("once"), false);
        ASSERT_EQ(results.calls.load(), 1) << "synchronously";
        EXPECT_FALSE(results.records[0].has_value());
    }
    runLoopUntil([] { return false; }, 0.1);
    EXPECT_TRUE(service.server.requests().empty());
    EXPECT_FALSE(defaults().hasKey(DMGChecker::mobileKey));
}

TEST(AccountChecker, TokenSignInTable) {
    using Reply = FakeHttpServer::Reply;
    struct Case {
        const char* name;
        std::optional<Reply> reply;  // none: the service is unreachable
        bool record;
        std::string mobile, userId, token;  // what is stored afterwards
        bool isLogin;
    };
    const std::vector<Case> cases{
        {"transport error: the stored session", std::nullopt, true, "13900000000", "u0", "T0-OLD", true},
        {"refused: none, keys kept", accounttest::AccountServer::reply(R"({"succ":false,"msg":"token过期"})"), false,
         "13900000000", "u0", "T0-OLD", false},
        {"succ yes: refused", accounttest::AccountServer::reply(R"({"succ":"yes"})"), false, "13900000000", "u0", "T0-OLD",
         false},
        {"plain text: none", Reply::status(200, "text/plain", "oops"), false, "13900000000", "u0", "T0-OLD", false},
        {"another user: all three replaced",
         accounttest::AccountServer::reply(
             R"({"succ":true,"data":{"accessToken":"T1-NEW","mobile":"13800138000","userId":"u1","isSync":true}})"),
         true, "13800138000", "u1", "T1-NEW", true},
        {"a number as userId, succ 1",
         accounttest::AccountServer::reply(R"({"succ":1,"data":{"accessToken":"T2","mobile":13800138000,"userId":42}})"),
         true, "13800138000", "42", "T2", true},
        {"success without data clears the keys", accounttest::AccountServer::reply(R"({"succ":true})"), true, "<none>",
         "<none>", "<none>", true},
        {"data a string: an empty record", accounttest::AccountServer::reply(R"({"succ":true,"data":"x"})"), true, "<none>",
         "<none>", "<none>", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case in a process of its own would hide isLogin's one-way change; the table checks
        // it only where the flag must still be false.
        accounttest::AccountServer service;
        if (c.reply)
            service.server.script(accounttest::tokenLoginPath, {*c.reply});
        else
            ::setenv("TAMBERLO_ACCOUNT_URL", FakeHttpServer::refusingOrigin().c_str(), 1);
        storeSession("T0-OLD", "13900000000", "u0");
        const bool wasLogin = DMGChecker::shared().isLogin();
        Results results;
        DMGChecker::shared().fetchUserinfo(results.named("once"), false);
        ASSERT_TRUE(results.waitFor(1));
        runLoopUntil([] { return false; }, 0.05);
        // Callbacks run before the session is stored: give the store the time a slow machine needs.
        runLoopUntil([&] {
            return stored(DMGChecker::tokenKey) == c.token && stored(DMGChecker::mobileKey) == c.mobile &&
                   stored(DMGChecker::userIdKey) == c.userId;
        }, 5);
        EXPECT_EQ(results.calls.load(), 1);
        EXPECT_EQ(results.records[0].has_value(), c.record);
        if (c.reply) {
            ASSERT_EQ(service.server.requests(accounttest::tokenLoginPath).size(), 1u);
            EXPECT_EQ(service.body(accounttest::tokenLoginPath).value("accessToken").toString(), "T0-OLD");
            EXPECT_TRUE(service.refusals.empty());
        }
        EXPECT_EQ(stored(DMGChecker::tokenKey), c.token);
        EXPECT_EQ(stored(DMGChecker::mobileKey), c.mobile);
        EXPECT_EQ(stored(DMGChecker::userIdKey), c.userId);
        EXPECT_EQ(DMGChecker::shared().isLogin(), c.isLogin || wasLogin);
    }
    // The token stays private to its owner.
    EXPECT_EQ(QFileInfo(QString::fromStdString(defaults().path())).permissions() & 0x0077, 0);
}

TEST(AccountChecker, RecordsFromDataOfAnyShape) {
    struct Case {
        const char* json;
        DMGUserinfo want;
    };
    const std::vector<Case> cases{
        {R"({"accessToken":"t","mobile":"m","userId":"u","isSync":true,"isNewUser":1})", {"t", "m", "u", true, true}},
        {R"({"accessToken":null,"mobile":[1],"userId":12.5,"isSync":"yes","isNewUser":0})", {"", "", "12.5", false, false}},
        {R"({"userId":-7,"isNewUser":false})", {"", "", "-7", false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        const DMGUserinfo got = DMGUserinfo::initWithDic(QJsonDocument::fromJson(c.json).object());
        EXPECT_EQ(got.accessToken, c.want.accessToken);
        EXPECT_EQ(got.mobile, c.want.mobile);
        EXPECT_EQ(got.userId, c.want.userId);
        EXPECT_EQ(got.isSync, c.want.isSync);
        EXPECT_EQ(got.isNewUser, c.want.isNewUser);
    }
    for (const QJsonValue& notAnObject : {QJsonValue(), QJsonValue("x"), QJsonValue(3), QJsonValue(QJsonArray{})}) {
        const DMGUserinfo got = DMGUserinfo::initWithDic(notAnObject);
        EXPECT_TRUE(got.accessToken.empty() && got.mobile.empty() && got.userId.empty() && !got.isNewUser);
    }
}

TEST(AccountChecker, TheKeptListenerHearsFirstAndOnlyOnce) {
    accounttest::AccountServer service;
    Results results;
    // No token: every result is immediate.
    auto kept = std::make_shared<const DMGChecker::UserinfoBlock>(results.named("kept"));
    DMGChecker::shared().fetchUserinfo(kept, true);
    EXPECT_EQ(results.order, (std::vector<std::string>{"kept"}));
    EXPECT_EQ(DMGChecker::shared().storeUserinfoBlock(), kept);

    DMGChecker::shared().fetchUserinfo(results.named("once"), false);
    EXPECT_EQ(results.order, (std::vector<std::string>{"kept", "kept", "once"}));

    // Passing the kept callback itself runs it once.
    DMGChecker::shared().fetchUserinfo(kept, false);
    EXPECT_EQ(results.order, (std::vector<std::string>{"kept", "kept", "once", "kept"}));

    // A result after a request: the kept one first, on the client's queue.
    service.server.script(accounttest::tokenLoginPath, {accounttest::AccountServer::reply(
                                                           R"({"succ":true,"data":{"accessToken":"T","mobile":"m","userId":"u"}})")});
    defaults().setString("T", DMGChecker::tokenKey);
    DMGChecker::shared().fetchUserinfo(results.named("after request"), false);
    ASSERT_TRUE(results.waitFor(6));
    EXPECT_EQ(results.order, (std::vector<std::string>{"kept", "kept", "once", "kept", "kept", "after request"}));
}

TEST(AccountChecker, CallbacksSeeTheSessionAsItWasBefore) {
    accounttest::AccountServer service;
    service.server.script(accounttest::tokenLoginPath, {accounttest::AccountServer::reply(
                                                           R"({"succ":true,"data":{"accessToken":"T-NEW","mobile":"m","userId":"u"}})")});
    storeSession("T-OLD", "m0", "u0");
    std::atomic<bool> done{false};
    std::string seen;
    DMGChecker::shared().fetchUserinfo(
        [&](const std::optional<DMGUserinfo>&) {
            seen = stored(DMGChecker::tokenKey);
            done = true;
        },
        false);
    ASSERT_TRUE(runLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(seen, "T-OLD");
    runLoopUntil([&] { return stored(DMGChecker::tokenKey) == "T-NEW"; }, 5);
    EXPECT_EQ(stored(DMGChecker::tokenKey), "T-NEW");
}

TEST(AccountChecker, StartLoginFromAWorkerOpensOnTheMainThread) {
    DMGChecker::shared();  // starts following the windows
    QWidget editor;
    editor.resize(600, 400);
    editor.show();
    QWidget later;
    later.resize(300, 200);
    later.show();
    EXPECT_EQ(DMGChecker::currentVC(), &later);
    later.close();
    EXPECT_EQ(DMGChecker::currentVC(), &editor);

    std::thread worker([] { DMGChecker::shared().startLoginWithParent(nullptr); });
    worker.join();
    DMGLoginController* window = nullptr;
    ASSERT_TRUE(runLoopUntil([&] {
        window = editor.findChild<DMGLoginController*>();
        return window && window->isVisible();
    }));
    EXPECT_EQ(window->thread(), qApp->thread());
    EXPECT_EQ(window->windowModality(), Qt::WindowModal);
    EXPECT_EQ(window->parentWidget(), &editor);
    EXPECT_EQ(DMGChecker::currentVC(), window);
    window->reject();
}

TEST(AccountChecker, QuittingWithATokenSignInInFlightEndsQuickly) {
    accounttest::AccountServer service;
    service.server.script(accounttest::tokenLoginPath, {FakeHttpServer::Reply::of(FakeHttpServer::Reply::Kind::hang)});
    storeSession("T0", "13900000000", "u0");
    Results results;
    DMGChecker::shared().fetchUserinfo(results.named("once"), false);
    ASSERT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 1));
    QElapsedTimer clock;
    clock.start();
    platform::HttpSession::shutdown();
    ASSERT_TRUE(results.waitFor(1));
    EXPECT_LT(clock.elapsed(), 2000);
    // Cancelled is a transport error: the caller gets the stored session.
    ASSERT_TRUE(results.records[0].has_value());
    EXPECT_EQ(results.records[0]->mobile, "13900000000");
}
