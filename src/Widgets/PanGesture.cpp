#include "Widgets/PanGesture.h"

#include <QLineF>

namespace tamberlo {

void PanGesture::press(QPointF point) {
    pressed_ = true;
    panning_ = false;
    start_ = last_ = point;
    translation_ = {};
}

std::optional<GestureState> PanGesture::move(QPointF point) {
    if (!pressed_) return std::nullopt;
    if (!panning_) {
        if (QLineF(start_, point).length() <= clickSlop) return std::nullopt;
        panning_ = true;
        translation_ = point - last_;
        last_ = point;
        return GestureState::began;
    }
    translation_ = point - last_;
    last_ = point;
    return GestureState::changed;
}

PanGesture::Release PanGesture::release(QPointF point) {
    if (!pressed_) return Release::none;
    pressed_ = false;
    if (!panning_) {
        last_ = point;
        translation_ = {};
        return Release::click;
    }
    panning_ = false;
    translation_ = point - last_;
    last_ = point;
    return Release::panEnded;
}

std::optional<GestureState> PanGesture::cancel() {
    const bool was = panning_;
    pressed_ = panning_ = false;
    translation_ = {};
    if (was) return GestureState::cancelled;
    return std::nullopt;
}

}  // namespace tamberlo
