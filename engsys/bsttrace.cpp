// The trace library stand-in (bsttrace.dll): handles, level gates from the settings or set at
// run time, readable lines to the configured sink, and a capture hook for tests and tools.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

#include "common.h"

namespace {

using Pair = std::pair<DWORD, DWORD>;

// False before construction and after destruction of the state: on Windows the component's
// tracers call traceapi_DeInit2 from exit-time destructors that may run after this DLL's.
std::atomic<bool> g_alive{false};
std::atomic<DWORD> g_initCount{0};

struct State {
    State() { g_alive = true; }
    ~State() { g_alive = false; }

    // Recursive: a capture may call back into the library.
    std::recursive_mutex lock;
    std::set<DWORD> handles;
    DWORD lastHandle = 0x7100;
    std::map<Pair, DWORD> runtimeLevels;
    // Read from the settings since the last traceapi_Init2.
    std::map<Pair, DWORD> settingLevels;
    unsigned generation = 0;
    bool sinkConfigured = false;
    engsys::Sink sink;
    engsys::BstTraceCaptureFn capture = nullptr;
    void* captureContext = nullptr;
};

State g_state;

using Guard = std::lock_guard<std::recursive_mutex>;

// "trace-levels\<n>", n in lower-case hex as the component names its switches.
DWORD levels_from_settings(DWORD component, DWORD subComponent) {
    const engsys::StandInSettings settings;
    for (const DWORD number : {(component << 16) | subComponent, component << 16}) {
        char name[40];
        std::snprintf(name, sizeof name, "trace-levels\\%lx", static_cast<unsigned long>(number));
        OLECHAR wide[40];
        size_t i = 0;
        for (; name[i] != 0; ++i) {
            wide[i] = static_cast<OLECHAR>(name[i]);
        }
        wide[i] = 0;
        DWORD mask = 0;
        if (settings.dword(wide, mask)) {
            return mask;
        }
    }
    return engsys::kDefaultTraceLevels;
}

bool level_on(DWORD mask, int level) {
    return level >= 0 && level < 32 && ((mask >> level) & 1u) != 0;
}

// Writes under the lock; the sink is configured on first use after traceapi_Init2.
void emit(const std::string& line) {
    if (!g_state.sinkConfigured) {
        g_state.sink = engsys::Sink::configured();
        g_state.sinkConfigured = true;
    }
    g_state.sink.write(line);
}

std::string expand(const char* format, va_list args) PLATFORM_PRINTF_FORMAT(1, 0);
std::string expand(const char* format, va_list args) {
    if (format == nullptr) {
        return std::string();
    }
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        return format;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        return std::string(small, static_cast<size_t>(n));
    }
    std::string text(static_cast<size_t>(n) + 1, '\0');
    va_copy(copy, args);
    std::vsnprintf(&text[0], text.size(), format, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(n));
    return text;
}

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// A fixed field of the silent record: up to its size, stopping early at a terminator.
template <size_t N>
std::string field(const char (&text)[N]) {
    size_t n = 0;
    while (n < N && text[n] != 0) {
        ++n;
    }
    return std::string(text, n);
}

}  // namespace

PLATFORM_EXPORT void WINAPI VTraceMsg2(DWORD hTrace, DWORD component, DWORD subComponent, int level,
                                       const char* header, const char* format, va_list args)
    PLATFORM_PRINTF_FORMAT(6, 0);

PLATFORM_EXPORT BOOL WINAPI traceapi_Init2(DWORD, DWORD, DWORD* phTrace, DWORD) {
    if (phTrace == nullptr || !g_alive) {
        return FALSE;
    }
    Guard guard(g_state.lock);
    DWORD handle = g_state.lastHandle + 1;
    while (handle == 0 || g_state.handles.count(handle) != 0) {
        ++handle;
    }
    g_state.lastHandle = handle;
    g_state.handles.insert(handle);
    // Settings are read again, each on first use.
    g_state.settingLevels.clear();
    ++g_state.generation;
    g_state.sink.close();
    g_state.sinkConfigured = false;
    *phTrace = handle;
    ++g_initCount;
    return TRUE;
}

PLATFORM_EXPORT BOOL WINAPI traceapi_DeInit2(DWORD* phTrace) {
    if (phTrace == nullptr) {
        return FALSE;
    }
    if (!g_alive) {
        return TRUE;  // already torn down with the library
    }
    Guard guard(g_state.lock);
    if (g_state.handles.erase(*phTrace) == 0) {
        return FALSE;
    }
    *phTrace = 0;
    if (g_state.handles.empty()) {
        g_state.sink.close();
    }
    return TRUE;
}

PLATFORM_EXPORT void WINAPI traceapi_ProcessDetach(void) {
    if (!g_alive) {
        return;
    }
    Guard guard(g_state.lock);
    g_state.handles.clear();
    g_state.settingLevels.clear();
    ++g_state.generation;
    g_state.sink.close();
    g_state.sinkConfigured = false;
}

PLATFORM_EXPORT BOOL WINAPI IsTraceReleased2(DWORD hTrace, DWORD component, DWORD subComponent,
                                             int level) {
    if (!g_alive) {
        return FALSE;
    }
    const Pair pair(component, subComponent);
    unsigned generation = 0;
    {
        Guard guard(g_state.lock);
        if (g_state.handles.count(hTrace) == 0) {
            return FALSE;
        }
        const auto runtime = g_state.runtimeLevels.find(pair);
        if (runtime != g_state.runtimeLevels.end()) {
            return level_on(runtime->second, level) ? TRUE : FALSE;
        }
        const auto configured = g_state.settingLevels.find(pair);
        if (configured != g_state.settingLevels.end()) {
            return level_on(configured->second, level) ? TRUE : FALSE;
        }
        generation = g_state.generation;
    }
    // Outside the lock: reading loads the settings library.
    const DWORD mask = levels_from_settings(component, subComponent);
    Guard guard(g_state.lock);
    if (generation == g_state.generation) {
        g_state.settingLevels.emplace(pair, mask);
    }
    return level_on(mask, level) ? TRUE : FALSE;
}

void WINAPI VTraceMsg2(DWORD hTrace, DWORD component, DWORD subComponent, int level,
                       const char* header, const char* format, va_list args) {
    if (!g_alive) {
        return;
    }
    const std::string text = expand(format, args);
    const char* head = header != nullptr ? header : "";
    char tags[64];
    std::snprintf(tags, sizeof tags, " L%d C%lx.%lx ", level, static_cast<unsigned long>(component),
                  static_cast<unsigned long>(subComponent));
    const std::string line = engsys::line_start() + tags + head + ": " + without_line_end(text);
    Guard guard(g_state.lock);
    if (g_state.handles.count(hTrace) == 0) {
        return;
    }
    if (g_state.capture != nullptr) {
        g_state.capture(g_state.captureContext, component, subComponent, level, head,
                        format != nullptr ? format : "", text.c_str(), FALSE);
    }
    emit(line);
}

PLATFORM_EXPORT void WINAPI TraceMsgSilent(const void* record) {
    if (record == nullptr || !g_alive) {
        return;
    }
    engsys::SilentTraceRecord r;
    std::memcpy(&r, record, sizeof r);
    const std::string format = field(r.format);
    const std::string header =
        field(r.function) + " [" + field(r.file) + " (" + std::to_string(r.line) + ")]";
    const std::string line = engsys::line_start() + " L" + std::to_string(r.level) + " silent " +
                             header + ": " + without_line_end(format);
    Guard guard(g_state.lock);
    if (g_state.capture != nullptr) {
        g_state.capture(g_state.captureContext, 0, 0, r.level, header.c_str(), format.c_str(),
                        format.c_str(), TRUE);
    }
    emit(line);
}

PLATFORM_EXPORT void WINAPI bsttrace_SetCapture(engsys::BstTraceCaptureFn fn, void* context) {
    if (!g_alive) {
        return;
    }
    Guard guard(g_state.lock);
    g_state.capture = fn;
    g_state.captureContext = fn != nullptr ? context : nullptr;
}

PLATFORM_EXPORT void WINAPI bsttrace_SetLevels(DWORD component, DWORD subComponent,
                                               DWORD levelMask) {
    if (!g_alive) {
        return;
    }
    Guard guard(g_state.lock);
    g_state.runtimeLevels[Pair(component, subComponent)] = levelMask;
}

PLATFORM_EXPORT void WINAPI bsttrace_ResetLevels(void) {
    if (!g_alive) {
        return;
    }
    Guard guard(g_state.lock);
    g_state.runtimeLevels.clear();
}

PLATFORM_EXPORT DWORD WINAPI bsttrace_InitCount(void) {
    return g_initCount;
}

static_assert(std::is_same<decltype(&traceapi_Init2), engsys::TraceInit2Fn>::value, "");
static_assert(std::is_same<decltype(&IsTraceReleased2), engsys::IsTraceReleased2Fn>::value, "");
// Its format attribute keeps decltype from comparing; conversion checks the signature.
[[maybe_unused]] constexpr engsys::VTraceMsg2Fn kVTraceMsg2 = &VTraceMsg2;
static_assert(std::is_same<decltype(&traceapi_DeInit2), engsys::TraceDeInit2Fn>::value, "");
static_assert(std::is_same<decltype(&traceapi_ProcessDetach), engsys::TraceProcessDetachFn>::value,
              "");
static_assert(std::is_same<decltype(&TraceMsgSilent), engsys::TraceMsgSilentFn>::value, "");
static_assert(std::is_same<decltype(&bsttrace_SetCapture), engsys::TraceSetCaptureFn>::value, "");
static_assert(std::is_same<decltype(&bsttrace_SetLevels), engsys::TraceSetLevelsFn>::value, "");
static_assert(std::is_same<decltype(&bsttrace_ResetLevels), engsys::TraceResetLevelsFn>::value, "");
static_assert(std::is_same<decltype(&bsttrace_InitCount), engsys::TraceInitCountFn>::value, "");
