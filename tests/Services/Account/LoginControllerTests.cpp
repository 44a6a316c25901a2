// The sign-in window on screen (offscreen): checks, the code countdown, the sign-in and
// set-password flows against a service that verifies every request, and the screenshots.
#include "Services/Account/DMGChecker.h"
#include "Services/Account/DMGHUD.h"
#include "Services/Account/DMGLoginController.h"
#include "Services/Account/DMTagLabel.h"
#include "Services/Account/UIHelper.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/network/HttpSession.h"
#include "Services/Account/support/AccountServer.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace tamberlo;
using testsupport::FakeHttpServer;
using testsupport::runLoop;
using testsupport::runLoopUntil;

namespace {

const char* const newUserReply =
    R"({"succ":true,"msg":"登录成功","data":{"accessToken":"T-SMS","mobile":"13800138000","userId":"u1","isNewUser":true}})";
const char* const userReply =
    R"({"succ":true,"msg":"成功","data":{"accessToken":"T-NEW","mobile":"13800138000","userId":"u1","isNewUser":false}})";

void saveScreenshot(QWidget* widget, const QString& name) {
    const QString dir = QStringLiteral(TAMBERLO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(widget->grab().save(dir + "/" + name));
}

// The text of the account overlay once one with it is on screen; empty after a time-out.
std::string waitForOverlay(const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    runLoopUntil([&] { return DMGHUD::current() && DMGHUD::current()->titleLabel->text() == wanted; });
    return DMGHUD::current() ? DMGHUD::current()->titleLabel->text().toStdString() : std::string();
}

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override {
        DMGChecker::shared();
        editor.resize(800, 600);
        editor.show();
        window = new DMGLoginController(&editor);
        window->open();
        runLoop(0.35);  // the opening tab animation
    }
    void TearDown() override {
        DMGHUD::dismiss();
        if (window) window->reject();
        // The session refresh a sign-in starts ends here, not while the process exits.
        runLoopUntil([] { return platform::HttpSession::requestsInFlight() == 0; }, 5);
        runLoop(0.2);
    }
    void press(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    void type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }

    accounttest::AccountServer service;
    QWidget editor;
    QPointer<DMGLoginController> window;
};

}  // namespace

TEST_F(LoginWindow, OpensOnTheSmsTabWithItsAppearance) {
    EXPECT_FALSE(window->isPasswordLogin());
    EXPECT_FALSE(window->isNeedSetPassword());
    EXPECT_EQ(window->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(window->windowTitle().isEmpty());
    EXPECT_EQ(window->indicatorLeading(), 71);
    EXPECT_TRUE(runLoopUntil([&] { return window->indicatorLine->x() == 71; }, 5));
    EXPECT_EQ(window->fetchCodeBtnWidth(), 90);
    EXPECT_EQ(window->resetPasswordTop(), 15);
    EXPECT_EQ(window->loginBtn->text(), "登录");
    EXPECT_EQ(window->passwordTf->placeholderText(), "验证码");
    EXPECT_FALSE(window->passwordView->isVisible());
    EXPECT_EQ(window->password1Tf->echoMode(), QLineEdit::Password);
    EXPECT_EQ(window->smsLoginBtn->palette().color(QPalette::ButtonText), QColor("#ffffff"));
    EXPECT_EQ(window->passwordLoginBtn->palette().color(QPalette::ButtonText), QColor("#666666"));
    saveScreenshot(window, "account-sms.png");

    press(window->passwordLoginBtn);
    EXPECT_TRUE(window->isPasswordLogin());
    EXPECT_EQ(window->passwordTf->placeholderText(), "密码");
    EXPECT_EQ(window->passwordTf->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(window->fetchCodeBtn->isVisible());
    EXPECT_EQ(window->fetchCodeBtnWidth(), 0);
    ASSERT_TRUE(runLoopUntil([&] { return window->indicatorLine->x() == 206; }, 5)) << "0.25 s animation";
    EXPECT_EQ(window->passwordLoginBtn->palette().color(QPalette::ButtonText), QColor("#ffffff"));
    saveScreenshot(window, "account-password.png");
}

TEST_F(LoginWindow, PhoneNumbersThatFailTheCheck) {
    const std::vector<QString> bad{"1380013800", "23800138000", "138 0013 8000", "+8613800138000",
                                   QString::fromUtf8("１３８００１３８０００"), "13800138000 "};
    for (const QString& phone : bad) {
        SCOPED_TRACE(phone.toStdString());
        DMGHUD::dismiss();
        window->usernameTf->setText(phone);
        press(window->fetchCodeBtn);
        EXPECT_EQ(waitForOverlay("手机号格式不正确"), "手机号格式不正确");
        EXPECT_TRUE(window->fetchCodeBtn->isEnabled());
    }
    DMGHUD::dismiss();
    window->usernameTf->clear();
    press(window->loginBtn);
    EXPECT_EQ(waitForOverlay("请输入手机号"), "请输入手机号");
    window->usernameTf->setText("13800138000");
    press(window->loginBtn);
    EXPECT_EQ(waitForOverlay("请输入验证码/密码"), "请输入验证码/密码");
    runLoop(0.1);
    EXPECT_TRUE(service.server.requests().empty());
    EXPECT_TRUE(DMGLoginController::isValidPhone("13800138000"));
    EXPECT_TRUE(DMGLoginController::isValidPhone("19999999999"));
}

TEST_F(LoginWindow, FetchingACodeCountsDownAndOffersTheButtonAgain) {
    service.server.script(accounttest::fetchCodePath, {accounttest::AccountServer::reply(R"({"succ":false,"msg":"频繁"})")},
                          accounttest::AccountServer::reply(R"({"succ":true,"msg":"验证码已发送"})"));
    type(window->usernameTf, "13800138000");
    // A refused request: silent, the button is offered again.
    press(window->fetchCodeBtn);
    EXPECT_FALSE(window->fetchCodeBtn->isEnabled());
    ASSERT_TRUE(runLoopUntil([&] { return window->fetchCodeBtn->isEnabled(); }));
    EXPECT_EQ(window->fetchCodeBtn->text(), "获取验证码");

    window->setCountdownTick(10);
    std::vector<std::string> titles;
    QObject::connect(window->findChild<QTimer*>("countdownTimer"), &QTimer::timeout, window,
                     [&] { titles.push_back(window->fetchCodeBtn->text().toStdString()); });
    press(window->fetchCodeBtn);
    EXPECT_FALSE(window->fetchCodeBtn->isEnabled());
    EXPECT_EQ(waitForOverlay("验证码已发送"), "验证码已发送");
    ASSERT_TRUE(runLoopUntil([&] { return window->fetchCodeBtn->isEnabled(); }));
    ASSERT_EQ(titles.size(), 59u);  // the first title comes at once, before the timer fires
    EXPECT_EQ(titles.front(), "重新发送(58s)");
    EXPECT_EQ(titles[57], "重新发送(01s)");
    EXPECT_EQ(titles.back(), "重新发送");
    EXPECT_EQ(service.body(accounttest::fetchCodePath, 1).value("smsType"), "1");
    EXPECT_TRUE(service.refusals.empty());
}

TEST_F(LoginWindow, FirstSmsSignInAsksForAPasswordThenSetsIt) {
    service.server.script(accounttest::smsLoginPath, {accounttest::AccountServer::reply(newUserReply)});
    service.server.script(accounttest::verifyPath, {accounttest::AccountServer::reply(R"({"succ":true})")});
    service.server.script(accounttest::resetPath, {accounttest::AccountServer::reply(userReply)});
    service.server.script(accounttest::tokenLoginPath, {}, accounttest::AccountServer::reply(userReply));
    type(window->usernameTf, "13800138000");
    type(window->passwordTf, "1234");
    press(window->loginBtn);
    EXPECT_EQ(waitForOverlay("您是首次登录，请设置密码"), "您是首次登录，请设置密码");
    EXPECT_EQ(window->loginBtn->text(), "设置密码");
    EXPECT_TRUE(window->isNeedSetPassword());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->passwordView->isVisible() && window->rePasswordView->isVisible());
    EXPECT_EQ(window->resetPasswordTop(), 135);
    // The token the SMS sign-in stored is the one the token sign-in sends (its reply may already
    // have replaced the stored one with "T-NEW").
    ASSERT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 1));
    EXPECT_EQ(service.body(accounttest::tokenLoginPath).value("accessToken"), "T-SMS");
    runLoop(0.35);
    DMGHUD::dismiss();
    saveScreenshot(window, "account-set-password.png");

    struct Case {
        QString first, second;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{{"abc12", "abc12", "请输入6位以上密码"}, {"abc123", "abc124", "两次密码不一致"}}) {
        DMGHUD::dismiss();
        type(window->password1Tf, c.first);
        type(window->password2Tf, c.second);
        press(window->loginBtn);
        EXPECT_EQ(waitForOverlay(c.message), c.message);
    }
    EXPECT_TRUE(service.server.requests(accounttest::verifyPath).empty());

    type(window->password1Tf, "abc123");
    type(window->password2Tf, "abc123");
    press(window->loginBtn);
    ASSERT_TRUE(runLoopUntil([&] { return window.isNull(); })) << "the window closes";
    ASSERT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 2));
    const auto verify = service.server.requests(accounttest::verifyPath);
    const auto reset = service.server.requests(accounttest::resetPath);
    ASSERT_EQ(verify.size(), 1u);
    ASSERT_EQ(reset.size(), 1u);
    EXPECT_LE(verify[0].receivedAt, reset[0].receivedAt);
    EXPECT_LE(reset[0].receivedAt, service.server.requests(accounttest::tokenLoginPath)[1].receivedAt);
    EXPECT_EQ(service.body(accounttest::verifyPath).value("securityCode"), "1234");
    EXPECT_EQ(service.body(accounttest::resetPath).value("password"), "abc123");
    EXPECT_EQ(service.body(accounttest::tokenLoginPath, 1).value("accessToken"), "T-NEW");
    EXPECT_TRUE(service.refusals.empty());
}

TEST_F(LoginWindow, PasswordSignInOfANewUserCloses) {
    service.server.script(accounttest::loginPath, {accounttest::AccountServer::reply(newUserReply)});
    service.server.script(accounttest::tokenLoginPath, {}, accounttest::AccountServer::reply(newUserReply));
    press(window->passwordLoginBtn);
    type(window->usernameTf, "13800138000");
    type(window->passwordTf, "pw-123456");
    press(window->loginBtn);
    ASSERT_TRUE(runLoopUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 1));
    EXPECT_EQ(service.body(accounttest::loginPath).value("password"), "pw-123456");
}

TEST_F(LoginWindow, RefusalsShowTheServiceTextOrTheFallbackAndKeepTheFields) {
    using Reply = FakeHttpServer::Reply;
    struct Case {
        Reply reply;
        std::string shown;
    };
    const std::vector<Case> cases{
        {Reply::status(500, "application/json", R"({"succ":false,"msg":"<b>验证码错误</b>"})"), "<b>验证码错误</b>"},
        {Reply::status(200, "application/json", R"({"succ":false})"), "网络异常，请稍后重试"},
        {Reply::status(200, "text/plain", "oops"), "网络异常，请稍后重试"},
        {Reply::status(200, "application/json", R"({"succ":"yes","msg":"m"})"), "m"},
    };
    type(window->usernameTf, "13800138000");
    type(window->passwordTf, "1234");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        DMGHUD::dismiss();
        service.server.script(accounttest::smsLoginPath, {c.reply});
        press(window->loginBtn);
        ASSERT_EQ(waitForOverlay(c.shown), c.shown);
        EXPECT_EQ(DMGHUD::current()->titleLabel->textFormat(), Qt::PlainText);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->usernameTf->text(), "13800138000");
        EXPECT_EQ(window->passwordTf->text(), "1234");
    }
    saveScreenshot(window, "account-hud.png");

    // No reply at all: the service cannot be reached.
    DMGHUD::dismiss();
    ::setenv("TAMBERLO_ACCOUNT_URL", FakeHttpServer::refusingOrigin().c_str(), 1);
    press(window->loginBtn);
    EXPECT_EQ(waitForOverlay("网络异常，请稍后重试"), "网络异常，请稍后重试");
    EXPECT_EQ(window->passwordTf->text(), "1234");
}

TEST_F(LoginWindow, AResetWindowAsksForACodeOfItsOwnKindAndClosesItsOpener) {
    service.server.script(accounttest::fetchCodePath, {}, accounttest::AccountServer::reply(R"({"succ":true,"msg":"已发送"})"));
    service.server.script(accounttest::verifyPath, {accounttest::AccountServer::reply(R"({"succ":true})")});
    service.server.script(accounttest::resetPath, {accounttest::AccountServer::reply(userReply)});
    service.server.script(accounttest::tokenLoginPath, {}, accounttest::AccountServer::reply(userReply));
    press(window->resetPasswordBtn);
    QPointer<DMGLoginController> reset;
    ASSERT_TRUE(runLoopUntil([&] {
        reset = window->findChild<DMGLoginController*>();
        return reset && reset->isVisible();
    }));
    runLoop(0.35);
    EXPECT_TRUE(reset->isResetPassword());
    EXPECT_TRUE(reset->isNeedSetPassword());
    EXPECT_EQ(reset->smsLoginBtn->text(), "重置密码");
    EXPECT_EQ(reset->smsLoginBtnLeading(), 130);
    EXPECT_FALSE(reset->passwordLoginBtn->isVisible() || reset->resetPasswordBtn->isVisible() || reset->indicatorLine->isVisible());
    EXPECT_EQ(reset->loginBtn->text(), "设置密码");
    EXPECT_EQ(DMGChecker::currentVC(), reset.data());
    saveScreenshot(reset, "account-reset.png");

    reset->setCountdownTick(3600 * 1000);
    type(reset->usernameTf, "13800138000");
    press(reset->fetchCodeBtn);
    ASSERT_TRUE(service.server.waitForRequests(accounttest::fetchCodePath, 1));
    EXPECT_EQ(service.body(accounttest::fetchCodePath).value("smsType"), "2");
    ASSERT_TRUE(runLoopUntil([&] { return reset->fetchCodeBtn->text() == "重新发送(59s)"; }));

    type(reset->passwordTf, "8888");
    type(reset->password1Tf, "abcdef");
    type(reset->password2Tf, "abcdef");
    press(reset->loginBtn);
    ASSERT_TRUE(runLoopUntil([&] { return reset.isNull() && window.isNull(); })) << "both windows close";
    EXPECT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 1));
    EXPECT_EQ(service.body(accounttest::resetPath).value("password"), "abcdef");
    EXPECT_TRUE(service.refusals.empty());
}

TEST_F(LoginWindow, AReplyForAClosedWindowOnlyKeepsTheSession) {
    service.server.script(accounttest::smsLoginPath, {FakeHttpServer::Reply::of(FakeHttpServer::Reply::Kind::hang)});
    type(window->usernameTf, "13800138000");
    type(window->passwordTf, "1234");
    press(window->loginBtn);
    ASSERT_TRUE(service.server.waitForRequests(accounttest::smsLoginPath, 1));
    window->reject();
    ASSERT_TRUE(runLoopUntil([&] { return window.isNull(); }));
    // A late success on a second try after the window has gone.
    service.server.script(accounttest::smsLoginPath, {accounttest::AccountServer::reply(newUserReply)});
    service.server.script(accounttest::tokenLoginPath, {}, accounttest::AccountServer::reply(userReply));
    QPointer<DMGLoginController> second = new DMGLoginController(&editor);
    second->open();
    type(second->usernameTf, "13800138000");
    type(second->passwordTf, "1234");
    press(second->loginBtn);
    second->reject();
    ASSERT_TRUE(service.server.waitForRequests(accounttest::tokenLoginPath, 1));
    EXPECT_EQ(service.body(accounttest::tokenLoginPath).value("accessToken"), "T-SMS");
    runLoop(0.1);
    EXPECT_EQ(DMGHUD::current(), nullptr);
}

TEST(DMGHUD, OverlaysReplaceEachOtherAndHopToMain) {
    DMGChecker::shared();
    // Dismissals that messages shown before this test still have pending run first: each is due a
    // lifetime after its message showed, so a marker sent once those have shown, with the same
    // delay, comes after every one of them.
    runLoop(0.05);
    auto settled = std::make_shared<bool>(false);
    platform::DispatchQueue::main().asyncAfter(DMGHUD::messageLifetime(), [settled] { *settled = true; });
    ASSERT_TRUE(runLoopUntil([&] { return *settled; }));
    QWidget window;
    window.resize(400, 300);
    window.show();
    DMGHUD::showInfoWithStatus("一");
    EXPECT_EQ(DMGHUD::current(), nullptr) << "the work is done later, on the main thread";
    ASSERT_EQ(waitForOverlay("一"), "一");
    EXPECT_EQ(DMGHUD::current()->parentWidget(), &window);
    EXPECT_EQ(DMGHUD::current()->geometry(), window.rect());
    QPointer<DMGHUD> first = DMGHUD::current();
    // A progress card schedules nothing: the info message's dismissal removes it.
    std::thread([] { DMGHUD::showProgressWithStatus("处理中"); }).join();
    ASSERT_EQ(waitForOverlay("处理中"), "处理中");
    EXPECT_TRUE(runLoopUntil([&] { return first.isNull(); }));
    ASSERT_NE(DMGHUD::current(), nullptr) << "the info message's dismissal came before the progress card was seen";
    EXPECT_TRUE(DMGHUD::current()->progressView->isVisible());
    EXPECT_TRUE(runLoopUntil([] { return DMGHUD::current() == nullptr; }));

    DMGHUD::showErrorWithStatus("<i>x</i>");
    ASSERT_EQ(waitForOverlay("<i>x</i>"), "<i>x</i>");
    EXPECT_FALSE(DMGHUD::current()->tagImageView->pixmap().isNull()) << "the error icon from the resources";
    std::thread([] { DMGHUD::dismiss(); }).join();
    EXPECT_NE(DMGHUD::current(), nullptr) << "not touched from the worker";
    EXPECT_TRUE(runLoopUntil([] { return DMGHUD::current() == nullptr; }));
}

TEST(DMGViews, HexColours) {
    EXPECT_EQ(UIHelper::hexColor("E7BC80"), QColor(0xE7, 0xBC, 0x80, 0xFF));
    EXPECT_EQ(UIHelper::hexColor("50ffffff"), QColor(0xFF, 0xFF, 0xFF, 0x50));
    EXPECT_EQ(UIHelper::hexColor("abc"), std::nullopt);
    EXPECT_EQ(UIHelper::hexColor(""), std::nullopt);
}

TEST(DMGViews, TagLabelDrawsABarWithAHalfDiscEnd) {
    DMTagLabel label("VIP");
    label.resize(100, 20);
    label.setBackgroundColor(QColor(0xFC, 0x2C, 0x5C));
    const QImage image = label.grab().toImage();
    const qreal scale = image.width() / 100.0;
    auto at = [&](int x, int y) { return image.pixelColor(int(x * scale), int(y * scale)); };
    EXPECT_EQ(at(2, 2), QColor(0xFC, 0x2C, 0x5C));
    EXPECT_EQ(at(96, 10), QColor(0xFC, 0x2C, 0x5C)) << "inside the half-disc";
    EXPECT_NE(at(98, 2), QColor(0xFC, 0x2C, 0x5C)) << "right of the half-disc's edge";
}
