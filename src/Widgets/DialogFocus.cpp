#include "Widgets/DialogFocus.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace tamberlo {

namespace {

class DialogFocusReturn : public QObject {
public:
    explicit DialogFocusReturn(QWidget* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Hide) return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog || !dialog->isWindow() || !dialog->parentWidget()) return false;
        QPointer<QWidget> owner = dialog->parentWidget()->window();
        if (!owner || !belongsToWindow(owner)) return false;
        // After the dialog is gone: its hiding may still move the focus around.
        QTimer::singleShot(0, owner, [owner] {
            if (!owner || !owner->isVisible()) return;
            // Another modal dialog still open keeps the keyboard.
            if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != owner) return;
            owner->activateWindow();
            owner->raise();
            if (!owner->focusWidget()) owner->setFocus(Qt::ActiveWindowFocusReason);
        });
        return false;
    }

private:
    bool belongsToWindow(QWidget* owner) const {
        for (QWidget* w = owner; w; w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
            if (w == window_) return true;
        return false;
    }

    QPointer<QWidget> window_;
};

}  // namespace

void returnFocusAfterDialogs(QWidget* window) {
    if (!window || !qApp) return;
    // The filter is a child of the window: it goes, and stops filtering, with it.
    qApp->installEventFilter(new DialogFocusReturn(window));
}

}  // namespace tamberlo
