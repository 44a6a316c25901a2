// The application delegate: configures the account service when it is created, loads the main
// window, and starts the event log when launching has finished.
#pragma once

#include <memory>

namespace tamberlo {

class WindowController;

class AppDelegate {
public:
    // Configures the account service with the application's service key and the flavour "Web".
    AppDelegate();
    ~AppDelegate();

    // Creates and shows the main window with the editor (what the main storyboard did).
    WindowController* loadMainWindow();
    WindowController* windowController() const { return windowController_.get(); }

    // Initialises the event log (no launch options) and sends the launch event.
    void applicationDidFinishLaunching();
    // Nothing to do: nothing is saved.
    void applicationWillTerminate();

private:
    void configureAccountService();
    std::unique_ptr<WindowController> windowController_;
};

// The program: a QApplication with the interface font and the status overlay, the delegate, the
// main window, then the event loop; returns its exit status.
int applicationMain(int argc, char** argv);

}  // namespace tamberlo
