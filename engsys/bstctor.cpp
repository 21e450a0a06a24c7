// The construction/destruction trace stand-in (bstctor.dll): writes each text as a line to the
// trace sink and keeps a count and the last text for tests.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <type_traits>

#include "common.h"

namespace {

std::atomic<DWORD> g_count{0};
std::mutex g_lock;
// Fixed storage: texts may arrive from exit-time destructors, after this module's own.
char g_last[512];

}  // namespace

PLATFORM_EXPORT void WINAPI tuTraceCTORDTOR(const char* text) {
    const char* t = text != nullptr ? text : "";
    {
        std::lock_guard<std::mutex> guard(g_lock);
        std::snprintf(g_last, sizeof g_last, "%s", t);
        ++g_count;
    }
    engsys::Sink::configured().write(engsys::line_start() + " ctor-dtor: " + t);
}

PLATFORM_EXPORT DWORD WINAPI bstctor_Count(void) {
    return g_count;
}

// Valid until the next text arrives.
PLATFORM_EXPORT const char* WINAPI bstctor_Last(void) {
    return g_last;
}

static_assert(std::is_same<decltype(&tuTraceCTORDTOR), engsys::TraceCtorDtorFn>::value, "");
static_assert(std::is_same<decltype(&bstctor_Count), engsys::CtorCountFn>::value, "");
static_assert(std::is_same<decltype(&bstctor_Last), engsys::CtorLastFn>::value, "");
