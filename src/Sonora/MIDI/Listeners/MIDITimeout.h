// A re-armable one-shot timer with two callbacks: perform() (re)starts a countdown on the main
// run loop and runs the caller's action at once; succeed() cancels the countdown and calls the
// success callback; a countdown that runs out calls the time-out callback.
//
// perform() and succeed() may be called from any thread: a countdown is on record when perform()
// returns, and succeed() ends every countdown armed before it, at once, whichever thread the
// callbacks are delivered on. Countdowns hold the timer weakly: one pending when the timer goes
// away does nothing.
#pragma once

#include <functional>
#include <memory>

namespace sonora {

class MIDITimeout {
public:
    using Callback = std::function<void()>;

    MIDITimeout(double timeoutInterval, bool onMainThread, Callback success, Callback timeout);
    ~MIDITimeout();
    MIDITimeout(const MIDITimeout&) = delete;
    MIDITimeout& operator=(const MIDITimeout&) = delete;

    template <class F>
    auto perform(F&& action) -> decltype(action()) {
        arm();
        return action();
    }
    void succeed() { mainthreadSuccessCall(); }
    void mainthreadSuccessCall();
    void messageTimeout();

    Callback onSuccess;
    Callback onTimeout;
    double timeoutInterval;
    bool mainThread;
    bool disableSuccess = false;
    bool disableFailure = false;

private:
    struct Core;
    void arm();
    static void fireTimeout(const std::shared_ptr<Core>& core, bool mainThread);
    std::shared_ptr<Core> core_;
};

}  // namespace sonora
