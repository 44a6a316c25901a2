#include "Services/Account/DMGLoginController.h"

#include "Services/Account/DMGChecker.h"
#include "Services/Account/DMGHUD.h"
#include "Services/Account/DMGUserinfo.h"
#include "Services/Account/UIHelper.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "Widgets/ViewHelper.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QVariantAnimation>

namespace tamberlo {

namespace {

constexpr int windowWidth = 400;
constexpr int fieldLeft = 40;
constexpr int fieldWidth = 320;
constexpr int fieldHeight = 50;

QColor colour(const char* hex) { return UIHelper::hexColor(QString::fromLatin1(hex)).value_or(QColor()); }

QString css(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
}

// A rounded background of one of the window's colours.
void paintBox(QWidget* view, const char* hex, int radius) {
    view->setAttribute(Qt::WA_StyledBackground);
    view->setStyleSheet(QStringLiteral("#%1 { background: %2; border-radius: %3px; border: none; }")
                            .arg(view->objectName(), css(colour(hex)))
                            .arg(radius));
}

QLineEdit* field(QWidget* container, const QString& name, const QString& placeholder) {
    auto* edit = new QLineEdit(container);
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    edit->setFrame(false);
    edit->setFont(pingfangSC(15));
    edit->setStyleSheet("background: transparent; color: #333333;");
    return edit;
}

QWidget* container(QWidget* parent, const QString& name) {
    auto* view = new QWidget(parent);
    view->setObjectName(name);
    return view;
}

// The message of a refused request; without a reply or a message the user still learns why.
std::string errorText(const DMGApi::Reply& reply) {
    const std::string message = DMGApi::message(reply);
    return message.empty() ? "网络异常，请稍后重试" : message;
}

// A window the user closed may live on until its deletion runs: it counts as gone.
bool isOpen(const QPointer<DMGLoginController>& window) { return window && window->isVisible(); }

void refreshSession() {
    DMGChecker::shared().fetchUserinfo([](const std::optional<DMGUserinfo>&) {}, false);
}

}  // namespace

DMGLoginController::DMGLoginController(QWidget* parent, bool isResetPassword)
    : QDialog(parent), isResetPassword_(isResetPassword) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QString());
    buildViews();
    viewDidLoad();
}

DMGLoginController::~DMGLoginController() = default;

bool DMGLoginController::isValidPhone(const QString& phone) {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern("1[0-9]{10}"));
    return pattern.match(phone).hasMatch();
}

void DMGLoginController::buildViews() {
    setObjectName("DMGLoginController");
    smsLoginBtn = new QPushButton("验证码登录", this);
    passwordLoginBtn = new QPushButton("密码登录", this);
    for (QPushButton* tab : {smsLoginBtn, passwordLoginBtn}) {
        tab->setFlat(true);
        tab->setFont(pingfangSC_Medium(17));
        tab->setFocusPolicy(Qt::NoFocus);
        tab->setCursor(Qt::PointingHandCursor);
    }
    indicatorLine = container(this, "indicatorLine");
    usernameView = container(this, "usernameView");
    codeView = container(this, "codeView");
    passwordView = container(this, "passwordView");
    rePasswordView = container(this, "rePasswordView");
    usernameTf = field(usernameView, "usernameTf", "请输入手机号");
    passwordTf = field(codeView, "passwordTf", "验证码");
    password1Tf = field(passwordView, "password1Tf", "请设置6位以上密码");
    password2Tf = field(rePasswordView, "password2Tf", "请再次输入密码");
    password1Tf->setEchoMode(QLineEdit::Password);
    password2Tf->setEchoMode(QLineEdit::Password);
    fetchCodeBtn = new QPushButton("获取验证码", codeView);
    fetchCodeBtn->setObjectName("fetchCodeBtn");
    fetchCodeBtn->setFont(pingfangSC(13));
    resetPasswordBtn = new QPushButton("忘记密码？", this);
    resetPasswordBtn->setFlat(true);
    resetPasswordBtn->setFont(pingfangSC(13));
    UIHelper::setButton(resetPasswordBtn, colour("ffffff"));
    loginBtn = new QPushButton("登录", this);
    loginBtn->setObjectName("loginBtn");
    loginBtn->setFont(pingfangSC_Medium(16));
    loginBtn->setDefault(true);

    connect(smsLoginBtn, &QPushButton::clicked, this, [this] { smsLoginClick(); });
    connect(passwordLoginBtn, &QPushButton::clicked, this, [this] { passwordLoginClick(); });
    connect(fetchCodeBtn, &QPushButton::clicked, this, [this] { fetchSmsCodeClick(); });
    connect(loginBtn, &QPushButton::clicked, this, [this] { loginClick(); });
    connect(resetPasswordBtn, &QPushButton::clicked, this, [this] { resetPasswordClick(); });

    countdownTimer_ = new QTimer(this);
    countdownTimer_->setObjectName("countdownTimer");
    countdownTimer_->setTimerType(Qt::PreciseTimer);
    connect(countdownTimer_, &QTimer::timeout, this, [this] { countDownStep(); });

    animation_ = new QVariantAnimation(this);
    animation_->setDuration(250);
    animation_->setStartValue(0.0);
    animation_->setEndValue(1.0);
}

void DMGLoginController::viewDidLoad() {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colour("E7BC80"));
    setPalette(palette);
    for (QWidget* box : {usernameView, codeView, passwordView, rePasswordView}) paintBox(box, "50ffffff", 10);
    paintBox(indicatorLine, "eeffffff", 1);
    paintBox(fetchCodeBtn, "aaffffff", 14);
    paintBox(loginBtn, "eeffffff", 20);
    UIHelper::setButton(smsLoginBtn, colour("ffffff"));
    UIHelper::setButton(passwordLoginBtn, colour("666666"));

    resetPasswordTop_ = 15;
    passwordView->hide();
    rePasswordView->hide();
    indicatorLeading_ = 70;
    shownIndicatorLeading_ = indicatorLeading_;
    shownResetPasswordTop_ = resetPasswordTop_;
    if (!isResetPassword_) {
        smsLoginClick();
    } else {
        indicatorLine->hide();
        passwordLoginBtn->hide();
        resetPasswordBtn->hide();
        smsLoginBtn->setText("重置密码");
        smsLoginBtnLeading_ = 130;
        isNeedSetPassword_ = true;
        showNeedPassword();
    }
    layoutViews();
}

void DMGLoginController::layoutViews() {
    smsLoginBtn->setGeometry(smsLoginBtnLeading_, 40, isResetPassword_ ? 140 : 110, 30);
    passwordLoginBtn->setGeometry(195, 40, 110, 30);
    indicatorLine->setGeometry(int(shownIndicatorLeading_), 74, 88, 2);
    usernameView->setGeometry(fieldLeft, 100, fieldWidth, fieldHeight);
    codeView->setGeometry(fieldLeft, 165, fieldWidth, fieldHeight);
    passwordView->setGeometry(fieldLeft, 230, fieldWidth, fieldHeight);
    rePasswordView->setGeometry(fieldLeft, 295, fieldWidth, fieldHeight);
    for (QLineEdit* edit : {usernameTf, password1Tf, password2Tf}) edit->setGeometry(15, 0, fieldWidth - 30, fieldHeight);
    const int codeWidth = fetchCodeBtnWidth_;
    fetchCodeBtn->setGeometry(fieldWidth - 10 - codeWidth, 11, codeWidth, 28);
    passwordTf->setGeometry(15, 0, fieldWidth - 30 - (codeWidth ? codeWidth + 5 : 0), fieldHeight);
    const int resetTop = 215 + int(shownResetPasswordTop_);
    resetPasswordBtn->setGeometry(fieldLeft + fieldWidth - 100, resetTop, 100, 24);
    loginBtn->setGeometry(fieldLeft, resetTop + 45, fieldWidth, 40);
    // The window takes its final height at once; only its content moves.
    const QSize wanted(windowWidth, 215 + std::max(resetPasswordTop_, int(shownResetPasswordTop_)) + 45 + 40 + 40);
    if (size() != wanted) setFixedSize(wanted);
}

void DMGLoginController::animateLayout() {
    animation_->stop();
    animation_->disconnect(this);
    const double indicatorFrom = shownIndicatorLeading_;
    const double resetFrom = shownResetPasswordTop_;
    connect(animation_, &QVariantAnimation::valueChanged, this, [this, indicatorFrom, resetFrom](const QVariant& value) {
        const double t = value.toDouble();
        shownIndicatorLeading_ = indicatorFrom + (indicatorLeading_ - indicatorFrom) * t;
        shownResetPasswordTop_ = resetFrom + (resetPasswordTop_ - resetFrom) * t;
        layoutViews();
    });
    connect(animation_, &QVariantAnimation::finished, this, [this] {
        shownIndicatorLeading_ = indicatorLeading_;
        shownResetPasswordTop_ = resetPasswordTop_;
        layoutViews();
    });
    animation_->start();
}

void DMGLoginController::setTabColours() {
    UIHelper::setButton(isPasswordLogin_ ? passwordLoginBtn : smsLoginBtn, colour("ffffff"));
    UIHelper::setButton(isPasswordLogin_ ? smsLoginBtn : passwordLoginBtn, colour("666666"));
}

void DMGLoginController::setNewPasswordShown(bool shown) {
    resetPasswordTop_ = shown ? 135 : 15;
    passwordView->setVisible(shown);
    rePasswordView->setVisible(shown);
}

void DMGLoginController::smsLoginClick() {
    isPasswordLogin_ = false;
    fetchCodeBtn->show();
    fetchCodeBtnWidth_ = 90;
    passwordTf->setPlaceholderText("验证码");
    passwordTf->setEchoMode(QLineEdit::Normal);
    indicatorLeading_ = 71;
    setTabColours();
    setNewPasswordShown(isNeedSetPassword_);
    loginBtn->setText(isNeedSetPassword_ ? "设置密码" : "登录");
    animateLayout();
}

void DMGLoginController::passwordLoginClick() {
    isPasswordLogin_ = true;
    fetchCodeBtn->hide();
    fetchCodeBtnWidth_ = 0;
    passwordTf->setPlaceholderText("密码");
    passwordTf->setEchoMode(QLineEdit::Password);
    indicatorLeading_ = 206;
    setTabColours();
    setNewPasswordShown(false);
    animateLayout();
}

void DMGLoginController::showNeedPassword() {
    setNewPasswordShown(true);
    loginBtn->setText("设置密码");
    animateLayout();
}

bool DMGLoginController::checkPhone(const QString& phone) {
    if (phone.isEmpty()) {
        DMGHUD::showInfoWithStatus("请输入手机号");
        return false;
    }
    if (!isValidPhone(phone)) {
        DMGHUD::showInfoWithStatus("手机号格式不正确");
        return false;
    }
    return true;
}

void DMGLoginController::fetchSmsCodeClick() {
    const QString phone = usernameTf->text();
    if (!checkPhone(phone)) return;
    fetchCodeBtn->setEnabled(false);
    QPointer<DMGLoginController> self(this);
    DMGApi::shared().fetchSmsCode(phone.toStdString(), !isResetPassword_, [self](const DMGApi::Error&, const DMGApi::Reply& reply) {
        platform::DispatchQueue::main().async([self, reply] {
            if (!isOpen(self)) return;
            if (DMGApi::isSuccess(reply)) {
                DMGHUD::showSuccessWithStatus(DMGApi::message(reply));
                self->countDown();
            } else {
                // A refused code request stays silent: the button is simply offered again.
                self->fetchCodeBtn->setEnabled(true);
            }
        });
    });
}

void DMGLoginController::countDown() {
    counter_ = 59;
    countdownTimer_->start(countdownTick_);
    countDownStep();
}

void DMGLoginController::countDownStep() {
    if (counter_ >= 1) {
        fetchCodeBtn->setText(QString::asprintf("重新发送(%.2ds)", counter_));
        fetchCodeBtn->setEnabled(false);
        --counter_;
        return;
    }
    countdownTimer_->stop();
    fetchCodeBtn->setText("重新发送");
    fetchCodeBtn->setEnabled(true);
}

void DMGLoginController::loginClick() {
    const QString phone = usernameTf->text();
    if (!checkPhone(phone)) return;
    const QString code = passwordTf->text();
    if (code.isEmpty()) {
        DMGHUD::showInfoWithStatus("请输入验证码/密码");
        return;
    }
    QPointer<DMGLoginController> self(this);
    auto finish = [self](const DMGApi::Error&, const DMGApi::Reply& reply) {
        platform::DispatchQueue::main().async([self, reply] { handleLoginResult(self, reply); });
    };
    if (!isNeedSetPassword_) {
        if (isPasswordLogin_)
            DMGApi::shared().loginWithPhone(phone.toStdString(), code.toStdString(), finish);
        else
            DMGApi::shared().loginWithPhone(phone.toStdString(), DMGApi::SmsCode{code.toStdString()}, finish);
        return;
    }
    const QString password = password1Tf->text();
    if (password.size() <= 5) {
        DMGHUD::showInfoWithStatus("请输入6位以上密码");
        return;
    }
    if (password != password2Tf->text()) {
        DMGHUD::showInfoWithStatus("两次密码不一致");
        return;
    }
    const std::string mobile = phone.toStdString();
    DMGApi::shared().verifyPhone(mobile, code.toStdString(),
                                 [self, mobile, password = password.toStdString(), finish](const DMGApi::Error&, const DMGApi::Reply& reply) {
                                     if (DMGApi::isSuccess(reply)) {
                                         DMGApi::shared().resetWithPhone(mobile, password, finish);
                                         return;
                                     }
                                     platform::DispatchQueue::main().async([self, reply] {
                                         if (isOpen(self)) DMGHUD::showErrorWithStatus(errorText(reply));
                                     });
                                 });
}

void DMGLoginController::resetPasswordClick() {
    auto* reset = new DMGLoginController(this, true);
    reset->open();
}

void DMGLoginController::handleLoginResult(QPointer<DMGLoginController> window, const DMGApi::Reply& reply) {
    if (!DMGApi::isSuccess(reply)) {
        if (isOpen(window)) DMGHUD::showErrorWithStatus(errorText(reply));
        return;
    }
    const DMGUserinfo record = DMGUserinfo::initWithDic(reply->value("data"));
    platform::UserDefaults::standardUserDefaults().setString(record.accessToken, DMGChecker::tokenKey);
    // A window closed while its request ran only keeps the new session.
    if (isOpen(window)) {
        if (!window->isPasswordLogin_ && record.isNewUser) {
            DMGHUD::showInfoWithStatus("您是首次登录，请设置密码");
            window->isNeedSetPassword_ = true;
            window->showNeedPassword();
        } else {
            QPointer<QWidget> opener(window->parentWidget());
            window->accept();
            platform::DispatchQueue::main().async([opener] {
                if (auto* signIn = qobject_cast<DMGLoginController*>(opener.data())) signIn->accept();
            });
        }
    }
    refreshSession();
}

void DMGLoginController::done(int result) {
    countdownTimer_->stop();
    animation_->stop();
    QDialog::done(result);
}

}  // namespace tamberlo
