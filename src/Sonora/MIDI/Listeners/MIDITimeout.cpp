#include "Sonora/MIDI/Listeners/MIDITimeout.h"

#include "platform/dispatch/DispatchQueue.h"

#include <mutex>
#include <set>

namespace sonora {

using Callback = MIDITimeout::Callback;

// The pending countdowns, by number; cancelling forgets them all.
struct MIDITimeout::Core {
    std::mutex mutex;
    uint64_t next = 0;
    std::set<uint64_t> pending;
    MIDITimeout* owner = nullptr;  // reset under the mutex when the timer goes away
};

MIDITimeout::MIDITimeout(double interval, bool onMainThread, Callback success, Callback timeout)
    : onSuccess(std::move(success)), onTimeout(std::move(timeout)), timeoutInterval(interval),
      mainThread(onMainThread), core_(std::make_shared<Core>()) {
    core_->owner = this;
}

MIDITimeout::~MIDITimeout() {
    std::lock_guard lock(core_->mutex);
    core_->pending.clear();
    core_->owner = nullptr;
}

void MIDITimeout::arm() {
    std::weak_ptr<Core> weak = core_;
    const double interval = timeoutInterval;
    // The countdown is on record before perform() returns, so a cancel from any thread at any
    // time after it finds it, even before the main queue has started it.
    uint64_t id;
    {
        std::lock_guard lock(core_->mutex);
        id = core_->next++;
        core_->pending.insert(id);
    }
    platform::DispatchQueue::main().async([weak, interval, id] {
        platform::DispatchQueue::main().asyncAfter(interval, [weak, id] {
            const auto core = weak.lock();
            if (!core) return;
            bool onMain;
            {
                std::lock_guard lock(core->mutex);
                if (!core->owner || core->pending.erase(id) == 0) return;
                onMain = core->owner->mainThread;
            }
            fireTimeout(core, onMain);
        });
    });
}

void MIDITimeout::mainthreadSuccessCall() {
    // The countdowns armed so far end at once, on the calling thread: one armed by a perform()
    // right after this call is not touched, and none of them fires once this call returns.
    {
        std::lock_guard lock(core_->mutex);
        core_->pending.clear();
    }
    const auto call = [weak = std::weak_ptr<Core>(core_)] {
        const auto core = weak.lock();
        if (!core) return;
        Callback callback;
        {
            std::lock_guard lock(core->mutex);
            if (!core->owner || core->owner->disableSuccess) return;
            callback = core->owner->onSuccess;
        }
        if (callback) callback();
    };
    if (mainThread)
        platform::DispatchQueue::main().async(call);
    else
        call();
}

void MIDITimeout::messageTimeout() { fireTimeout(core_, mainThread); }

void MIDITimeout::fireTimeout(const std::shared_ptr<Core>& core_, bool mainThread) {
    const auto call = [weak = std::weak_ptr<Core>(core_)] {
        const auto core = weak.lock();
        if (!core) return;
        Callback callback;
        {
            std::lock_guard lock(core->mutex);
            if (!core->owner || core->owner->disableFailure) return;
            callback = core->owner->onTimeout;
        }
        if (callback) callback();
    };
    if (mainThread)
        platform::DispatchQueue::main().async(call);
    else
        call();
}

}  // namespace sonora
