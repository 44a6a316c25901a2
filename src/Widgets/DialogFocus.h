// Gives the keyboard back to a window when one of its sheets or dialogs closes. Without a window
// manager that does it (a bare X server), the closed dialog's window keeps nothing and the
// window's shortcuts stay dead until it is clicked.
//
//   returnFocusAfterDialogs(mainWindow);   // once, for the window's lifetime
#pragma once

class QWidget;

namespace tamberlo {

// From now on, whenever a dialog owned by `window` (or by one of its dialogs) hides, the dialog's
// owner window is activated again and gets the keyboard focus. Stops when `window` is destroyed.
void returnFocusAfterDialogs(QWidget* window);

}  // namespace tamberlo
