// A repeating or one-shot timer on the run loop (Qt event loop) of the thread that schedules it.
// invalidate() may be called from any thread: once it returns, the block is not running and never
// runs again.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class Timer {
public:
    // scheduledTimerWithTimeInterval:repeats:block:. The thread must run a Qt event loop for the
    // timer to fire (the main thread under QCoreApplication does).
    static std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, std::function<void(Timer&)> block);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void invalidate();
    bool isValid() const;
    double timeInterval() const { return interval_; }

private:
    struct State;
    explicit Timer(double interval);
    double interval_;
    std::shared_ptr<State> state_;
};

}  // namespace platform
