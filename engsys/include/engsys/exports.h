// Entry points of the engineering system's stand-in libraries as a loader sees them
// (LoadLibrary, GetProcAddress); the stand-ins check their definitions against these types.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/winapi.h"

namespace engsys {

// bsttrace.dll
typedef BOOL(WINAPI* TraceInit2Fn)(DWORD reserved1, DWORD reserved2, DWORD* phTrace,
                                   DWORD reserved3);
typedef BOOL(WINAPI* IsTraceReleased2Fn)(DWORD hTrace, DWORD component, DWORD subComponent,
                                         int level);
typedef void(WINAPI* VTraceMsg2Fn)(DWORD hTrace, DWORD component, DWORD subComponent, int level,
                                   const char* header, const char* format, va_list args);
typedef BOOL(WINAPI* TraceDeInit2Fn)(DWORD* phTrace);
typedef void(WINAPI* TraceProcessDetachFn)(void);
typedef void(WINAPI* TraceMsgSilentFn)(const void* record);
// Sees every message; text is the expanded message, or the format of a silent record.
typedef void(WINAPI* BstTraceCaptureFn)(void* context, DWORD component, DWORD subComponent,
                                        int level, const char* header, const char* format,
                                        const char* text, BOOL silent);
typedef void(WINAPI* TraceSetCaptureFn)(BstTraceCaptureFn fn, void* context);
typedef void(WINAPI* TraceSetLevelsFn)(DWORD component, DWORD subComponent, DWORD levelMask);
typedef void(WINAPI* TraceResetLevelsFn)(void);
typedef DWORD(WINAPI* TraceInitCountFn)(void);

// Levels on when the settings name none: errors (level 4) only.
constexpr DWORD kDefaultTraceLevels = 1u << 4;

// What TraceMsgSilent reads; the text fields are cut to size and lack a terminator when full.
#pragma pack(push, 1)
struct SilentTraceRecord {
    int32_t level;
    int32_t line;
    char file[100];
    char function[50];
    char format[100];
};
#pragma pack(pop)
static_assert(sizeof(SilentTraceRecord) == 258, "packed silent-trace record");

// bsttool.dll (the C++ part is btl/settings.h)
typedef LPCWSTR(WINAPI* SettingsRootFn)(void);
typedef LONG(WINAPI* SettingGetValueFn)(const int* location, const int* base, LPCWSTR name,
                                        DWORD* value);
typedef LONG(WINAPI* SettingGetStringFn)(const int* location, const int* base, LPCWSTR name,
                                         LPWSTR buffer, DWORD* chars);
// For the tools and tests of this build: a DWORD that the reads of this process get at that
// address instead of the registry's (value null removes it). Nothing is written anywhere, so
// nothing outlives the process. Results as BTL_SettingGetValue's.
typedef LONG(WINAPI* SettingOverrideFn)(const int* location, const int* base, LPCWSTR name,
                                        const DWORD* value);

// bstctor.dll
typedef void(WINAPI* TraceCtorDtorFn)(const char* text);
typedef DWORD(WINAPI* CtorCountFn)(void);
typedef const char*(WINAPI* CtorLastFn)(void);

// bstdiag.dll
typedef void(WINAPI* DiagnosticsReportFn)(void);
typedef DWORD(WINAPI* DiagReportCountFn)(void);

// bstmem.dll
typedef void*(WINAPI* HeapAllocFn)(size_t bytes);
typedef void(WINAPI* HeapFreeFn)(void* block, size_t bytes);
typedef LONGLONG(WINAPI* MemCounterFn)(void);

}  // namespace engsys
