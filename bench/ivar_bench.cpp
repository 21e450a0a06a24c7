// The add-and-join cycle of single jobs on the IVar service (addSymbolsIVar, then
// UpdateIVarJobEntry) while one collection job grows to 1024 names, alone and from 8 threads.
// Its baseline in the same run is the name reforming the growth cannot avoid: one processNames
// of the collection job's names as they stand after each addition; beside it the same
// bookkeeping on plain structs under a mutex.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "bench/ratio.h"
#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "btl/settings.h"
#include "platform/com_ptr.h"
#include "platform/module.h"
#include "platform/raii.h"

namespace {

using platform::ComPtr;
using platform::UniqueVariant;

constexpr int kNamesPerJob = 4;
constexpr int kJobs = 1024 / kNamesPerJob;

// Every benchmark thread in the multithreaded apartment; the callback table registered and the
// merging optimizer switched on, as in a deployment.
void EnableMerging() {
    thread_local const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (void)apartment;
    static const bool done = [] {
        HMODULE table = LoadLibraryA("mccbtable.dll");
        auto reg = platform::proc_address<HRESULT(STDAPICALLTYPE*)()>(table, "DllRegisterServer");
        if (reg != nullptr) {
            reg();
        }
        const std::basic_string<OLECHAR> key =
            std::basic_string<OLECHAR>(BTL_GetRegKeyRoot()) + OLESTR("\\OnlServer\\Collection");
        platform::UniqueRegKey hkey;
        const DWORD two = 2;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            hkey.put(), nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(hkey.get(), OLESTR("AnyptrOptimizer"), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&two), sizeof two);
        }
        CAnyPtrOptimizer::forgetOptimizerSetting();
        return true;
    }();
    (void)done;
}

// kNamesPerJob names of one SJ: neighbouring ranges of one area, so that merging has work.
UniqueVariant NamesOf(int job) {
    UniqueVariant names;
    names->vt = VT_ARRAY | VT_VARIANT;
    names->parray = SafeArrayCreateVector(VT_VARIANT, 0, kNamesPerJob);
    for (LONG i = 0; i < kNamesPerJob; ++i) {
        UniqueVariant name;
        const AnyPtrRec rec{job * 8 + i * 2, 2, 0, 1, 5, 0, i, -1};
        makeAnyPtrName(rec, name.get());
        SafeArrayPutElement(names->parray, &i, name.get());
    }
    return names;
}

const std::vector<UniqueVariant>& AllNames() {
    static const std::vector<UniqueVariant> all = [] {
        std::vector<UniqueVariant> v;
        for (int j = 0; j < kJobs; ++j) {
            v.push_back(NamesOf(j));
        }
        return v;
    }();
    return all;
}

// One client's cycle: add, join, and when the CJ was stopped re-create it under a new id and
// confirm it, as the action word asks (so the SJs stay in the CJ and its names keep growing).
void AddAndJoin(IMC_CollectionJobSymAcc* object, LONG cycle, int job, ULONG sj) {
    static std::atomic<ULONG> nextCJ{100};
    ULONG status = 0, cj = 0, action = 0;
    object->addSymbolsIVar(cycle, 9, *AllNames()[static_cast<size_t>(job)].get(), sj, &status);
    CJAsyncRQRecordHolder record;
    UniqueVariant names;
    object->UpdateIVarJobEntry(cycle, 9, nullptr, &sj, &cj, names.get(), record.get(), &action,
                               &status);
    if ((action & CJ_ACTION_STOP) != 0) {
        const ULONG newID = nextCJ++;
        record.reset();  // the re-creation only zeroes it
        object->UpdateJobState(cycle, 9, sj, newID, &action, record.get(), &status);
        object->UpdateCJ_IVarCB(0, 9, newID, nullptr, &status);
    }
}

ComPtr<IMC_CollectionJobSymAcc> NewComponent() {
    ComPtr<IMC_CollectionJobSymAcc> object;
    ComPtr<CCollectionJobSymAcc>(new CCollectionJobSymAcc).query(object);
    return object;
}

// Rows of the lookup table of the CJ that holds SJ `sj`: how many names the grown CJ carries.
LONG NamesOfCJ(IMC_CollectionJobSymAcc* object, ULONG sj) {
    UniqueVariant table;
    ULONG result = 0, cj = 0, state = 0;
    LONG upper = -1;
    object->existCycle(100, 9, sj, &cj, &state);
    if (SUCCEEDED(object->GetIVarLookupTbl(cj, 9, table.get(), &result)) &&
        table.vt() == (VT_ARRAY | VT_I4)) {
        SafeArrayGetUBound(table->parray, 2, &upper);
    }
    return upper + 1;
}

// The collection job's names after each of the kJobs additions: the first 4, 8, ... 1024.
const std::vector<UniqueVariant>& GrowingNames() {
    static const std::vector<UniqueVariant> all = [] {
        std::vector<UniqueVariant> v;
        for (int j = 0; j < kJobs; ++j) {
            UniqueVariant names;
            const ULONG count = static_cast<ULONG>((j + 1) * kNamesPerJob);
            names->vt = VT_ARRAY | VT_VARIANT;
            names->parray = SafeArrayCreateVector(VT_VARIANT, 0, count);
            for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
                UniqueVariant name;
                LONG from = i % kNamesPerJob;
                SafeArrayGetElement(AllNames()[static_cast<size_t>(i / kNamesPerJob)]->parray,
                                    &from, name.get());
                SafeArrayPutElement(names->parray, &i, name.get());
            }
            v.push_back(std::move(names));
        }
        return v;
    }();
    return all;
}

// Baseline: the processNames calls of one growth, each on a local optimizer in the merging
// state as an addition makes it.
void BM_ProcessNamesOfGrowth(benchmark::State& state) {
    EnableMerging();
    GrowingNames();
    bench::LoopClock clock;
    for (auto _ : state) {
        for (const UniqueVariant& names : GrowingNames()) {
            CAnyPtrOptimizer optimizer;
            optimizer.setState(CAnyPtrOptimizer::STATE_MERGE);
            UniqueVariant reformed, lookup;
            benchmark::DoNotOptimize(
                optimizer.processNames(names.get(), reformed.get(), lookup.get()));
        }
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    bench::RecordBaseline(bench::Key("growth", state, 0), clock, state);
}

// One iteration: a fresh component receives kJobs SJs of one cycle, 1024 names in the end. The
// grown components are released after the clock is read: their teardown (every SJ's cookies
// revoked) is not part of a growth.
void BM_AddAndJoin(benchmark::State& state) {
    EnableMerging();
    AllNames();
    std::vector<ComPtr<IMC_CollectionJobSymAcc>> grown;
    bench::LoopClock clock;
    for (auto _ : state) {
        grown.push_back(NewComponent());
        IMC_CollectionJobSymAcc* object = grown.back().get();
        for (int j = 0; j < kJobs; ++j) {
            AddAndJoin(object, 100, j, 0x80000001u + static_cast<ULONG>(j));
        }
        state.counters["names"] = static_cast<double>(NamesOfCJ(object, 0x80000001u));
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    bench::ReportRatio(bench::Key("growth", state, 0), clock, state);
    const double plain = bench::BaselineMedian(bench::Key("add_and_join", state, 0));
    if (plain > 0.0) {
        state.counters["vs_plain"] = clock.NanosPerIteration(state) / plain;
    }
}

// 8 threads share one component and one cycle and grow its CJ together; one growth per
// iteration (the component is made before the start barrier and dropped after the end one).
ComPtr<IMC_CollectionJobSymAcc> g_shared;
void BM_AddAndJoinThreads(benchmark::State& state) {
    EnableMerging();
    AllNames();
    if (state.thread_index() == 0) {
        g_shared = NewComponent();
    }
    const int share = kJobs / state.threads();
    for (auto _ : state) {
        for (int j = 0; j < share; ++j) {
            const int job = state.thread_index() * share + j;
            AddAndJoin(g_shared.get(), 100, job, 0x80000001u + static_cast<ULONG>(job));
        }
    }
    if (state.thread_index() == 0) {
        state.counters["names"] = static_cast<double>(NamesOfCJ(g_shared.get(), 0x80000001u));
        g_shared.reset();
    }
    state.SetItemsProcessed(state.iterations() * share);
}
BENCHMARK(BM_AddAndJoinThreads)
    ->Threads(8)
    ->Iterations(1)
    ->Repetitions(9)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Baseline: the same appends and joins on plain structs, one mutex, no COM types.
struct PlainName {
    int start, cnt, area, typ;
};
struct PlainJob {
    std::vector<PlainName> names;
    std::list<ULONG> sjs;
    int ticks = 0;
};
void BM_PlainAddAndJoin(benchmark::State& state) {
    bench::LoopClock clock;
    for (auto _ : state) {
        std::mutex lock;
        PlainJob cj;
        for (int j = 0; j < kJobs; ++j) {
            std::lock_guard<std::mutex> guard(lock);
            for (int i = 0; i < kNamesPerJob; ++i) {
                cj.names.push_back({j * 8 + i * 2, 2, 1, 5});
            }
            std::vector<PlainName> copy = cj.names;  // the merge rewrites the whole list
            benchmark::DoNotOptimize(copy.data());
            cj.sjs.push_back(0x80000001u + static_cast<ULONG>(j));
            ++cj.ticks;
        }
        benchmark::DoNotOptimize(cj.ticks);
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
    bench::RecordBaseline(bench::Key("add_and_join", state, 0), clock, state);
}
BENCHMARK(BM_PlainAddAndJoin)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ProcessNamesOfGrowth)->Unit(benchmark::kMillisecond);

// After its baselines, whose figures it divides by.
BENCHMARK(BM_AddAndJoin)->Unit(benchmark::kMillisecond);

}  // namespace
