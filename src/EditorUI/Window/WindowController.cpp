#include "EditorUI/Window/WindowController.h"

#include "Widgets/ConfirmAlert.h"

#include "EditorUI/App/HelpDocument.h"
#include "EditorUI/Window/MainController.h"
#include "Services/Analytics/TrackManager.h"
#include "Services/Feedback/FeedbackVC.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/DialogFocus.h"
#include "Widgets/ColorHelper.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeySequence>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

namespace tamberlo {

std::function<void()>& WindowController::terminateHook() {
    static std::function<void()> hook = [] { QCoreApplication::quit(); };
    return hook;
}

WindowController::WindowController(QWidget* parent) : QMainWindow(parent) {
    setObjectName("WindowController");
    setWindowTitle("Tamberlo");
    mainController_ = new MainController(this);
    setCentralWidget(mainController_);
    resize(1280, 800);

    // What a desktop gives every window: close it and quit, both through the close confirmation.
    auto* app = menuBar()->addMenu("Tamberlo");
    auto* closeWindow = app->addAction(localizedText("关闭窗口"));
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(closeWindow, &QAction::triggered, this, [this] { close(); });
    auto* quit = app->addAction(localizedText("退出 Tamberlo"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { close(); });

    auto* help = menuBar()->addMenu(localizedText("帮助"));
    connect(help->addAction(localizedText("Tamberlo 帮助")), &QAction::triggered, this, [this] { helpClick(); });
    connect(help->addAction(localizedText("意见反馈")), &QAction::triggered, this, [this] { feedbackClick(); });

    // Shortcuts act again as soon as a sheet or a dialog of the window closes.
    returnFocusAfterDialogs(this);
    windowDidLoad();
}

void WindowController::windowDidLoad() {
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, dark2());
    setPalette(palette);
    menuBar()->setStyleSheet(QString("QMenuBar { background: %1; color: white; }"
                                     "QMenuBar::item:selected { background: %2; }")
                                 .arg(dark2().name(), dark1().name()));
}

void WindowController::helpClick() {
    TrackManager::TrackPage("VC_Home", "Go_Help");
    HelpDocument::open();
}

void WindowController::feedbackClick() {
    TrackManager::TrackPage("VC_Home", "Go_Feedback");
    FeedbackVC::initFromStory(this)->open();
}

bool WindowController::windowShouldClose() {
    TrackManager::TrackPage("VC_Home", "QuitApp");
    if (closeAlert_) return false;
    closeAlert_ = openConfirmAlert(this, QMessageBox::Warning, localizedText("请确认制作的音乐已导出，确认关闭工程吗？"),
                                   localizedText("确定"), localizedText("取消"), this, [this] {
                                       // Nothing is saved: the work folders are emptied at the next start.
                                       terminating_ = true;
                                       terminateHook()();
                                   });
    return false;
}

void WindowController::closeEvent(QCloseEvent* event) {
    if (terminating_) {
        event->accept();
        return;
    }
    event->ignore();
    windowShouldClose();
}

}  // namespace tamberlo
