// The replacements forward to glibc's own allocator entry points (__libc_malloc & co.) and to the
// next definition of everything else (dlsym(RTLD_NEXT)); none of them may allocate or lock on its
// own path. Only a call on a thread inside the engine's render mark is counted.
#undef _FORTIFY_SOURCE
#include "RenderCallCounter.h"

#include "platform/avfaudio/RenderThreadMark.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <new>

#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace rtcheck {
namespace {

constexpr int kMaxFrames = 48;

std::atomic<bool> armed{false};
std::atomic<uint64_t> counts[kCallKindCount];
std::atomic<bool> firstTaken{false};
std::atomic<bool> firstReady{false};
const char* firstFunction = nullptr;
const void* firstNode = nullptr;
void* firstFrames[kMaxFrames];
int firstDepth = 0;
// Set while the counter itself runs (the stack walk), so that what it calls is not counted.
constinit thread_local bool inCounter = false;

void record(CallKind kind, const char* function) {
    if (!platform::isRenderThread() || inCounter || !armed.load(std::memory_order_relaxed)) return;
    counts[int(kind)].fetch_add(1, std::memory_order_relaxed);
    if (firstTaken.exchange(true, std::memory_order_acq_rel)) return;
    inCounter = true;
    firstFunction = function;
    firstNode = platform::renderingNode();
    firstDepth = backtrace(firstFrames, kMaxFrames);
    inCounter = false;
    firstReady.store(true, std::memory_order_release);
}

// The next definition of a replaced function, looked up once (dlsym allocates nothing we count).
template <typename F>
F nextDefinition(std::atomic<F>& cache, const char* name) {
    F f = cache.load(std::memory_order_acquire);
    if (!f) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        cache.store(f, std::memory_order_release);
    }
    return f;
}

#define RTCHECK_NEXT(name) nextDefinition(name##Next, #name)

[[noreturn]] void outOfMemory() { throw std::bad_alloc(); }

void* allocate(size_t size, const char* function) {
    record(CallKind::allocation, function);
    void* p = __libc_malloc(size ? size : 1);
    if (!p) outOfMemory();
    return p;
}

void* allocateAligned(size_t size, std::align_val_t alignment, const char* function) {
    record(CallKind::allocation, function);
    void* p = __libc_memalign(size_t(alignment), size ? size : 1);
    if (!p) outOfMemory();
    return p;
}

void release(void* p, const char* function) {
    if (!p) return;
    record(CallKind::free, function);
    __libc_free(p);
}

}  // namespace

void arm() {
    // The stack walker loads its unwinder on first use: make that happen now, outside any render.
    void* frames[2];
    backtrace(frames, 2);
    armed.store(true, std::memory_order_release);
}

void disarm() { armed.store(false, std::memory_order_release); }

uint64_t count(CallKind kind) { return counts[int(kind)].load(std::memory_order_relaxed); }

uint64_t total() {
    uint64_t sum = 0;
    for (const auto& c : counts) sum += c.load(std::memory_order_relaxed);
    return sum;
}

FirstCall firstCall() {
    if (!firstReady.load(std::memory_order_acquire)) return {};
    return {firstFunction, firstNode, firstFrames, firstDepth};
}

}  // namespace rtcheck

using rtcheck::CallKind;
using rtcheck::record;

// ---------------------------------------------------------------------------------------------
// The C allocator

extern "C" {

void* malloc(size_t size) {
    record(CallKind::allocation, "malloc");
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    record(CallKind::allocation, "calloc");
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size) {
    record(CallKind::allocation, "realloc");
    return __libc_realloc(pointer, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    record(CallKind::allocation, "posix_memalign");
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) {
    record(CallKind::allocation, "aligned_alloc");
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    record(CallKind::allocation, "memalign");
    return __libc_memalign(alignment, size);
}

void free(void* pointer) {
    if (pointer) record(CallKind::free, "free");
    __libc_free(pointer);
}

}  // extern "C"

// ---------------------------------------------------------------------------------------------
// The C++ allocator

void* operator new(size_t size) { return rtcheck::allocate(size, "operator new"); }
void* operator new[](size_t size) { return rtcheck::allocate(size, "operator new[]"); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    record(CallKind::allocation, "operator new");
    return __libc_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    record(CallKind::allocation, "operator new[]");
    return __libc_malloc(size ? size : 1);
}
void* operator new(size_t size, std::align_val_t alignment) { return rtcheck::allocateAligned(size, alignment, "operator new"); }
void* operator new[](size_t size, std::align_val_t alignment) {
    return rtcheck::allocateAligned(size, alignment, "operator new[]");
}
void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    record(CallKind::allocation, "operator new");
    return __libc_memalign(size_t(alignment), size ? size : 1);
}
void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    record(CallKind::allocation, "operator new[]");
    return __libc_memalign(size_t(alignment), size ? size : 1);
}

void operator delete(void* p) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p) noexcept { rtcheck::release(p, "operator delete[]"); }
void operator delete(void* p, size_t) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p, size_t) noexcept { rtcheck::release(p, "operator delete[]"); }
void operator delete(void* p, const std::nothrow_t&) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { rtcheck::release(p, "operator delete[]"); }
void operator delete(void* p, std::align_val_t) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p, std::align_val_t) noexcept { rtcheck::release(p, "operator delete[]"); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { rtcheck::release(p, "operator delete[]"); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { rtcheck::release(p, "operator delete"); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    rtcheck::release(p, "operator delete[]");
}

// ---------------------------------------------------------------------------------------------
// Locks, waits and system calls

namespace {
using rtcheck::nextDefinition;
std::atomic<int (*)(pthread_mutex_t*)> pthread_mutex_lockNext{nullptr};
std::atomic<int (*)(pthread_mutex_t*)> pthread_mutex_trylockNext{nullptr};
std::atomic<int (*)(pthread_mutex_t*, const timespec*)> pthread_mutex_timedlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*)> pthread_rwlock_rdlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*)> pthread_rwlock_wrlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*)> pthread_rwlock_tryrdlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*)> pthread_rwlock_trywrlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*, const timespec*)> pthread_rwlock_timedrdlockNext{nullptr};
std::atomic<int (*)(pthread_rwlock_t*, const timespec*)> pthread_rwlock_timedwrlockNext{nullptr};
std::atomic<int (*)(pthread_cond_t*, pthread_mutex_t*)> pthread_cond_waitNext{nullptr};
std::atomic<int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*)> pthread_cond_timedwaitNext{nullptr};
std::atomic<int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*)> pthread_cond_clockwaitNext{nullptr};
std::atomic<int (*)(sem_t*)> sem_waitNext{nullptr};
std::atomic<int (*)(sem_t*, const timespec*)> sem_timedwaitNext{nullptr};
std::atomic<int (*)(sem_t*, clockid_t, const timespec*)> sem_clockwaitNext{nullptr};
std::atomic<int (*)(const timespec*, timespec*)> nanosleepNext{nullptr};
std::atomic<int (*)(clockid_t, int, const timespec*, timespec*)> clock_nanosleepNext{nullptr};
std::atomic<int (*)(useconds_t)> usleepNext{nullptr};
std::atomic<int (*)()> sched_yieldNext{nullptr};
std::atomic<ssize_t (*)(int, const void*, size_t)> writeNext{nullptr};
std::atomic<ssize_t (*)(int, void*, size_t)> readNext{nullptr};
std::atomic<int (*)(const char*, int, ...)> openNext{nullptr};
std::atomic<int (*)(const char*, int, ...)> open64Next{nullptr};
std::atomic<int (*)(int)> fsyncNext{nullptr};
std::atomic<void (*)(int, const char*, va_list)> vsyslogNext{nullptr};
// The mode argument is there only when the flags create a file.
int forwardOpen(int (*next)(const char*, int, ...), const char* path, int flags, va_list args) {
    record(CallKind::syscall, "open");
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    return next(path, flags, mode);
}
}  // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m) {
    record(CallKind::lock, "pthread_mutex_lock");
    return RTCHECK_NEXT(pthread_mutex_lock)(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) {
    record(CallKind::lock, "pthread_mutex_trylock");
    return RTCHECK_NEXT(pthread_mutex_trylock)(m);
}
int pthread_mutex_timedlock(pthread_mutex_t* m, const timespec* t) {
    record(CallKind::lock, "pthread_mutex_timedlock");
    return RTCHECK_NEXT(pthread_mutex_timedlock)(m, t);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    record(CallKind::lock, "pthread_rwlock_rdlock");
    return RTCHECK_NEXT(pthread_rwlock_rdlock)(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    record(CallKind::lock, "pthread_rwlock_wrlock");
    return RTCHECK_NEXT(pthread_rwlock_wrlock)(l);
}
int pthread_rwlock_tryrdlock(pthread_rwlock_t* l) {
    record(CallKind::lock, "pthread_rwlock_tryrdlock");
    return RTCHECK_NEXT(pthread_rwlock_tryrdlock)(l);
}
int pthread_rwlock_trywrlock(pthread_rwlock_t* l) {
    record(CallKind::lock, "pthread_rwlock_trywrlock");
    return RTCHECK_NEXT(pthread_rwlock_trywrlock)(l);
}
int pthread_rwlock_timedrdlock(pthread_rwlock_t* l, const timespec* t) {
    record(CallKind::lock, "pthread_rwlock_timedrdlock");
    return RTCHECK_NEXT(pthread_rwlock_timedrdlock)(l, t);
}
int pthread_rwlock_timedwrlock(pthread_rwlock_t* l, const timespec* t) {
    record(CallKind::lock, "pthread_rwlock_timedwrlock");
    return RTCHECK_NEXT(pthread_rwlock_timedwrlock)(l, t);
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    record(CallKind::wait, "pthread_cond_wait");
    return RTCHECK_NEXT(pthread_cond_wait)(c, m);
}
int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const timespec* t) {
    record(CallKind::wait, "pthread_cond_timedwait");
    return RTCHECK_NEXT(pthread_cond_timedwait)(c, m, t);
}
int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const timespec* t) {
    record(CallKind::wait, "pthread_cond_clockwait");
    return RTCHECK_NEXT(pthread_cond_clockwait)(c, m, clock, t);
}
int sem_wait(sem_t* s) {
    record(CallKind::wait, "sem_wait");
    return RTCHECK_NEXT(sem_wait)(s);
}
int sem_timedwait(sem_t* s, const timespec* t) {
    record(CallKind::wait, "sem_timedwait");
    return RTCHECK_NEXT(sem_timedwait)(s, t);
}
int sem_clockwait(sem_t* s, clockid_t clock, const timespec* t) {
    record(CallKind::wait, "sem_clockwait");
    return RTCHECK_NEXT(sem_clockwait)(s, clock, t);
}
int nanosleep(const timespec* t, timespec* rest) {
    record(CallKind::wait, "nanosleep");
    return RTCHECK_NEXT(nanosleep)(t, rest);
}
int clock_nanosleep(clockid_t clock, int flags, const timespec* t, timespec* rest) {
    record(CallKind::wait, "clock_nanosleep");
    return RTCHECK_NEXT(clock_nanosleep)(clock, flags, t, rest);
}
int usleep(useconds_t microseconds) {
    record(CallKind::wait, "usleep");
    return RTCHECK_NEXT(usleep)(microseconds);
}
int sched_yield() {
    record(CallKind::wait, "sched_yield");
    return RTCHECK_NEXT(sched_yield)();
}

ssize_t write(int fd, const void* data, size_t size) {
    record(CallKind::syscall, "write");
    return RTCHECK_NEXT(write)(fd, data, size);
}
ssize_t read(int fd, void* data, size_t size) {
    record(CallKind::syscall, "read");
    return RTCHECK_NEXT(read)(fd, data, size);
}
int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forwardOpen(RTCHECK_NEXT(open), path, flags, args);
    va_end(args);
    return fd;
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = forwardOpen(RTCHECK_NEXT(open64), path, flags, args);
    va_end(args);
    return fd;
}
int fsync(int fd) {
    record(CallKind::syscall, "fsync");
    return RTCHECK_NEXT(fsync)(fd);
}
void syslog(int priority, const char* format, ...) {
    record(CallKind::syscall, "syslog");
    va_list args;
    va_start(args, format);
    RTCHECK_NEXT(vsyslog)(priority, format, args);
    va_end(args);
}

}  // extern "C"
