// Without the trace library beside the program, tracing writes nothing, reads no switch and
// never fails.
#include <gtest/gtest.h>

#include "co/co_trace.h"

namespace {

TEST(CoNoTraceLibraryTest, TracingIsSilentAndHarmless) {
    CO_TRACE_SCOPE(trace, "co/notrace_test", "NoTrace::Run");
    for (int level : {TRACE_INFO, TRACE_WARNING, TRACE_ERROR, TRACE_CONSTRUCTION}) {
        CO_TRACE(trace, level, "message %d", level);
    }
    { CCoCtorDtorTrace ctorDtor("CCollectionJobSymAcc"); }
    CoDiagnosticsReport();
    EXPECT_FALSE(CoTraceDebugEnabled());
    EXPECT_EQ(GetModuleHandleA("bsttrace.dll"), nullptr);
    EXPECT_EQ(GetModuleHandleA("bstctor.dll"), nullptr);
}

}  // namespace
