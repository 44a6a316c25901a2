// A window-modal question with "确定" and "取消" that does not block: it opens and returns at once,
// so the playback timer and the main queue keep running.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace tamberlo {

// Opens the alert over `parent`'s window and returns it (it deletes itself when closed).
// `onConfirm` runs, in `context`, when the user picks the confirming button.
QMessageBox* openConfirmAlert(QWidget* parent, QMessageBox::Icon icon, const QString& message,
                              const QString& confirmTitle, const QString& cancelTitle, QObject* context,
                              std::function<void()> onConfirm);

}  // namespace tamberlo
