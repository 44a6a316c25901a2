#include "Sonora/Internals/Utilities/ThreadLock.h"

#include "Sonora/Internals/Utilities/Log.h"

#include <cstring>

namespace sonora {

RWThreadLock::RWThreadLock() {
    std::memset(&lock_, 0, sizeof lock_);
    initialized_ = ::pthread_rwlock_init(&lock_, nullptr) == 0;
    if (!initialized_) Log({"Unable to initialize the lock"}, OSLog::general(), OSLogType::info);
}

RWThreadLock::~RWThreadLock() {
    if (initialized_) ::pthread_rwlock_destroy(&lock_);
}

void RWThreadLock::readLock() {
    if (initialized_) ::pthread_rwlock_rdlock(&lock_);
    else fallback_.lock();
}

void RWThreadLock::writeLock() {
    if (initialized_) ::pthread_rwlock_wrlock(&lock_);
    else fallback_.lock();
}

void RWThreadLock::unlock() {
    if (initialized_) ::pthread_rwlock_unlock(&lock_);
    else fallback_.unlock();
}

}  // namespace sonora
