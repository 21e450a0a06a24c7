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

#ifdef UNICODE
#define OutputDebugString OutputDebugStringW
#else
#define OutputDebugString OutputDebugStringA
#endif

#endif

// Defines a GUID constant in a header, identically on every platform (no __uuidof, no INITGUID).
#define PLATFORM_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
