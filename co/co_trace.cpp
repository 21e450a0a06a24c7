// Trace binding: tracers per (component, sub-component) bound to bsttrace.dll, switches read
// through bsttool.dll, the construction trace through bstctor.dll and the diagnostics report
// through bstdiag.dll.
#include "co/co_trace.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "co/co_settings.h"
#include "platform/module.h"

namespace {

using platform::proc_address;
using platform::UniqueModule;

typedef BOOL(WINAPI* Init2Fn)(DWORD, DWORD, DWORD*, DWORD);
typedef void(WINAPI* VTraceMsg2Fn)(DWORD, DWORD, DWORD, int, const char*, const char*, va_list);
typedef BOOL(WINAPI* IsTraceReleased2Fn)(DWORD, DWORD, DWORD, int);
typedef BOOL(WINAPI* DeInit2Fn)(DWORD*);
typedef void(WINAPI* ProcessDetachFn)();
typedef void(WINAPI* TraceMsgSilentFn)(const void*);
typedef LONG(WINAPI* SettingGetValueFn)(const int*, const int*, LPCWSTR, DWORD*);
typedef void(WINAPI* TraceCtorDtorFn)(const char*);
typedef void(WINAPI* DiagnosticsReportFn)();

constexpr DWORD kComponent = 1;
constexpr DWORD kGeneral = 1;
constexpr DWORD kCtorDtorGate = 23;

#pragma pack(push, 1)
struct SilentTraceRecord {
    int32_t level;
    int32_t line;
    char file[100];
    char function[50];
    char format[100];
};
#pragma pack(pop)
static_assert(sizeof(SilentTraceRecord) == 258, "silent-trace record is packed");

// Copies at most n bytes, like the fixed fields of the silent record expect (no terminator
// when the text fills the field).
void copy_field(char* dst, const char* src, size_t n) {
    std::memset(dst, 0, n);
    if (src != nullptr) {
        std::memcpy(dst, src, strnlen(src, n));
    }
}

class CCoTracer {
  public:
    CCoTracer(DWORD component, DWORD sub) noexcept : m_component(component), m_sub(sub) {
        m_module[0] = 0;
        m_library.reset(LoadLibraryA("bsttrace.dll"));
        if (m_library) {
            auto init = proc_address<Init2Fn>(m_library.get(), "traceapi_Init2");
            if (init != nullptr && init(0, 0, &m_handle, 0) != 0) {
                m_vtraceMsg2 = proc_address<VTraceMsg2Fn>(m_library.get(), "VTraceMsg2");
                m_isTraceReleased2 =
                    proc_address<IsTraceReleased2Fn>(m_library.get(), "IsTraceReleased2");
                m_deInit2 = proc_address<DeInit2Fn>(m_library.get(), "traceapi_DeInit2");
                m_processDetach =
                    proc_address<ProcessDetachFn>(m_library.get(), "traceapi_ProcessDetach");
                m_traceMsgSilent =
                    proc_address<TraceMsgSilentFn>(m_library.get(), "TraceMsgSilent");
                m_loaded = true;
            }
        }
        if (!m_loaded) {
            return;  // silent: switches stay off and are never read
        }
        ReadModuleName();
        ReadSwitches();
    }

    ~CCoTracer() {
        if (m_loaded && m_deInit2 != nullptr && m_deInit2(&m_handle) == 0) {
            OutputDebugStringA("warning: calling traceapi_DeInit2 failed\n");
        }
        if (GetModuleHandleA("bsttrace.dll") == nullptr) {
            (void)m_library.release();  // unloaded already (at process exit): nothing to free
        }
    }

    CCoTracer(const CCoTracer&) = delete;
    CCoTracer& operator=(const CCoTracer&) = delete;

    DWORD component() const { return m_component; }
    DWORD sub() const { return m_sub; }
    bool debug() const { return m_debugTrace; }

    bool Released(int level) const {
        return m_isTraceReleased2 != nullptr &&
               m_isTraceReleased2(m_handle, m_component, m_sub, level) != 0;
    }

    void Write(char* header, int level, int line, const char* file, const char* function,
               const char* format, va_list args) const {
        if (m_vtraceMsg2 != nullptr && Released(level)) {
            std::snprintf(header, 512, "%s [%s (%d), module: %s, thread: 0x%X]",
                          function != nullptr ? function : "", file != nullptr ? file : "", line,
                          m_module, static_cast<unsigned int>(GetCurrentThreadId()));
            m_vtraceMsg2(m_handle, m_component, m_sub, level, header, format, args);
        } else if (m_silentTrace && m_traceMsgSilent != nullptr) {
            SilentTraceRecord record;
            record.level = level;
            record.line = line;
            copy_field(record.file, file, sizeof record.file);
            copy_field(record.function, function, sizeof record.function);
            copy_field(record.format, format, sizeof record.format);
            m_traceMsgSilent(&record);
        }
    }

  private:
    // The name and extension of the module that holds this code.
    void ReadModuleName() {
        HMODULE self = nullptr;
        char path[MAX_PATH + 1] = {};
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(&CoTraceDebugEnabled), &self) ||
            GetModuleFileNameA(self, path, MAX_PATH) == 0) {
            return;
        }
        path[MAX_PATH] = 0;
        const char* name = path;
        for (const char* p = path; *p != 0; ++p) {
            if (*p == '\\' || *p == '/') {
                name = p + 1;
            }
        }
        std::snprintf(m_module, sizeof m_module, "%s", name);
    }

    void ReadSwitches() {
        const CoTraceSwitches switches = CoReadTraceSwitches(m_component, m_sub);
        m_silentTrace = switches.silent;
        m_debugTrace = switches.debug;
    }

    DWORD m_component;
    DWORD m_sub;
    DWORD m_handle = 0;
    bool m_loaded = false;
    bool m_debugTrace = false;
    bool m_silentTrace = false;
    char m_module[MAX_PATH + 1];
    UniqueModule m_library;
    VTraceMsg2Fn m_vtraceMsg2 = nullptr;
    IsTraceReleased2Fn m_isTraceReleased2 = nullptr;
    DeInit2Fn m_deInit2 = nullptr;
    ProcessDetachFn m_processDetach = nullptr;
    TraceMsgSilentFn m_traceMsgSilent = nullptr;
};

// The process's tracers, made on first use (safe when threads race for it) and destroyed at
// exit in reverse order of creation. Once made, a tracer is found without the lock: every trace
// call asks for one, from every client thread.
class CCoTracerSet {
  public:
    ~CCoTracerSet() {
        while (!m_tracers.empty()) {
            m_tracers.pop_back();
        }
    }
    const CCoTracer& Get(DWORD component, DWORD sub) {
        // A slot is written once, before the count that publishes it.
        const size_t published = m_published.load(std::memory_order_acquire);
        for (size_t i = 0; i < published; ++i) {
            const CCoTracer* t = m_slots[i];
            if (t->component() == component && t->sub() == sub) {
                return *t;
            }
        }
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& t : m_tracers) {
            if (t->component() == component && t->sub() == sub) {
                return *t;
            }
        }
        m_tracers.push_back(std::make_unique<CCoTracer>(component, sub));
        const CCoTracer* made = m_tracers.back().get();
        const size_t count = m_published.load(std::memory_order_relaxed);
        if (count < m_slots.size()) {
            m_slots[count] = made;
            m_published.store(count + 1, std::memory_order_release);
        }
        return *made;
    }

  private:
    std::mutex m_lock;
    std::vector<std::unique_ptr<CCoTracer>> m_tracers;
    // The component uses two tracers; any beyond the slots are still found under the lock.
    std::array<const CCoTracer*, 8> m_slots{};
    std::atomic<size_t> m_published{0};
};

CCoTracerSet& tracers() {
    static CCoTracerSet set;
    return set;
}

// "debug-trace\" followed by the number in lower-case hex without leading zeros.
void format_debug_key(OLECHAR* out, DWORD number) {
    char narrow[64];
    std::snprintf(narrow, sizeof narrow, "debug-trace\\%lx", static_cast<unsigned long>(number));
    size_t i = 0;
    for (; narrow[i] != 0; ++i) {
        out[i] = static_cast<OLECHAR>(narrow[i]);
    }
    out[i] = 0;
}

}  // namespace

CoTraceSwitches CoReadTraceSwitches(DWORD component, DWORD sub) noexcept {
    CoTraceSwitches switches;
    try {
        platform::UniqueModule tool(LoadLibraryA("bsttool.dll"));
        if (!tool) {
            return switches;
        }
        auto getValue = proc_address<SettingGetValueFn>(tool.get(), "BTL_SettingGetValue");
        if (getValue == nullptr) {
            return switches;
        }
        const int location = 18;
        const int base = 1;
        DWORD value = 0;
        if (getValue(&location, &base, OLESTR("silent-trace"), &value) == 0 && value != 0) {
            switches.silent = true;
        }
        OLECHAR keyA[64];
        OLECHAR keyB[64];
        format_debug_key(keyA, (component << 16) | sub);
        format_debug_key(keyB, component << 16);
        value = 0;
        if (getValue(&location, &base, keyA, &value) == 0 ||
            getValue(&location, &base, keyB, &value) == 0) {
            switches.debug = value != 0;
        }
    } catch (...) {
    }
    return switches;
}

CCoTrace::CCoTrace(const char* file, const char* function) noexcept
    : m_level(-1), m_line(-1), m_file(file), m_function(function) {
    m_buf[0] = 0;
}

void CCoTrace::Msg(int level, int line, const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    VMsg(level, line, format, args);
    va_end(args);
}

void CCoTrace::VMsg(int level, int line, const char* format, va_list args) noexcept {
    try {
        m_level = level;
        m_line = line;
        tracers()
            .Get(kComponent, kGeneral)
            .Write(m_buf, m_level, m_line, m_file, m_function, format, args);
    } catch (...) {
        // Trace never fails an operation.
    }
}

bool CoTraceLevelEnabled(int level) noexcept {
    try {
        return tracers().Get(kComponent, kGeneral).Released(level);
    } catch (...) {
        return false;
    }
}

bool CoTraceDebugEnabled() noexcept {
    try {
        return tracers().Get(kComponent, kGeneral).debug();
    } catch (...) {
        return false;
    }
}

void CoDiagnosticsReport() noexcept {
    try {
        // Kept loaded: a report may be asked for again, and unloading during an error path
        // buys nothing.
        HMODULE diag = LoadLibraryA("bstdiag.dll");
        if (diag == nullptr) {
            return;
        }
        auto report = proc_address<DiagnosticsReportFn>(diag, "Do_DiagnosticsReport");
        if (report != nullptr) {
            report();
        }
    } catch (...) {
    }
}

CCoHResultText::CCoHResultText(HRESULT hr) noexcept {
    m_text[0] = 0;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr),
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), m_text, sizeof m_text, nullptr);
    if (n > 0) {
        size_t len = std::strlen(m_text);
        while (len > 0 && (m_text[len - 1] == '\n' || m_text[len - 1] == '\r')) {
            m_text[--len] = 0;
        }
        return;
    }
    const auto code = static_cast<unsigned long>(static_cast<DWORD>(hr));
    if (code > 0x80040200ul && code <= 0x8004FFFFul) {
        std::snprintf(m_text, sizeof m_text, "IDispatch error #%d",
                      static_cast<int>(code - 0x80040200ul));
    } else {
        std::snprintf(m_text, 32, "Unknown error 0x%0lX", code);
    }
}

CCoCtorDtorTrace::CCoCtorDtorTrace(const char* className) noexcept {
    try {
        if (className != nullptr) {
            m_classNameSize = std::strlen(className) + 1;
            m_className = static_cast<char*>(CoStringAlloc(m_classNameSize));
            if (m_className != nullptr) {
                std::memcpy(m_className, className, m_classNameSize);
            }
        }
        if (!tracers().Get(kComponent, kCtorDtorGate).Released(TRACE_CTORDTOR_GATE)) {
            return;
        }
        m_library.reset(LoadLibraryA("bstctor.dll"));
        if (m_library) {
            m_emit = platform::proc_address<TraceCtorDtorFn>(m_library.get(), "tuTraceCTORDTOR");
            Emit("CTOR");
        }
    } catch (...) {
    }
}

CCoCtorDtorTrace::~CCoCtorDtorTrace() {
    if (m_library) {
        Emit("DTOR");
    }
    if (m_className != nullptr) {
        CoStringFree(m_className, m_classNameSize);
    }
}

void CCoCtorDtorTrace::Emit(const char* word) noexcept {
    if (m_emit == nullptr) {
        return;
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s %s (0x%p)", word,
                  m_className != nullptr ? m_className : "", static_cast<const void*>(this));
    m_emit(text);
}
