#include "Widgets/ConfirmAlert.h"

#include <QPushButton>

namespace tamberlo {

QMessageBox* openConfirmAlert(QWidget* parent, QMessageBox::Icon icon, const QString& message,
                              const QString& confirmTitle, const QString& cancelTitle, QObject* context,
                              std::function<void()> onConfirm) {
    auto* alert = new QMessageBox(icon, QString(), message, QMessageBox::NoButton, parent);
    QPushButton* ok = alert->addButton(confirmTitle, QMessageBox::AcceptRole);
    alert->addButton(cancelTitle, QMessageBox::RejectRole);
    alert->setDefaultButton(ok);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(alert, &QMessageBox::buttonClicked, context,
                     [ok, onConfirm = std::move(onConfirm)](QAbstractButton* button) {
                         if (button == ok) onConfirm();
                     });
    alert->open();
    return alert;
}

}  // namespace tamberlo
