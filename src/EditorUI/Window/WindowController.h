// The main window: the dark frame around the editor (MainController), its Help menu (help document
// and feedback), and the confirmation before closing — the window never closes by itself; "确定"
// in the alert ends the application.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include <functional>

#include <QMessageBox>

namespace tamberlo {

class MainController;

class WindowController : public QMainWindow {
    Q_OBJECT
public:
    // Ends the application; tests replace it. The default quits the Qt event loop.
    static std::function<void()>& terminateHook();

    explicit WindowController(QWidget* parent = nullptr);

    MainController* contentViewController() const { return mainController_; }

    void helpClick();
    void feedbackClick();
    // Asks "请确认制作的音乐已导出，确认关闭工程吗？" in a window-modal alert and returns false:
    // only "确定", which terminates the application, closes the window.
    bool windowShouldClose();
    // The close alert while it is open, else null.
    QMessageBox* closeAlert() const { return closeAlert_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void windowDidLoad();

    MainController* mainController_ = nullptr;
    QPointer<QMessageBox> closeAlert_;
    bool terminating_ = false;
};

}  // namespace tamberlo
