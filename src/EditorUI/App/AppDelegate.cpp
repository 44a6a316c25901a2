#include "EditorUI/App/AppDelegate.h"

#include "EditorUI/Window/WindowController.h"
#include "Services/Account/DMGChecker.h"
#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/TrackManager.h"
#include "Services/AnalyticsWindows/AnalyticsDebugWindowController.h"
#include "Widgets/HUDView.h"

#include <QApplication>
#include <QFont>
#include <QMessageBox>

namespace tamberlo {

AppDelegate::AppDelegate() { configureAccountService(); }

AppDelegate::~AppDelegate() = default;

void AppDelegate::configureAccountService() {
    DMGChecker::shared().configServiceKey(tamberloAccountServiceKey, tamberloAccountFlavorName);
}

WindowController* AppDelegate::loadMainWindow() {
    if (!windowController_) windowController_ = std::make_unique<WindowController>();
    windowController_->show();
    return windowController_.get();
}

void AppDelegate::applicationDidFinishLaunching() {
    // A broken analytics store is said once, in a window that leaves the editor usable.
    AnalyticsStore::shared().setErrorPresenter([](const platform::NSError& error) {
        auto* alert = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(),
                                      QString::fromStdString(error.localizedDescription), QMessageBox::Ok);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setModal(false);
        alert->show();
    });
    TrackManager::initialWithLaunchOptions({});
    TrackManager::TrackLaunch();
}

void AppDelegate::applicationWillTerminate() {}

int applicationMain(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tamberlo");
    // With "ShowDebugMenu" on, the debug windows hear every hit from the start.
    TBAnalyticsDebugWindowController::sharedController();
    MPAnalyticsDebugWindowController::sharedController();
    QFont font("Noto Sans CJK SC");
    font.setPixelSize(13);
    QApplication::setFont(font);
    HUDView::install();

    AppDelegate delegate;
    delegate.loadMainWindow();
    delegate.applicationDidFinishLaunching();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&delegate] { delegate.applicationWillTerminate(); });
    const int status = QApplication::exec();
    HUDView::uninstall();
    TBAnalyticsDebugWindowController::release();
    MPAnalyticsDebugWindowController::release();
    return status;
}

}  // namespace tamberlo
