// Dispatch queues: the main queue (work runs in the Qt event loop of the main thread), the shared
// global queue, and queues of one's own, serial or concurrent (with barriers).
//
//   DispatchQueue queue("io.tamberlo.export");
//   queue.async([] { render(); });
//   DispatchQueue::main().asyncAfter(DispatchTime::now() + 1.0, [] { finish(); });
#pragma once

#include "platform/dispatch/DispatchTime.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace platform {

class DispatchGroup;

namespace detail {
class QueueCore;
}

enum class DispatchWorkItemFlags { none, barrier };

class DispatchQueue {
public:
    using Work = std::function<void()>;
    enum class Attributes { serial, concurrent };

    // The queue of the main thread; its work runs when the main thread's event loop spins.
    static DispatchQueue& main();
    // The process's shared concurrent queue (barriers are ignored on it).
    static DispatchQueue& global();

    // For programs without an event loop of their own (command-line tools): runs the main queue's
    // waiting work on the calling thread, which must be the main thread, through the Qt event loop
    // when an application object exists and directly otherwise. Returns the number of items run
    // when there is no application object (0 with one).
    static size_t pumpMainQueue();

    // A new serial queue, or a concurrent one with Attributes::concurrent.
    explicit DispatchQueue(std::string label, Attributes attributes = Attributes::serial);
    // Waits until the work already queued has run (not when called from that work itself).
    // Work scheduled with asyncAfter whose time has not come yet still runs when it comes.
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const;

    // Queues the work and returns at once. A barrier on a concurrent queue waits for the work
    // before it and runs alone. An exception escaping the work is logged and dropped.
    void async(Work work);
    void async(DispatchWorkItemFlags flags, Work work);
    // The same, inside the group: the group is left when the work has run.
    void async(DispatchGroup& group, Work work);

    // Runs the work on this queue and waits for it; returns its result and rethrows its exception.
    // Called from the queue's own work (or on the main thread for the main queue) it runs at once.
    template <class F>
    auto sync(F&& work) -> std::invoke_result_t<F&> {
        return sync(DispatchWorkItemFlags::none, std::forward<F>(work));
    }
    template <class F>
    auto sync(DispatchWorkItemFlags flags, F&& work) -> std::invoke_result_t<F&> {
        using Result = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<Result>) {
            syncWork(flags, [&work] { work(); });
        } else {
            std::optional<Result> result;
            syncWork(flags, [&work, &result] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // Queues the work when the deadline has come (never earlier).
    void asyncAfter(DispatchTime deadline, Work work);
    void asyncAfter(DispatchTime deadline, DispatchWorkItemFlags flags, Work work);
    // The same, the given seconds from now.
    void asyncAfter(double seconds, Work work) { asyncAfter(DispatchTime::now() + seconds, std::move(work)); }

    // True when the calling thread is running this queue's work (for the main queue: is the main thread).
    bool isCurrent() const;

private:
    friend class DispatchGroup;
    explicit DispatchQueue(std::shared_ptr<detail::QueueCore> core);
    std::shared_ptr<detail::QueueCore> core() const { return core_; }
    static void enqueue(const std::shared_ptr<detail::QueueCore>& core, Work work);
    void syncWork(DispatchWorkItemFlags flags, const std::function<void()>& work);

    std::shared_ptr<detail::QueueCore> core_;
};

}  // namespace platform
