// Modules, last error, message texts and string conversion for non-Windows builds.
// A Windows module name maps to a shared library: "bsttrace.dll" is "libbsttrace.so", looked
// up beside the loading module, beside the program, then on the usual library path.
#pragma once

#include <cstdarg>

#include "platform/nonwin/basetypes.h"
#include "platform/nonwin/winerror.h"

struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void* HLOCAL;
typedef INT_PTR(WINAPI* FARPROC)();

#define MAX_PATH 260

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_NEUTRAL 0x00
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define CP_ACP 0
#define CP_UTF8 65001

WINBASEAPI HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
WINBASEAPI HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// Why the last LoadLibrary of this thread failed, in the loader's words (empty after success):
// the last error code alone cannot tell a missing file from one with a missing symbol.
PLATFORM_API const char* PlatformLastLoadError();
WINBASEAPI FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
WINBASEAPI BOOL FreeLibrary(HMODULE hLibModule);
WINBASEAPI HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
WINBASEAPI HMODULE GetModuleHandleA(LPCSTR lpModuleName);
WINBASEAPI BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
WINBASEAPI BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
WINBASEAPI DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
WINBASEAPI DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// Linux delivers no thread notifications to libraries, so there is nothing to switch off.
WINBASEAPI BOOL DisableThreadLibraryCalls(HMODULE hLibModule);

WINBASEAPI DWORD GetLastError(void);
WINBASEAPI void SetLastError(DWORD dwErrCode);

WINBASEAPI HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
WINBASEAPI HLOCAL LocalFree(HLOCAL hMem);

// FORMAT_MESSAGE_FROM_SYSTEM only: the system texts of the HRESULTs and Win32 errors that
// COM and OLE Automation answer with.
WINBASEAPI DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                DWORD dwLanguageId, LPWSTR lpBuffer, DWORD nSize,
                                va_list* Arguments);
WINBASEAPI DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                va_list* Arguments);

// The narrow code page is UTF-8 here (CP_ACP and CP_UTF8 alike).
WINBASEAPI int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                   int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar);
WINBASEAPI int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                   int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                   LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);
