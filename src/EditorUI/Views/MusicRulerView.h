// The time ruler (timeline geometry: the tick of 3 i seconds at 7 + 10 i px): "999999" ticks
// rising from the lower edge every 10 px (3 s), 4 px tall, 8 px every 50 px, 12 px (2 px wide)
// every 100 px with a "%02d:%02d" label above. A click reports its x.
#pragma once

#include "Widgets/PanGesture.h"

#include <QWidget>

namespace tamberlo {

class MusicRulerView : public QWidget {
    Q_OBJECT
public:
    static constexpr int rulerHeight = 32;

    explicit MusicRulerView(QWidget* parent = nullptr);

    // The label of tick i (every tenth tick): minutes i / 20, seconds (3 × i) mod 60.
    static QString label(int tick);

    QSize sizeHint() const override;

signals:
    // A click (no drag) at x pixels of the ruler.
    void clicked(double x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    PanGesture gesture_;
};

}  // namespace tamberlo
