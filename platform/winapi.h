// The one entry header for Win32, COM and OLE Automation. On Windows it brings the SDK; on every
// other platform our own implementation of the subset the component uses, with the same names,
// types and semantics. Nothing outside platform/ tests the platform itself.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <unknwn.h>
#include <objidl.h>
#include <shlwapi.h>

// Gaps of the mingw-w64 headers against the Windows SDK.
#ifndef CHARS_IN_GUID
#define CHARS_IN_GUID 39
#endif
#ifndef FADF_CREATEVECTOR
#define FADF_CREATEVECTOR 0x2000
#endif
#ifdef __MINGW32__
// The SDK takes the source as const; mingw-w64 declares it mutable.
inline HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    return ::VariantCopy(pvargDest, const_cast<VARIANTARG*>(pvargSrc));
}
#endif

#else

#include "platform/nonwin/basetypes.h"
#include "platform/nonwin/guid.h"
#include "platform/nonwin/unknwn.h"
#include "platform/nonwin/oleauto.h"
#include "platform/nonwin/objbase.h"
#include "platform/nonwin/kernel.h"
#include "platform/nonwin/winerror.h"
#include "platform/nonwin/winreg.h"
#include "platform/nonwin/objidl.h"
#include "platform/nonwin/module.h"

#ifdef UNICODE
#define OutputDebugString OutputDebugStringW
#else
#define OutputDebugString OutputDebugStringA
#endif

#endif

// Exports a function from one of our modules (DLL or shared library) under its plain name.
#ifdef _WIN32
#define PLATFORM_EXPORT extern "C" __declspec(dllexport)
#else
#define PLATFORM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Marks a printf-style function so that -Wformat checks its callers (fmt and args are 1-based
// parameter positions; count `this` for member functions). mingw-w64's own printf family
// follows the GNU formats when it is the C++ runtime's.
#ifdef __MINGW32__
#define PLATFORM_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define PLATFORM_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Defines a GUID constant in a header, identically on every platform (no __uuidof, no INITGUID).
#define PLATFORM_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
