// The registry lock: no trace without contention, a traced wait naming both threads, and the
// guard.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "co/co_lock.h"
#include "co/co_trace.h"
#include "support/trace_capture.h"

namespace {

using testing_support::TraceCapture;

std::string hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned int>(v));
    return buf;
}

TEST(CoLockTest, OnlyAWaitingThreadTracesNamingItselfAndTheHolder) {
    TraceCapture capture;
    ASSERT_TRUE(capture.ready());
    capture.levels(1, 1, 1u << 1);
    CCoCriticalSection lock;
    std::atomic<bool> waiting{false};
    lock.Lock();
    lock.Lock();  // re-entry
    lock.Unlock();
    EXPECT_TRUE(capture.messages().empty());
    const DWORD holder = GetCurrentThreadId();
    DWORD waiter = 0;
    std::thread other([&] {
        waiter = GetCurrentThreadId();
        waiting = true;
        CCoLockGuard guard(&lock);
    });
    while (!waiting) {
        std::this_thread::yield();
    }
    // Let the other thread reach the section; the trace shows whether it had to wait.
    while (capture.messages().empty()) {
        Sleep(1);
    }
    lock.Unlock();
    other.join();
    const auto texts = capture.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "thread " + hex(waiter) + " is waiting for thread " + hex(holder));
    EXPECT_EQ(texts[1], "thread " + hex(waiter) + " continued");
    EXPECT_EQ(capture.messages()[0].level, TRACE_INFO);
}

TEST(CoLockTest, GuardLocksOnceAndMayBeReleasedAndRetaken) {
    CCoCriticalSection lock;
    CCoLockGuard guard(&lock);
    guard.Lock();  // a second Lock in a row does nothing
    guard.Unlock();
    std::thread([&] { CCoLockGuard other(&lock); }).join();  // released for good by one Unlock
    guard.Lock();
    guard.Unlock();
    guard.Unlock();  // a second Unlock in a row does nothing

    CCoLockGuard none(nullptr);
    none.Lock();
    none.Unlock();
}

}  // namespace
