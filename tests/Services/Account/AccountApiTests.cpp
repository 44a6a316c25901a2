// The account client: signing, the six signed posts against a service that checks them, replies
// of every shape, and what reaches the log.
#include "Services/Account/DMGApi.h"
#include "platform/foundation/OSLog.h"
#include "Services/Account/support/AccountServer.h"
#include "main/TestSupport.h"

#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

using namespace tamberlo;
using testsupport::FakeHttpServer;
using testsupport::runLoopUntil;

namespace {

// What one request's completion saw.
struct Outcome {
    std::atomic<int> calls{0};
    std::mutex mutex;
    DMGApi::Error error;
    DMGApi::Reply reply;
    bool onMain = true;
    bool onClientQueue = false;

    DMGApi::Completion completion() {
        return [this](const DMGApi::Error& e, const DMGApi::Reply& r) {
            {
                std::lock_guard lock(mutex);
                error = e;
                reply = r;
                onMain = QThread::currentThread() == qApp->thread();
                onClientQueue = DMGApi::shared().isCompletionQueue();
            }
            ++calls;
        };
    }
    bool wait() { return runLoopUntil([this] { return calls.load() > 0; }); }
};

}  // namespace

TEST(AccountApi, SignatureVectorAndDigest) {
    DMGApi::shared().setServiceKey(accounttest::serviceKey);
    EXPECT_EQ(DMGApi::shared().getSignature("0F8E6A52-3C1D-4B7E-9A20-5D4C3B2A1F00", "1700000000"),
              "8541024A0AE2688C58C2753E6F47102A");
    EXPECT_EQ(DMGApi::md5HexDigest("hello"), "5d41402abc4b2a76b9719d911017c592");
    EXPECT_EQ(DMGApi::md5HexDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(AccountApi, BaseBodiesDifferInNonceAndSignature) {
    accounttest::AccountServer service;
    const QJsonObject first = DMGApi::shared().signature();
    const QJsonObject second = DMGApi::shared().signature();
    EXPECT_NE(first.value("noncestr"), second.value("noncestr"));
    EXPECT_NE(first.value("sign"), second.value("sign"));
    EXPECT_EQ(first.value("packageName").toString(), "io.tamberlo.Tamberlo");
    EXPECT_EQ(first.value("head").toObject().value("packagename"), first.value("packageName"));
    EXPECT_EQ(first.value("head").toObject().value("versioncode").toString(), "0.1.0");
    EXPECT_EQ(first.value("sign").toString().toStdString(),
              DMGApi::shared().getSignature(first.value("noncestr").toString().toStdString(),
                                            first.value("timestamp").toString().toStdString()));
}

TEST(AccountApi, EachOperationIsASignedPostTheServiceAccepts) {
    accounttest::AccountServer service;
    struct Case {
        std::string path;
        std::function<void(DMGApi::Completion)> send;
        QJsonObject own;
    };
    const std::vector<Case> cases{
        {accounttest::loginPath, [](auto c) { DMGApi::shared().loginWithPhone("13800138000", "pw-123456", c); },
         {{"mobile", "13800138000"}, {"password", "pw-123456"}}},
        {accounttest::smsLoginPath, [](auto c) { DMGApi::shared().loginWithPhone("13800138000", DMGApi::SmsCode{"1234"}, c); },
         {{"mobile", "13800138000"}, {"securityCode", "1234"}}},
        {accounttest::tokenLoginPath, [](auto c) { DMGApi::shared().loginWithToken("T1", c); }, {{"accessToken", "T1"}}},
        {accounttest::fetchCodePath, [](auto c) { DMGApi::shared().fetchSmsCode("13800138000", true, c); },
         {{"mobile", "13800138000"}, {"smsType", "1"}}},
        {accounttest::fetchCodePath, [](auto c) { DMGApi::shared().fetchSmsCode("13800138000", false, c); },
         {{"mobile", "13800138000"}, {"smsType", "2"}}},
        {accounttest::verifyPath, [](auto c) { DMGApi::shared().verifyPhone("13800138000", "5678", c); },
         {{"mobile", "13800138000"}, {"securityCode", "5678"}}},
        {accounttest::resetPath, [](auto c) { DMGApi::shared().resetWithPhone("13800138000", "abc123", c); },
         {{"mobile", "13800138000"}, {"password", "abc123"}}},
    };
    std::map<std::string, std::size_t> seen;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        service.server.script(c.path, {}, accounttest::AccountServer::reply(R"({"succ":true,"msg":"好"})"));
        Outcome outcome;
        c.send(outcome.completion());
        ASSERT_TRUE(outcome.wait());
        runLoopUntil([] { return false; }, 0.05);
        EXPECT_EQ(outcome.calls.load(), 1);
        EXPECT_FALSE(outcome.error.has_value());
        ASSERT_TRUE(outcome.reply.has_value());
        EXPECT_TRUE(DMGApi::isSuccess(outcome.reply));
        EXPECT_EQ(DMGApi::message(outcome.reply), "好");
        EXPECT_FALSE(outcome.onMain);
        EXPECT_TRUE(outcome.onClientQueue);
        const auto requests = service.server.requests(c.path);
        const std::size_t n = seen[c.path]++;
        ASSERT_EQ(requests.size(), n + 1);
        EXPECT_EQ(requests[n].method, "POST");
        EXPECT_EQ(requests[n].body.find('\n'), std::string::npos) << "compact JSON";
        const QJsonObject body = service.body(c.path, n);
        for (const QString& key : c.own.keys()) EXPECT_EQ(body.value(key), c.own.value(key)) << key.toStdString();
    }
    EXPECT_TRUE(service.refusals.empty()) << service.refusals.front();
}

TEST(AccountApi, RepliesOfEveryShapeEndInOneCompletion) {
    accounttest::AccountServer service;
    using Reply = FakeHttpServer::Reply;
    struct Case {
        const char* name;
        Reply reply;
        bool error;
        bool hasReply;
    };
    // (A reset connection is not here: the network layer sends the post once more, and this
    // service refuses the repeated nonce with a reply. Transport errors are the next test's.)
    const std::vector<Case> cases{
        {"500 with an object", Reply::status(500, "application/json", R"({"succ":false,"msg":"密码错误"})"), false, true},
        {"plain text", Reply::status(200, "text/plain", "oops"), false, false},
        {"a list", Reply::status(200, "application/json", "[]"), false, false},
        {"a bare string", Reply::status(200, "application/json", "\"x\""), false, false},
        {"empty", Reply::status(200, "application/json", ""), false, false},
        {"3 MB", Reply::of(Reply::Kind::huge), true, false},  // over the size cap: a failure
        {"succ yes", Reply::status(200, "application/json", R"({"succ":"yes","msg":"m"})"), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service.server.script(accounttest::loginPath, {c.reply});
        Outcome outcome;
        DMGApi::shared().loginWithPhone("13800138000", "pw", outcome.completion());
        ASSERT_TRUE(outcome.wait());
        runLoopUntil([] { return false; }, 0.05);
        EXPECT_EQ(outcome.calls.load(), 1);
        EXPECT_EQ(outcome.error.has_value(), c.error);
        EXPECT_EQ(outcome.reply.has_value(), c.hasReply);
        EXPECT_FALSE(DMGApi::isSuccess(outcome.reply));
    }
    EXPECT_TRUE(service.refusals.empty());
}

TEST(AccountApi, RefusedConnectionAndPlainHttpToAnotherHostAreErrors) {
    accounttest::AccountServer service;
    for (const std::string& origin : {FakeHttpServer::refusingOrigin(), std::string("http://account.example.com")}) {
        SCOPED_TRACE(origin);
        ::setenv("TAMBERLO_ACCOUNT_URL", origin.c_str(), 1);
        Outcome outcome;
        DMGApi::shared().loginWithToken("T", outcome.completion());
        ASSERT_TRUE(outcome.wait());
        EXPECT_TRUE(outcome.error.has_value());
        EXPECT_FALSE(outcome.reply.has_value());
        EXPECT_FALSE(outcome.onMain);
    }
}

// A reply cannot write log lines of its own, and an origin's credentials never reach the log.
TEST(AccountApi, ForgedMessageStaysOnItsLineAndOriginCredentialsAreLeftOut) {
    accounttest::AccountServer service;
    const std::string origin = service.server.origin();
    const std::string withUser = "http://acct-user:acct-pw@" + origin.substr(std::string("http://").size());
    ::setenv("TAMBERLO_ACCOUNT_URL", withUser.c_str(), 1);
    service.server.script(accounttest::loginPath,
                          {accounttest::AccountServer::reply(R"({"succ":true,"msg":"ok\nFAKE LOG LINE token=leak"})")});
    Outcome outcome;
    DMGApi::shared().loginWithPhone("13800138000", "pw-123456", outcome.completion());
    ASSERT_TRUE(outcome.wait());
    ::setenv("TAMBERLO_ACCOUNT_URL", origin.c_str(), 1);
    EXPECT_EQ(DMGApi::message(outcome.reply), "ok\nFAKE LOG LINE token=leak");  // the reply itself is untouched

    const std::string file = testsupport::readFile(platform::LogSink::filePath());
    EXPECT_EQ(file.find("\nFAKE LOG LINE"), std::string::npos);
    EXPECT_NE(file.find("msg=ok\\nFAKE LOG LINE token=leak"), std::string::npos);
    EXPECT_EQ(file.find("acct-pw"), std::string::npos);
    EXPECT_EQ(file.find("acct-user"), std::string::npos);
}

TEST(AccountApi, LogLinesHoldNeitherTokenNorPasswordNorBody) {
    accounttest::AccountServer service;
    platform::LogSink::clear();
    service.server.script(accounttest::loginPath, {accounttest::AccountServer::reply(
                                                      R"({"succ":true,"msg":"登录成功","data":{"accessToken":"TOKEN-B7-SECRET","mobile":"13800138000","userId":"u1"}})")});
    Outcome outcome;
    DMGApi::shared().loginWithPhone("13800138000", "pw-123456", outcome.completion());
    ASSERT_TRUE(outcome.wait());
    bool logged = false;
    for (const auto& entry : platform::LogSink::entries()) {
        EXPECT_EQ(entry.message.find("TOKEN-B7-SECRET"), std::string::npos) << entry.message;
        EXPECT_EQ(entry.message.find("pw-123456"), std::string::npos) << entry.message;
        if (entry.message.find(accounttest::loginPath) != std::string::npos) {
            logged = true;
            EXPECT_NE(entry.message.find("status=200 succ=1 msg=登录成功"), std::string::npos) << entry.message;
        }
    }
    EXPECT_TRUE(logged);
}
