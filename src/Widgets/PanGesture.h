// Turns a widget's mouse events into the two gestures the editor uses: a pan (began, changed,
// ended, with the pointer's movement since the previous event) once the pointer has moved more
// than a few pixels with the left button down, and a click (a release without such a move).
//
//   PanGesture pan;  // in the widget
//   void mousePressEvent(QMouseEvent* e) override { pan.press(e->position()); }
//   void mouseMoveEvent(QMouseEvent* e) override { if (auto s = pan.move(e->position())) onPan(*s, pan.translation()); }
//   void mouseReleaseEvent(QMouseEvent* e) override { auto r = pan.release(e->position()); ... }
#pragma once

#include <QPointF>

#include <optional>

namespace tamberlo {

enum class GestureState { began, changed, ended, cancelled };

class PanGesture {
public:
    // What a release ends: nothing (no press), a click, or a pan (state ended).
    enum class Release { none, click, panEnded };

    // Pointer movement that starts a pan; a release within it is a click.
    static constexpr double clickSlop = 3.0;

    // Left button down at `point` (widget coordinates).
    void press(QPointF point);
    // The pointer moved; the pan state to report, or none while no pan is going on.
    std::optional<GestureState> move(QPointF point);
    // The button went up; when it ends a pan, translation() holds the last movement.
    Release release(QPointF point);
    // Abandons the gesture (a cancelled pan when one was going on).
    std::optional<GestureState> cancel();

    // Movement since the previous reported event (the press for the first one).
    QPointF translation() const { return translation_; }
    // The pointer's position at the last event.
    QPointF location() const { return last_; }
    bool isPressed() const { return pressed_; }
    bool isPanning() const { return panning_; }

private:
    bool pressed_ = false;
    bool panning_ = false;
    QPointF start_;
    QPointF last_;
    QPointF translation_;
};

}  // namespace tamberlo
