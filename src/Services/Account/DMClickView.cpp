#include "Services/Account/DMClickView.h"

namespace tamberlo {

void DMClickView::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (clickHandler) clickHandler();
}

}  // namespace tamberlo
