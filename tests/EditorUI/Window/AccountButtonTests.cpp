// The toolbar's account button: with no stored session it opens the sign-in window over the editor.
#include "EditorUI/App/AppDelegate.h"
#include "EditorUI/Window/MainController.h"
#include "EditorUI/support/ViewFixtures.h"
#include "Services/Account/DMGApi.h"
#include "Services/Account/DMGLoginController.h"

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace tamberlo;
using viewtest::waitUntil;

TEST(EditorShellTest, TheAccountButtonOpensTheSignInWindowWithoutASession) {
    viewtest::useChinese();
    AppDelegate delegate;
    EXPECT_EQ(DMGApi::shared().serviceKey(), "7E31C09A5B2D48F6A0C3E95D1B7F4A28");
    EXPECT_EQ(DMGApi::shared().flavorName(), "Web");
    MainController controller;
    controller.resize(1200, 700);
    controller.show();
    ASSERT_NE(controller.accountBtn(), nullptr);
    EXPECT_EQ(controller.accountBtn()->text(), "账号");
    EXPECT_GT(controller.accountBtn()->x(), controller.width() / 2) << "at the toolbar's right";
    QTest::mouseClick(controller.accountBtn(), Qt::LeftButton);
    DMGLoginController* signIn = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        signIn = controller.findChild<DMGLoginController*>();
        return signIn && signIn->isVisible();
    }));
    signIn->reject();
}
