// A trace call whose level is switched off, against the one question no implementation avoids:
// the trace library's own level gate, asked through a handle held by the caller. One thread and
// eight threads, since the cost that matters is a lock shared by every client thread.
#include <benchmark/benchmark.h>

#include "bench/ratio.h"
#include "co/co_trace.h"
#include "engsys/exports.h"
#include "platform/module.h"

namespace {

constexpr DWORD kComponent = 1;
constexpr DWORD kGeneral = 1;

struct Gate {
    platform::UniqueModule library{LoadLibraryA("bsttrace.dll")};
    DWORD handle = 0;
    engsys::IsTraceReleased2Fn released = nullptr;
    Gate() {
        auto init = platform::proc_address<engsys::TraceInit2Fn>(library.get(), "traceapi_Init2");
        if (init != nullptr && init(0, 0, &handle, 0) != 0) {
            released = platform::proc_address<engsys::IsTraceReleased2Fn>(library.get(),
                                                                          "IsTraceReleased2");
        }
    }
    ~Gate() {
        auto deInit =
            platform::proc_address<engsys::TraceDeInit2Fn>(library.get(), "traceapi_DeInit2");
        if (deInit != nullptr && handle != 0) {
            deInit(&handle);
        }
    }
};

void BM_PlainLevelGate(benchmark::State& state) {
    static Gate gate;
    if (gate.released == nullptr) {
        state.SkipWithError("no trace library");
        return;
    }
    bench::LoopClock clock;
    for (auto _ : state) {
        benchmark::DoNotOptimize(gate.released(gate.handle, kComponent, kGeneral, TRACE_INFO));
    }
    bench::RecordBaseline(bench::Key("gate", state, 0) + "/" + std::to_string(state.threads()),
                          clock, state);
}

void BM_TraceSwitchedOff(benchmark::State& state) {
    CO_TRACE_SCOPE(trace, "bench/trace_bench", "BM_TraceSwitchedOff");
    int n = 0;
    bench::LoopClock clock;
    for (auto _ : state) {
        CO_TRACE(trace, TRACE_INFO, "value %d of %s", ++n, "the bench");
    }
    bench::ReportRatio(bench::Key("gate", state, 0) + "/" + std::to_string(state.threads()), clock,
                       state);
}

// Baselines first: each case divides by the figure its baseline left.
BENCHMARK(BM_PlainLevelGate)->Threads(1)->Threads(8);
BENCHMARK(BM_TraceSwitchedOff)->Threads(1)->Threads(8);

}  // namespace
