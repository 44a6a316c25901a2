#include "Sonora/Internals/Utilities/ThreadLock.h"
#include "Sonora/Internals/Utilities/ThreadLockedAccessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace sonora;
using namespace std::chrono_literals;

namespace {
// Waits for a flag another thread sets, up to a limit long enough for a loaded machine.
bool eventually(const std::atomic<bool>& flag) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!flag && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return flag;
}
}  // namespace

TEST(RWThreadLock, ReadersShareAndAWriterWaitsForThemAll) {
    RWThreadLock lock;
    lock.readLock();
    std::atomic<bool> secondReaderIn{false};
    std::atomic<bool> releaseSecondReader{false};
    std::thread reader([&] {
        lock.readLock();
        secondReaderIn = true;
        while (!releaseSecondReader) std::this_thread::sleep_for(1ms);
        lock.unlock();
    });
    ASSERT_TRUE(eventually(secondReaderIn));

    std::atomic<bool> writerIn{false};
    std::thread writer([&] {
        lock.writeLock();
        writerIn = true;
        lock.unlock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(writerIn.load());
    lock.unlock();
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(writerIn.load());  // the second reader still holds it
    releaseSecondReader = true;
    EXPECT_TRUE(eventually(writerIn));
    reader.join();
    writer.join();
}

TEST(ThreadLockedAccessor, AThousandConcurrentMutatesAreAllKept) {
    ThreadLockedAccessor<int> counter(5);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < 10; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 100; ++i) counter.mutate([](int& value) { ++value; });
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter.wrappedValue(), 1005);
}

TEST(ThreadLockedAccessor, ReadsCopyAndWritesReplace) {
    ThreadLockedAccessor<std::vector<std::string>> files({"a.caf"});
    std::vector<std::string> copy = files.wrappedValue();
    copy.push_back("b.caf");
    EXPECT_EQ(files.wrappedValue().size(), 1u);
    files.setWrappedValue(copy);
    EXPECT_EQ(files.wrappedValue(), copy);
}
