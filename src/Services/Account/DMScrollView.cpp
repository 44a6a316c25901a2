#include "Services/Account/DMScrollView.h"

#include <QScrollBar>

namespace tamberlo {

DMScrollView::DMScrollView(QWidget* parent) : QScrollArea(parent) {
    setHasHorizontalScroller(false);
    setHasVerticalScroller(false);
}

void DMScrollView::setHasHorizontalScroller(bool) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QScrollArea::horizontalScrollBar()->hide();
}

void DMScrollView::setHasVerticalScroller(bool) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QScrollArea::verticalScrollBar()->hide();
}

}  // namespace tamberlo
