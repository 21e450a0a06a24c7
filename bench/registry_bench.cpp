// The job table's growth: one client's add, join, query and cancel of a single job on a cycle of
// its own, with 1, 100 and 1,000 collection jobs of 10 single jobs each already in the table
// (each case against the 1-job case of the same run), and the same calls from 1 and 8 threads on
// distinct cycles of one component (8 threads against 1).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>

#include "bench/ratio.h"
#include "base/st/symcjacc/symcjacc.h"
#include "base/st/symcjacc/symcjanyopt.h"
#include "platform/com_ptr.h"
#include "platform/module.h"
#include "platform/raii.h"

namespace {

using platform::ComPtr;
using platform::UniqueVariant;

constexpr LONG kTyp = 9;
constexpr int kSJsPerCJ = 10;
constexpr LONG kFirstTableCycle = 1000;
constexpr ULONG kFirstTableSJ = 0x80000001u;
constexpr ULONG kFirstRecreatedCJ = 0x100000u;
constexpr ULONG kFirstClientSJ = 0xC0000001u;  // never one the table holds

void Prepare() {
    thread_local const HRESULT apartment = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (void)apartment;
    static const bool registered = [] {
        HMODULE table = LoadLibraryA("mccbtable.dll");
        auto reg = platform::proc_address<HRESULT(STDAPICALLTYPE*)()>(table, "DllRegisterServer");
        return reg != nullptr && SUCCEEDED(reg());
    }();
    if (!registered) {
        std::abort();
    }
}

// One ANY-pointer name per single job.
UniqueVariant OneName(int k) {
    UniqueVariant names;
    names->vt = VT_ARRAY | VT_VARIANT;
    names->parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    UniqueVariant name;
    const AnyPtrRec rec{k * 8, 2, 0, 1, 5, 0, 0, -1};
    makeAnyPtrName(rec, name.get());
    LONG at = 0;
    SafeArrayPutElement(names->parray, &at, name.get());
    return names;
}

void AddAndJoin(IMC_CollectionJobSymAcc* object, LONG cycle, ULONG sj, const VARIANT& names) {
    ULONG status = 0, cj = 0, action = 0;
    object->addSymbolsIVar(cycle, kTyp, names, sj, &status);
    CJAsyncRQRecordHolder record;
    UniqueVariant cjNames;
    object->UpdateIVarJobEntry(cycle, kTyp, nullptr, &sj, &cj, cjNames.get(), record.get(), &action,
                               &status);
}

// `cjs` collection jobs of 10 single jobs, each re-created once under a target's id (so that its
// first id stays taken as the previous one) and confirmed, with a run-time id.
ComPtr<IMC_CollectionJobSymAcc> NewTable(int cjs) {
    ComPtr<IMC_CollectionJobSymAcc> object;
    ComPtr<CCollectionJobSymAcc>(new CCollectionJobSymAcc).query(object);
    ULONG maxVars = 0, maxSize = 0, status = 0;
    object->getLimits(&maxVars, &maxSize);
    object->setMaxJobs(4 * static_cast<ULONG>(cjs) + 16, maxSize, 0);
    const UniqueVariant names = OneName(0);
    ULONG sj = kFirstTableSJ;
    for (int k = 0; k < cjs; ++k) {
        const LONG cycle = kFirstTableCycle + k;
        for (int j = 0; j < kSJsPerCJ; ++j) {
            AddAndJoin(object.get(), cycle, sj++, *names.get());
        }
        const ULONG newID = kFirstRecreatedCJ + static_cast<ULONG>(k);
        ULONG action = 0;
        CJAsyncRQRecordHolder record;
        object->UpdateJobState(cycle, kTyp, sj - 1, newID, &action, record.get(), &status);
        object->UpdateCJ_IVarCB(0, kTyp, newID, nullptr, &status);
        object->setRt_JobID(cycle, kTyp, sj - 1, newID, 0x5000u + static_cast<ULONG>(k), &status);
    }
    return object;
}

struct Answers {
    ULONG cj = 0;
    LONG cycle = 0;
    ULONG rt = 0;
};

// The queries a client makes about its job: its CJ, properties, run-time id and lookup table.
Answers Ask(IMC_CollectionJobSymAcc* object, LONG cycle, ULONG sj) {
    Answers answers;
    answers.rt = sj;
    ULONG status = 0, state = 0, result = 0;
    LONG typ = 0;
    object->existCycle(cycle, kTyp, sj, &answers.cj, &state);
    object->getJobProperties(sj, &typ, &answers.cycle, &status);
    object->getRt_JobID(cycle, 0, &answers.rt, &status);
    UniqueVariant table;
    object->GetIVarLookupTbl(answers.cj, kTyp, table.get(), &result);
    return answers;
}

// One client's calls: add a single job on its own cycle (a new CJ), join it, ask about it, and
// cancel it (the unconfirmed CJ goes with it), which leaves the table as it was.
void ClientCycle(IMC_CollectionJobSymAcc* object, LONG cycle, ULONG sj, const VARIANT& names) {
    AddAndJoin(object, cycle, sj, names);
    Answers answers = Ask(object, cycle, sj);
    CJAsyncRQRecordHolder record;
    ULONG actions = 0, status = 0;
    object->cancelASynch(sj, &answers.cj, record.get(), &actions, &status);
    if (answers.cycle != cycle || (actions & CJ_CANCEL_CJ_REMOVED) == 0) {
        std::abort();  // the cycle did not run as measured
    }
}

void BM_RegistryCalls(benchmark::State& state) {
    Prepare();
    const ComPtr<IMC_CollectionJobSymAcc> object = NewTable(static_cast<int>(state.range(0)));
    const UniqueVariant names = OneName(1);
    ULONG sj = kFirstClientSJ;
    bench::LoopClock clock;
    for (auto _ : state) {
        ClientCycle(object.get(), 7, sj++, *names.get());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.range(0) == 1) {
        bench::RecordBaseline("registry_calls", clock, state);
    } else {
        bench::ReportRatio("registry_calls", clock, state);
    }
}
// The 1-CJ case first: the others divide by it.
BENCHMARK(BM_RegistryCalls)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Queries only, about the table's own jobs in turn: the lookups without the cost of a cancel's
// callback revocations.
void BM_RegistryQueries(benchmark::State& state) {
    Prepare();
    const int cjs = static_cast<int>(state.range(0));
    const ComPtr<IMC_CollectionJobSymAcc> object = NewTable(cjs);
    int k = 0;
    bench::LoopClock clock;
    for (auto _ : state) {
        const LONG cycle = kFirstTableCycle + k;
        const ULONG sj = kFirstTableSJ + static_cast<ULONG>(k * kSJsPerCJ + kSJsPerCJ / 2);
        const Answers answers = Ask(object.get(), cycle, sj);
        if (answers.cycle != cycle || answers.rt != 0x5000u + static_cast<ULONG>(k)) {
            std::abort();
        }
        k = (k + 1) % cjs;
    }
    state.SetItemsProcessed(state.iterations());
    if (cjs == 1) {
        bench::RecordBaseline("registry_queries", clock, state);
    } else {
        bench::ReportRatio("registry_queries", clock, state);
    }
}
BENCHMARK(BM_RegistryQueries)->Arg(1)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Threads share one component with 100 CJs; each thread has a cycle of its own. Aggregate
// throughput is wall-clock: thread 0 times from the start barrier to the end barrier.
ComPtr<IMC_CollectionJobSymAcc> g_shared;
std::chrono::steady_clock::time_point g_start;
std::atomic<ULONG> g_nextSJ{kFirstClientSJ};
double g_oneThreadNanosPerCall = 0.0;

void BM_RegistryCallsThreads(benchmark::State& state) {
    Prepare();
    if (state.thread_index() == 0) {
        g_shared = NewTable(100);
    }
    const UniqueVariant names = OneName(2 + state.thread_index());
    const LONG cycle = 10 + state.thread_index();
    bool first = true;
    for (auto _ : state) {
        if (first && state.thread_index() == 0) {
            g_start = std::chrono::steady_clock::now();
        }
        first = false;
        ClientCycle(g_shared.get(), cycle, g_nextSJ++, *names.get());
    }
    state.SetItemsProcessed(state.iterations());
    if (state.thread_index() != 0) {
        return;
    }
    // After the loop's end barrier: every thread is done.
    const double wall =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - g_start)
            .count();
    const double perCall =
        wall / static_cast<double>(state.iterations() * static_cast<uint64_t>(state.threads()));
    if (state.threads() == 1) {
        g_oneThreadNanosPerCall = perCall;
    } else if (g_oneThreadNanosPerCall > 0.0) {
        // Cost per call against one thread; aggregate throughput is its inverse.
        state.counters["ratio"] = perCall / g_oneThreadNanosPerCall;
        state.counters["throughput"] = g_oneThreadNanosPerCall / perCall;
    }
    g_shared.reset();
}
BENCHMARK(BM_RegistryCallsThreads)
    ->Threads(1)
    ->Threads(8)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
