// Diagnostic trace of the component: a record per traced function, process-wide tracers bound at
// run time to the engineering system's trace library, the construction/destruction trace, the
// diagnostics report and HRESULT descriptions. Trace never fails an operation.
#pragma once

#include <cstdarg>

#include "platform/module.h"
#include "platform/winapi.h"

// Trace levels of the component.
enum CoTraceLevel : int {
    TRACE_INFO = 1,
    TRACE_WARNING = 3,
    TRACE_ERROR = 4,
    TRACE_CONSTRUCTION = 6,
    TRACE_CTORDTOR_GATE = 7,
};

// One per traced function, on its stack: knows the source file and the qualified function name
// and keeps the header text of the message being written.
class CCoTrace {
  public:
    CCoTrace(const char* file, const char* function) noexcept;
    CCoTrace(const CCoTrace&) = delete;
    CCoTrace& operator=(const CCoTrace&) = delete;

    void Msg(int level, int line, const char* format, ...) noexcept PLATFORM_PRINTF_FORMAT(4, 5);
    void VMsg(int level, int line, const char* format, va_list args) noexcept;

  private:
    char m_buf[512];
    int m_level;
    int m_line;
    const char* m_file;
    const char* m_function;
};

// Opens the trace record `scope` of a function:
// CO_TRACE_SCOPE(trace, "co/co_lock", "CCoCriticalSection::Lock"). Helpers take it as CCoTrace&.
#define CO_TRACE_SCOPE(scope, file, function) CCoTrace scope((file), (function))
// Writes one message through a function's record, with the calling line.
#define CO_TRACE(scope, level, ...) (scope).Msg((level), __LINE__, __VA_ARGS__)

// The exception boundary of an interface method, after `try { ... }` in a function that opened
// the trace scope `scope`: diagnostics report, error trace, E_FAIL.
#define CO_CATCH_RETURN_TRACED(scope)                                     \
    catch (...) {                                                         \
        CoDiagnosticsReport();                                            \
        CO_TRACE((scope), TRACE_ERROR, "caught any unhandled exception"); \
        return E_FAIL;                                                    \
    }

// True when the trace service writes `level` for the component (dumps that would cost a walk of
// the job tables ask first).
bool CoTraceLevelEnabled(int level) noexcept;

// The debug-trace switch of the general tracer (read once, when the tracer is made).
bool CoTraceDebugEnabled() noexcept;

// The two switches of a tracer as the settings hold them now: "silent-trace", and the
// debug-trace value of the (component, sub-component) key, else of the component's key.
// Each tracer reads them once, when it is made; both are off without the settings library.
struct CoTraceSwitches {
    bool silent = false;
    bool debug = false;
};
CoTraceSwitches CoReadTraceSwitches(DWORD component, DWORD sub) noexcept;

// Runs the engineering system's diagnostics report, if its library is there.
void CoDiagnosticsReport() noexcept;

// The description of an HRESULT for "hr = 0x%lX (%s)": the system's text without its line
// break, else "IDispatch error #n" or "Unknown error 0x...".
class CCoHResultText {
  public:
    explicit CCoHResultText(HRESULT hr) noexcept;
    const char* c_str() const noexcept { return m_text; }

  private:
    char m_text[256];
};

// Member of a traced class: writes "CTOR"/"DTOR" through the construction trace library when
// level 7 of the gate tracer is on.
class CCoCtorDtorTrace {
  public:
    explicit CCoCtorDtorTrace(const char* className) noexcept;
    ~CCoCtorDtorTrace();
    CCoCtorDtorTrace(const CCoCtorDtorTrace&) = delete;
    CCoCtorDtorTrace& operator=(const CCoCtorDtorTrace&) = delete;

  private:
    void Emit(const char* word) noexcept;

    char* m_className = nullptr;
    size_t m_classNameSize = 0;
    platform::UniqueModule m_library;
    void(WINAPI* m_emit)(const char*) = nullptr;
};
