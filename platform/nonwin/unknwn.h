// IUnknown and the standard interface ids, for non-Windows builds.
#pragma once

#include "platform/nonwin/guid.h"

inline constexpr IID IID_IUnknown = platform_system_guid(0x00000000);
inline constexpr IID IID_IDispatch = platform_system_guid(0x00020400);
inline constexpr IID IID_IMarshal = platform_system_guid(0x00000003);

// No virtual destructor: the vtable holds exactly the three methods, in this order, as the
// binary COM contract requires. Objects are destroyed through Release().
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

// Only referred to by pointer (VT_DISPATCH); the component never calls its own methods.
struct IDispatch;
typedef IDispatch* LPDISPATCH;
struct IRecordInfo;
