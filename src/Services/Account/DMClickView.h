// A view that calls its handler when the mouse is released over it.
#pragma once

#include <QWidget>

#include <functional>

namespace tamberlo {

class DMClickView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    std::function<void()> clickHandler;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace tamberlo
