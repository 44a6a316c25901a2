// A scroll view that never shows scroll bars, whatever its owner asks for.
#pragma once

#include <QScrollArea>

class QScrollBar;

namespace tamberlo {

class DMScrollView : public QScrollArea {
    Q_OBJECT
public:
    explicit DMScrollView(QWidget* parent = nullptr);

    bool hasHorizontalScroller() const { return false; }
    bool hasVerticalScroller() const { return false; }
    QScrollBar* horizontalScroller() const { return nullptr; }
    QScrollBar* verticalScroller() const { return nullptr; }
    // The wish is kept by the scroll area's own policy; the bars stay hidden.
    void setHasHorizontalScroller(bool has);
    void setHasVerticalScroller(bool has);
};

}  // namespace tamberlo
