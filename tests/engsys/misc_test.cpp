// The construction-trace, diagnostics and heap stand-ins: what tests of the component read
// from them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engsys_support.h"

namespace {

TEST(StandInCounterTest, CtorDtorTextsAndDiagnosticsReportsAreCounted) {
    engsys_test::Library ctor("bstctor.dll");
    const auto emit = ctor.get<engsys::TraceCtorDtorFn>("tuTraceCTORDTOR");
    const auto count = ctor.get<engsys::CtorCountFn>("bstctor_Count");
    const auto last = ctor.get<engsys::CtorLastFn>("bstctor_Last");
    const DWORD before = count();
    emit("CTOR CCollectionJobSymAcc (0x1234)");
    EXPECT_STREQ(last(), "CTOR CCollectionJobSymAcc (0x1234)");
    emit(std::string(600, 'd').c_str());
    EXPECT_EQ(std::string(last()), std::string(511, 'd'));
    emit(nullptr);
    EXPECT_STREQ(last(), "");
    EXPECT_EQ(count(), before + 3);

    engsys_test::Library diag("bstdiag.dll");
    const auto reports = diag.get<engsys::DiagReportCountFn>("bstdiag_ReportCount");
    const DWORD reportsBefore = reports();
    diag.get<engsys::DiagnosticsReportFn>("Do_DiagnosticsReport")();
    EXPECT_EQ(reports(), reportsBefore + 1);
}

// Sizes from nothing to a megabyte, one freed with a wrong size, and threads all at once.
TEST(StandInHeapTest, BalanceFollowsBlocksAndRecordedSizes) {
    engsys_test::Library lib("bstmem.dll");
    const auto heapAlloc = lib.get<engsys::HeapAllocFn>("falloc_HeapAlloc");
    const auto heapFree = lib.get<engsys::HeapFreeFn>("falloc_HeapFree");
    const auto balance = lib.get<engsys::MemCounterFn>("bstmem_Balance");
    const auto blocks = lib.get<engsys::MemCounterFn>("bstmem_Blocks");
    const auto mismatches = lib.get<engsys::MemCounterFn>("bstmem_SizeMismatches");
    const LONGLONG bytes0 = balance(), blocks0 = blocks(), mismatches0 = mismatches();
    const size_t sizes[] = {0, 1, 24, 4096, 1 << 20};
    std::vector<void*> held;
    for (const size_t size : sizes) {
        held.push_back(heapAlloc(size));
        ASSERT_NE(held.back(), nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(held.back()) % alignof(double), 0u) << size;
        std::memset(held.back(), 0xA5, size);  // the whole block is usable
    }
    EXPECT_EQ(balance() - bytes0, 0 + 1 + 24 + 4096 + (1 << 20));
    EXPECT_EQ(blocks() - blocks0, 5);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                const size_t size = static_cast<size_t>(t * 7 + i % 13);
                heapFree(heapAlloc(size), size);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (size_t i = 0; i < held.size(); ++i) {
        heapFree(held[i], sizes[i] == 24 ? 23 : sizes[i]);
    }
    heapFree(nullptr, 8);
    EXPECT_EQ(balance(), bytes0);
    EXPECT_EQ(blocks(), blocks0);
    EXPECT_EQ(mismatches(), mismatches0 + 1);
    EXPECT_EQ(heapAlloc(SIZE_MAX), nullptr);
    EXPECT_EQ(blocks(), blocks0);
}

}  // namespace
