// The sign-in window: a phone number and an SMS code (the default tab) or a password. A first
// sign-in by SMS code asks for a password in the same window; a reset window (opened by the
// "忘记密码" button) sets a new password with an SMS code. Window-modal, opened with open().
#pragma once

#include "Services/Account/DMGApi.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QVariantAnimation;

namespace tamberlo {

class DMGLoginController : public QDialog {
    Q_OBJECT
public:
    // A sign-in window, or with `isResetPassword` a window that sets a new password.
    explicit DMGLoginController(QWidget* parent, bool isResetPassword = false);
    ~DMGLoginController() override;

    bool isResetPassword() const { return isResetPassword_; }
    bool isPasswordLogin() const { return isPasswordLogin_; }
    bool isNeedSetPassword() const { return isNeedSetPassword_; }

    // True for eleven ASCII digits beginning with 1.
    static bool isValidPhone(const QString& phone);

    void smsLoginClick();
    void passwordLoginClick();
    void fetchSmsCodeClick();
    void loginClick();
    void resetPasswordClick();
    void showNeedPassword();
    void countDown();
    // The countdown's step (1 s; tests shorten it).
    void setCountdownTick(int milliseconds) { countdownTick_ = milliseconds; }

    // Layout constants, in pixels.
    int indicatorLeading() const { return indicatorLeading_; }
    int fetchCodeBtnWidth() const { return fetchCodeBtnWidth_; }
    int resetPasswordTop() const { return resetPasswordTop_; }
    int smsLoginBtnLeading() const { return smsLoginBtnLeading_; }

    // Outlets.
    QPushButton* smsLoginBtn = nullptr;
    QPushButton* passwordLoginBtn = nullptr;
    QWidget* indicatorLine = nullptr;
    QWidget* usernameView = nullptr;
    QWidget* codeView = nullptr;
    QWidget* passwordView = nullptr;
    QWidget* rePasswordView = nullptr;
    QLineEdit* usernameTf = nullptr;
    QLineEdit* passwordTf = nullptr;
    QLineEdit* password1Tf = nullptr;
    QLineEdit* password2Tf = nullptr;
    QPushButton* fetchCodeBtn = nullptr;
    QPushButton* resetPasswordBtn = nullptr;
    QPushButton* loginBtn = nullptr;

protected:
    void done(int result) override;

private:
    void viewDidLoad();
    void buildViews();
    void layoutViews();
    // Moves the indicator and the lower part to their constants over 0.25 s.
    void animateLayout();
    void setTabColours();
    void setNewPasswordShown(bool shown);
    bool checkPhone(const QString& phone);
    void countDownStep();
    // Finishes a sign-in or a password change (main thread).
    static void handleLoginResult(QPointer<DMGLoginController> window, const DMGApi::Reply& reply);

    bool isResetPassword_ = false;
    bool isPasswordLogin_ = false;
    bool isNeedSetPassword_ = false;

    int indicatorLeading_ = 70;
    int fetchCodeBtnWidth_ = 90;
    int resetPasswordTop_ = 15;
    int smsLoginBtnLeading_ = 60;
    // What is drawn while the animation runs.
    double shownIndicatorLeading_ = 70;
    double shownResetPasswordTop_ = 15;
    QVariantAnimation* animation_ = nullptr;

    QTimer* countdownTimer_ = nullptr;
    int countdownTick_ = 1000;
    int counter_ = 0;
};

}  // namespace tamberlo
