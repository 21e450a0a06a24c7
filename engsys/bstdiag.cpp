// The diagnostics library stand-in (bstdiag.dll): counts reports and writes a line for each to
// the trace sink.
#include <atomic>
#include <cstdio>
#include <type_traits>

#include "common.h"

namespace {

std::atomic<DWORD> g_reports{0};

}  // namespace

PLATFORM_EXPORT void WINAPI Do_DiagnosticsReport(void) {
    const DWORD number = ++g_reports;
    char text[96];
    std::snprintf(text, sizeof text, " diagnostics report #%lu (process 0x%lX)",
                  static_cast<unsigned long>(number),
                  static_cast<unsigned long>(GetCurrentProcessId()));
    engsys::Sink::configured().write(engsys::line_start() + text);
}

PLATFORM_EXPORT DWORD WINAPI bstdiag_ReportCount(void) {
    return g_reports;
}

static_assert(std::is_same<decltype(&Do_DiagnosticsReport), engsys::DiagnosticsReportFn>::value,
              "");
static_assert(std::is_same<decltype(&bstdiag_ReportCount), engsys::DiagReportCountFn>::value, "");
