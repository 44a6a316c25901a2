// A timer of the main run loop (the Qt event loop of the thread that makes it) with a fire date:
// it fires at its fire date and then, when repeating, every interval. A fire date in the distant
// future holds it without invalidating it.
//
//   auto timer = NSTimer::make(0.02, true, [](NSTimer&) { tick(); });
//   timer->setFireDate(NSTimer::distantFuture());   // paused
//   timer->setFireDate(std::chrono::steady_clock::now());  // fires now, then every 0.02 s
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QTimer;

namespace platform {

class NSTimer {
public:
    using Clock = std::chrono::steady_clock;

    // A repeating (or one-shot) timer, scheduled at once: its first fire is `interval` from now.
    static std::shared_ptr<NSTimer> make(double interval, bool repeats, std::function<void(NSTimer&)> block);
    ~NSTimer();

    static Clock::time_point distantFuture() { return Clock::time_point::max(); }

    double timeInterval() const { return interval_; }
    Clock::time_point fireDate() const { return fireDate_; }
    // Moves the next fire (a past date fires at the next turn of the event loop).
    void setFireDate(Clock::time_point date);
    // A valid timer can still fire; invalidate() stops it for good.
    bool isValid() const { return valid_; }
    void invalidate();

private:
    NSTimer(double interval, bool repeats, std::function<void(NSTimer&)> block);
    void fire();
    void arm();

    double interval_;
    bool repeats_;
    bool valid_ = true;
    Clock::time_point fireDate_;
    std::function<void(NSTimer&)> block_;
    QTimer* timer_;
};

}  // namespace platform
