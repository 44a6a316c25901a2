#include "platform/foundation/NSTimer.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace platform {

std::shared_ptr<NSTimer> NSTimer::make(double interval, bool repeats, std::function<void(NSTimer&)> block) {
    return std::shared_ptr<NSTimer>(new NSTimer(interval, repeats, std::move(block)));
}

NSTimer::NSTimer(double interval, bool repeats, std::function<void(NSTimer&)> block)
    : interval_(std::isfinite(interval) ? std::max(interval, 0.0001) : 0.0001), repeats_(repeats),
      block_(std::move(block)), timer_(new QTimer()) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_, &QTimer::timeout, [this] { fire(); });
    setFireDate(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval_)));
}

NSTimer::~NSTimer() { delete timer_; }

void NSTimer::setFireDate(Clock::time_point date) {
    if (!valid_) return;
    fireDate_ = date;
    arm();
}

void NSTimer::invalidate() {
    valid_ = false;
    timer_->stop();
}

// One single-shot QTimer serves every fire: it is armed for the time left until the fire date.
void NSTimer::arm() {
    if (fireDate_ == distantFuture()) {
        timer_->stop();
        return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(fireDate_ - Clock::now()).count();
    timer_->start(int(std::clamp<long long>(left, 0, 24LL * 3600 * 1000)));
}

void NSTimer::fire() {
    if (!valid_) return;
    if (Clock::now() + std::chrono::milliseconds(1) < fireDate_) return arm();  // a clamped, far fire date
    if (repeats_) {
        // The next fire keeps the timer's rhythm; fires missed while the loop was busy are skipped.
        const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval_));
        fireDate_ += interval;
        if (fireDate_ <= Clock::now()) fireDate_ = Clock::now() + interval;
        arm();
    } else {
        valid_ = false;
    }
    if (block_) block_(*this);
}

}  // namespace platform
