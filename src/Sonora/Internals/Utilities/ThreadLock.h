// Reader/writer locking: many readers at once, a writer alone. Not recursive: a thread holding the
// lock must not take it again.
#pragma once

#include <mutex>
#include <pthread.h>

namespace sonora {

class ThreadLock {
public:
    virtual ~ThreadLock() = default;
    virtual void readLock() = 0;
    virtual void writeLock() = 0;
    virtual void unlock() = 0;
};

// A POSIX reader/writer lock held inside the object.
class RWThreadLock final : public ThreadLock {
public:
    RWThreadLock();
    ~RWThreadLock() override;
    RWThreadLock(const RWThreadLock&) = delete;
    RWThreadLock& operator=(const RWThreadLock&) = delete;

    void readLock() override;
    void writeLock() override;
    void unlock() override;

private:
    pthread_rwlock_t lock_;
    // When the POSIX lock cannot be set up, readers and writers alike take this one instead.
    std::mutex fallback_;
    bool initialized_ = false;
};

}  // namespace sonora
