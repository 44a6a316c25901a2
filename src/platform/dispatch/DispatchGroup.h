// A count of unfinished work: enter before, leave after; wait for the count to drop to zero, or be
// notified on a queue when it does. Copies refer to the same group.
#pragma once

#include "platform/dispatch/DispatchTime.h"

#include <functional>
#include <memory>

namespace platform {

class DispatchQueue;

class DispatchGroup {
public:
    DispatchGroup();

    // One more piece of unfinished work.
    void enter();
    // One piece finished. A leave without an enter is logged and ignored.
    void leave();

    // Waits until every entered piece has left.
    void wait();
    // The same with a deadline; timedOut when the deadline came first.
    DispatchTimeoutResult wait(DispatchTime timeout);

    // Queues the work on the queue once every entered piece has left (at once when none is
    // pending). The queue may go away meanwhile: the work still runs.
    void notify(DispatchQueue& queue, std::function<void()> work);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
