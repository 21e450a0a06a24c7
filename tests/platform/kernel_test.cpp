// Critical sections, thread ids and interlocked arithmetic.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/winapi.h"

namespace {

// Deliberately read without holding the section, as contention traces do.
DWORD owner_of(const CRITICAL_SECTION& cs) {
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(static_cast<HANDLE>(cs.OwningThread)));
}

class CriticalSectionTest : public testing::Test {
  protected:
    CriticalSectionTest() { InitializeCriticalSection(&m_cs); }
    ~CriticalSectionTest() override { DeleteCriticalSection(&m_cs); }

    // Runs TryEnter on another thread, leaving again on success; also reports the owner it saw.
    bool try_from_other_thread(DWORD* seen_owner) {
        bool entered = false;
        std::thread([&] {
            *seen_owner = owner_of(m_cs);
            entered = TryEnterCriticalSection(&m_cs) != FALSE;
            if (entered) {
                LeaveCriticalSection(&m_cs);
            }
        }).join();
        return entered;
    }

    CRITICAL_SECTION m_cs;
};

TEST_F(CriticalSectionTest, RecursiveOwnerBlocksOthersUntilLastLeave) {
    const DWORD self = GetCurrentThreadId();
    EnterCriticalSection(&m_cs);
    EnterCriticalSection(&m_cs);
    ASSERT_TRUE(TryEnterCriticalSection(&m_cs));
    EXPECT_EQ(owner_of(m_cs), self);

    DWORD seen = 0;
    for (int held = 3; held > 0; --held) {
        EXPECT_FALSE(try_from_other_thread(&seen)) << "held " << held;
        EXPECT_EQ(seen, self) << "held " << held;
        LeaveCriticalSection(&m_cs);
    }
    EXPECT_EQ(owner_of(m_cs), 0u);
    EXPECT_TRUE(try_from_other_thread(&seen));
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(owner_of(m_cs), 0u);
}

// Plain increments under the section, and interlocked ones without it: none is lost.
TEST_F(CriticalSectionTest, ExcludesConcurrentIncrementsAsInterlockedOnesNeedNot) {
    constexpr int kThreads = 4;
    constexpr int kIterations = 5000;
    long counter = 0;
    LONG volatile interlocked = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kIterations; ++i) {
                EnterCriticalSection(&m_cs);
                ++counter;
                LeaveCriticalSection(&m_cs);
                InterlockedIncrement(&interlocked);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kIterations);
    EXPECT_EQ(interlocked, kThreads * kIterations);
}

TEST(ThreadIdTest, NonzeroStableAndDistinctAcrossLiveThreads) {
    const DWORD self = GetCurrentThreadId();
    EXPECT_EQ(GetCurrentThreadId(), self);
    DWORD other[2] = {};
    std::thread([&] { other[0] = GetCurrentThreadId(), other[1] = GetCurrentThreadId(); }).join();
    EXPECT_NE(self, 0u);
    EXPECT_NE(other[0], 0u);
    EXPECT_EQ(other[0], other[1]);
    EXPECT_NE(other[0], self);
}

struct InterlockedCase {
    const char* name;
    LONG initial;
    LONG (*op)(LONG volatile*);
    LONG returned;
    LONG after;
};

// clang-format off
const InterlockedCase kInterlockedCases[] = {
    // name                     initial  operation                                                      returned  after
    {"IncrementReturnsNew",     5,  [](LONG volatile* p) { return InterlockedIncrement(p); },              6,  6},
    {"DecrementToZero",         1,  [](LONG volatile* p) { return InterlockedDecrement(p); },              0,  0},
    {"DecrementBelowZero",      0,  [](LONG volatile* p) { return InterlockedDecrement(p); },              -1, -1},
    {"ExchangeReturnsOld",      5,  [](LONG volatile* p) { return InterlockedExchange(p, 42); },           5,  42},
    {"ExchangeAddReturnsOld",   42, [](LONG volatile* p) { return InterlockedExchangeAdd(p, -2); },        42, 40},
    {"CompareExchangeMatch",    40, [](LONG volatile* p) { return InterlockedCompareExchange(p, 7, 40); }, 40, 7},
    {"CompareExchangeMismatch", 40, [](LONG volatile* p) { return InterlockedCompareExchange(p, 7, 1); },  40, 40},
};
// clang-format on

TEST(InterlockedTest, ReturnValuesAndResults) {
    for (const auto& c : kInterlockedCases) {
        LONG volatile v = c.initial;
        EXPECT_EQ(c.op(&v), c.returned) << c.name;
        EXPECT_EQ(v, c.after) << c.name;
    }
}

}  // namespace
