#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/DispatchGroup.h"
#include "platform/foundation/OSLog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace detail {

namespace {

const OSLog& dispatchLog() {
    static const OSLog log{"io.tamberlo.platform", "dispatch"};
    return log;
}

// Work must not take the thread down with it: an escaping exception is logged and dropped.
void runLogged(const std::function<void()>& work, const std::string& label) {
    try {
        work();
    } catch (const std::exception& e) {
        os_log(dispatchLog(), OSLogType::error, "Work on queue " + label + " threw: " + e.what());
    } catch (...) {
        os_log(dispatchLog(), OSLogType::error, "Work on queue " + label + " threw an unknown exception");
    }
}

// Threads for the queues' work. A new thread starts whenever work waits and no thread is idle (up
// to a generous limit), so work that blocks on other work does not starve the queues; idle
// threads end after a while. Never destroyed: detached threads may still use it at exit.
class WorkerPool {
public:
    static WorkerPool& shared() {
        static WorkerPool* pool = new WorkerPool;
        return *pool;
    }

    void submit(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > size_t(idle_) && threads_ < kMaxThreads) {
            ++threads_;
            std::thread([this] { loop(); }).detach();
        } else {
            wake_.notify_one();
        }
    }

private:
    static constexpr int kMaxThreads = 128;
    static constexpr std::chrono::seconds kIdleLifetime{10};

    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            while (jobs_.empty()) {
                ++idle_;
                const bool woken = wake_.wait_for(lock, kIdleLifetime, [this] { return !jobs_.empty(); });
                --idle_;
                if (!woken) {
                    --threads_;
                    return;
                }
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr;  // release what the job holds before waiting again
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    int idle_ = 0;
    int threads_ = 0;
};

}  // namespace

// What a queue is behind its handle. Work holds the core, so a core outlives its queue object
// for as long as work of it is pending.
class QueueCore : public std::enable_shared_from_this<QueueCore> {
public:
    explicit QueueCore(std::string label) : label_(std::move(label)) {}
    virtual ~QueueCore() = default;
    const std::string& label() const { return label_; }

    virtual void enqueue(std::function<void()> work, bool barrier) = 0;
    virtual bool isCurrent() const { return currentlyRunning(this); }
    virtual void waitUntilIdle() {}

    // Runs work on this queue and waits for it; an exception thrown by the work is rethrown here.
    virtual void runSync(const std::function<void()>& work, bool barrier) {
        if (isCurrent()) {
            // Waiting for ourselves would never end: run in place instead.
            work();
            return;
        }
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
        enqueue(
            [&] {
                try {
                    work();
                } catch (...) {
                    error = std::current_exception();
                }
                std::lock_guard lock(m);
                done = true;
                cv.notify_all();
            },
            barrier);
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
        if (error) std::rethrow_exception(error);
    }

    // Marks the calling thread as running this queue's work for the scope's lifetime.
    struct RunningScope {
        explicit RunningScope(const QueueCore* core) { runningStack().push_back(core); }
        ~RunningScope() { runningStack().pop_back(); }
    };

protected:
    // The queues whose work the calling thread is running, innermost last.
    static std::vector<const QueueCore*>& runningStack() {
        thread_local std::vector<const QueueCore*> stack;
        return stack;
    }
    static bool currentlyRunning(const QueueCore* core) {
        const auto& stack = runningStack();
        return std::find(stack.begin(), stack.end(), core) != stack.end();
    }

private:
    std::string label_;
};

namespace {

std::thread::id& mainThreadId() {
    static std::thread::id id = std::this_thread::get_id();
    return id;
}
// Taken while the program starts, which is on the main thread.
[[maybe_unused]] const std::thread::id kMainThreadAtStart = mainThreadId();

// Main-queue work waits in the core's own list; one event per item, posted to an object of the
// main thread, makes the event loop take the next item and run it there. What the work holds is
// therefore released on the main thread too.
class MainQueueEvent : public QEvent {
public:
    static QEvent::Type eventType() {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    MainQueueEvent() : QEvent(eventType()) {}
};

class MainQueueCore;

class MainQueueReceiver : public QObject {
public:
    explicit MainQueueReceiver(MainQueueCore* core) : core_(core) {}
    bool event(QEvent* e) override;

private:
    MainQueueCore* core_;
};

class MainQueueCore : public QueueCore {
public:
    MainQueueCore() : QueueCore("main-thread") {}

    void enqueue(std::function<void()> work, bool) override {
        QCoreApplication* app = QCoreApplication::instance();
        std::vector<QObject*> wake;
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(work));
            // Without an application object the work waits for one.
            if (!app) return;
            if (receiverApp_ != app) {
                // Made on whatever thread asks first, then handed to the main thread.
                receiver_ = new MainQueueReceiver(this);
                receiver_->moveToThread(app->thread());
                receiverApp_ = app;
            }
            wake.assign(pending_.size() - posted_, receiver_);
            posted_ = pending_.size();
        }
        for (QObject* target : wake) QCoreApplication::postEvent(target, new MainQueueEvent);
    }

    // Runs the oldest waiting item (on the main thread, from the receiver). False when none waits.
    bool runNext() {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (pending_.empty()) return false;
            work = std::move(pending_.front());
            pending_.pop_front();
            if (posted_ > 0) --posted_;
        }
        RunningScope scope(this);
        runLogged(work, label());
        return true;
    }

    bool isCurrent() const override {
        if (QCoreApplication* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
        return std::this_thread::get_id() == mainThreadId();
    }

    void runSync(const std::function<void()>& work, bool barrier) override {
        if (!QCoreApplication::instance() && !isCurrent()) {
            // No event loop could ever run it: run it here rather than wait forever.
            os_log(dispatchLog(), OSLogType::error, "Main queue used without an application object");
            work();
            return;
        }
        QueueCore::runSync(work, barrier);
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    size_t posted_ = 0;  // items of pending_ that already have their event
    // Never deleted: events may still be on their way to it while the program ends.
    MainQueueReceiver* receiver_ = nullptr;
    QCoreApplication* receiverApp_ = nullptr;
};

bool MainQueueReceiver::event(QEvent* e) {
    if (e->type() != MainQueueEvent::eventType()) return QObject::event(e);
    core_->runNext();
    return true;
}

class GlobalQueueCore : public QueueCore {
public:
    GlobalQueueCore() : QueueCore("global") {}

    void enqueue(std::function<void()> work, bool) override {
        std::shared_ptr<QueueCore> self = shared_from_this();
        WorkerPool::shared().submit([self, work = std::move(work)] {
            RunningScope scope(self.get());
            runLogged(work, self->label());
        });
    }

    // Nothing orders the global queue's work, so the caller's thread may as well run it.
    void runSync(const std::function<void()>& work, bool) override {
        RunningScope scope(this);
        work();
    }
};

class SerialQueueCore : public QueueCore {
public:
    using QueueCore::QueueCore;

    void enqueue(std::function<void()> work, bool) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(work));
        if (draining_) return;
        draining_ = true;
        std::shared_ptr<SerialQueueCore> self = std::static_pointer_cast<SerialQueueCore>(shared_from_this());
        WorkerPool::shared().submit([self] { self->drain(); });
    }

    void waitUntilIdle() override {
        if (isCurrent()) return;
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return !draining_ && tasks_.empty(); });
    }

private:
    void drain() {
        RunningScope scope(this);
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    draining_ = false;
                    idle_.notify_all();
                    return;
                }
                work = std::move(tasks_.front());
                tasks_.pop_front();
            }
            runLogged(work, label());
        }
    }

    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> tasks_;
    bool draining_ = false;
};

class ConcurrentQueueCore : public QueueCore {
public:
    using QueueCore::QueueCore;

    void enqueue(std::function<void()> work, bool barrier) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(Item{std::move(work), barrier});
        pump();
    }

    void waitUntilIdle() override {
        if (isCurrent()) return;
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return pending_.empty() && running_ == 0 && !barrierRunning_; });
    }

private:
    struct Item {
        std::function<void()> work;
        bool barrier = false;
    };

    // Starts what may start now, in order: plain work while no barrier runs, a barrier once
    // everything before it has finished. Called with the mutex held.
    void pump() {
        while (!pending_.empty() && !barrierRunning_) {
            Item& next = pending_.front();
            if (next.barrier) {
                if (running_ > 0) return;
                barrierRunning_ = true;
            } else {
                ++running_;
            }
            start(std::move(next));
            pending_.pop_front();
        }
    }

    void start(Item item) {
        std::shared_ptr<ConcurrentQueueCore> self =
            std::static_pointer_cast<ConcurrentQueueCore>(shared_from_this());
        WorkerPool::shared().submit([self, item = std::move(item)] {
            {
                RunningScope scope(self.get());
                runLogged(item.work, self->label());
            }
            self->finished(item.barrier);
        });
    }

    void finished(bool barrier) {
        std::lock_guard lock(mutex_);
        if (barrier) barrierRunning_ = false;
        else --running_;
        pump();
        if (pending_.empty() && running_ == 0 && !barrierRunning_) idle_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<Item> pending_;
    int running_ = 0;
    bool barrierRunning_ = false;
};

// Holds work scheduled for later and hands it to its queue when its time comes. One thread for
// all queues, started on first use; never destroyed.
class DeadlineTimer {
public:
    static DeadlineTimer& shared() {
        static DeadlineTimer* timer = new DeadlineTimer;
        return *timer;
    }

    void schedule(DispatchTime deadline, std::shared_ptr<QueueCore> core, std::function<void()> work, bool barrier) {
        std::lock_guard lock(mutex_);
        entries_.emplace(deadline.uptimeNanoseconds, Entry{std::move(core), std::move(work), barrier});
        if (!started_) {
            started_ = true;
            std::thread([this] { loop(); }).detach();
        }
        wake_.notify_one();
    }

private:
    struct Entry {
        std::shared_ptr<QueueCore> core;
        std::function<void()> work;
        bool barrier = false;
    };

    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            const uint64_t due = entries_.begin()->first;
            if (DispatchTime::now().uptimeNanoseconds < due) {
                // steady_clock is CLOCK_MONOTONIC, the host clock.
                if (due == DispatchTime::distantFuture().uptimeNanoseconds) wake_.wait(lock);
                else wake_.wait_until(lock, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due)));
                continue;
            }
            Entry entry = std::move(entries_.begin()->second);
            entries_.erase(entries_.begin());
            lock.unlock();
            entry.core->enqueue(std::move(entry.work), entry.barrier);
            entry = Entry{};
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<uint64_t, Entry> entries_;
    bool started_ = false;
};

}  // namespace

}  // namespace detail

DispatchQueue::DispatchQueue(std::shared_ptr<detail::QueueCore> core) : core_(std::move(core)) {}

DispatchQueue::DispatchQueue(std::string label, Attributes attributes) {
    if (attributes == Attributes::concurrent) core_ = std::make_shared<detail::ConcurrentQueueCore>(std::move(label));
    else core_ = std::make_shared<detail::SerialQueueCore>(std::move(label));
}

DispatchQueue::~DispatchQueue() {
    if (core_) core_->waitUntilIdle();
}

DispatchQueue& DispatchQueue::main() {
    static DispatchQueue* queue = new DispatchQueue(std::make_shared<detail::MainQueueCore>());
    return *queue;
}

size_t DispatchQueue::pumpMainQueue() {
    if (QCoreApplication::instance()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        return 0;
    }
    auto core = std::static_pointer_cast<detail::MainQueueCore>(main().core_);
    size_t ran = 0;
    while (core->runNext()) ++ran;
    return ran;
}

DispatchQueue& DispatchQueue::global() {
    static DispatchQueue* queue = new DispatchQueue(std::make_shared<detail::GlobalQueueCore>());
    return *queue;
}

const std::string& DispatchQueue::label() const { return core_->label(); }

void DispatchQueue::async(Work work) { async(DispatchWorkItemFlags::none, std::move(work)); }

void DispatchQueue::async(DispatchWorkItemFlags flags, Work work) {
    if (!work) return;
    core_->enqueue(std::move(work), flags == DispatchWorkItemFlags::barrier);
}

void DispatchQueue::async(DispatchGroup& group, Work work) {
    if (!work) return;
    group.enter();
    async([group, work = std::move(work)] {
        // Leave even when the work throws, or waiters would wait forever.
        struct Leave {
            DispatchGroup group;
            ~Leave() { group.leave(); }
        } leave{group};
        work();
    });
}

void DispatchQueue::enqueue(const std::shared_ptr<detail::QueueCore>& core, Work work) {
    core->enqueue(std::move(work), false);
}

void DispatchQueue::syncWork(DispatchWorkItemFlags flags, const std::function<void()>& work) {
    core_->runSync(work, flags == DispatchWorkItemFlags::barrier);
}

void DispatchQueue::asyncAfter(DispatchTime deadline, Work work) {
    asyncAfter(deadline, DispatchWorkItemFlags::none, std::move(work));
}

void DispatchQueue::asyncAfter(DispatchTime deadline, DispatchWorkItemFlags flags, Work work) {
    if (!work) return;
    detail::DeadlineTimer::shared().schedule(deadline, core_, std::move(work), flags == DispatchWorkItemFlags::barrier);
}

bool DispatchQueue::isCurrent() const { return core_->isCurrent(); }

}  // namespace platform
