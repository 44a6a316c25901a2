// One value guarded by a reader/writer lock of its own: reads copy it under the read lock, writes
// replace it under the write lock, and mutate() changes it in one locked step.
//
//   ThreadLockedAccessor<std::vector<URL>> files({});
//   files.mutate([&](auto& list) { list.push_back(url); });
#pragma once

#include "Sonora/Internals/Utilities/ThreadLock.h"

#include <memory>
#include <utility>

namespace sonora {

template <typename T>
class ThreadLockedAccessor {
public:
    explicit ThreadLockedAccessor(T value) : value_(std::move(value)), lock_(std::make_unique<RWThreadLock>()) {}
    ThreadLockedAccessor(const ThreadLockedAccessor&) = delete;
    ThreadLockedAccessor& operator=(const ThreadLockedAccessor&) = delete;

    // A copy of the value, taken under the read lock.
    T wrappedValue() const {
        lock_->readLock();
        Unlock unlock{*lock_};
        return value_;
    }

    // Replaces the value under the write lock.
    void setWrappedValue(T newValue) {
        lock_->writeLock();
        Unlock unlock{*lock_};
        value_ = std::move(newValue);
    }

    // Runs the change on the value while the write lock is held, so read, change and write are one
    // step. The change must not use this accessor.
    template <typename Change>
    void mutate(Change&& change) {
        lock_->writeLock();
        Unlock unlock{*lock_};
        std::forward<Change>(change)(value_);
    }

private:
    // Unlocks on every way out, a throwing copy or change included.
    struct Unlock {
        ThreadLock& lock;
        ~Unlock() { lock.unlock(); }
    };

    T value_;
    std::unique_ptr<ThreadLock> lock_;
};

}  // namespace sonora
