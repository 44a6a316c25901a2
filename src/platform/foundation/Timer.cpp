#include "platform/foundation/Timer.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <cmath>
#include <mutex>

namespace platform {

struct Timer::State {
    std::recursive_mutex mutex;  // held while the block runs; the block may invalidate its own timer
    std::function<void(Timer&)> block;
    Timer* owner = nullptr;
    QPointer<QTimer> qtimer;
};

Timer::Timer(double interval) : interval_(interval), state_(std::make_shared<State>()) {}

std::shared_ptr<Timer> Timer::scheduledTimer(double interval, bool repeats, std::function<void(Timer&)> block) {
    std::shared_ptr<Timer> timer(new Timer(interval));
    auto state = timer->state_;
    state->block = std::move(block);
    state->owner = timer.get();
    auto* qtimer = new QTimer();
    qtimer->setSingleShot(!repeats);
    qtimer->setTimerType(Qt::PreciseTimer);
    qtimer->setInterval(std::max(0, int(std::lround(interval * 1000.0))));
    QObject::connect(qtimer, &QTimer::timeout, qtimer, [state, repeats] {
        std::lock_guard lock(state->mutex);
        if (!state->block || !state->owner) return;
        state->block(*state->owner);
        if (!repeats && state->owner) state->owner->invalidate();
    });
    state->qtimer = qtimer;
    qtimer->start();
    return timer;
}

Timer::~Timer() { invalidate(); }

void Timer::invalidate() {
    std::lock_guard lock(state_->mutex);
    if (!state_->owner) return;
    state_->owner = nullptr;
    // The block goes later, on the timer's thread: it may be running this very call.
    if (QTimer* qtimer = state_->qtimer.data()) {
        QMetaObject::invokeMethod(qtimer, [qtimer] { qtimer->stop(); qtimer->deleteLater(); }, Qt::QueuedConnection);
    }
}

bool Timer::isValid() const {
    std::lock_guard lock(state_->mutex);
    return state_->owner != nullptr;
}

}  // namespace platform
