// Interfaces of the engineering system that the component calls but does not implement: the
// device instance details and the callback table.
#pragma once

#include "platform/com_ptr.h"
#include "platform/winapi.h"

// Device instance details of another engineering-system component. Only getAttributeByTypeID
// (vtable slot 16) is called; the slots before it keep the table's shape.
struct IMC_InstDetails : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved6() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
    virtual HRESULT STDMETHODCALLTYPE getAttributeByTypeID(VARIANT devType, BSTR key, BSTR* pValue,
                                                           ULONG* pResult) = 0;
};

// {D2B9AB90-9BF8-425B-8AD4-8A84F430D54A}
PLATFORM_DEFINE_GUID(IID_IMC_InstDetails, 0xD2B9AB90, 0x9BF8, 0x425B, 0x8A, 0xD4, 0x8A, 0x84, 0xF4,
                     0x30, 0xD5, 0x4A);
PLATFORM_INTERFACE_ID(IMC_InstDetails, IID_IMC_InstDetails);

// The engineering system's callback table: the global interface table's method layout, and
// cookies that the process's system global interface table resolves and revokes too.
struct IMC_CallbackTable : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid,
                                                                DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                             void** ppv) = 0;
};

// {ECA421B1-0284-4163-A18D-47E45FED4E25}
PLATFORM_DEFINE_GUID(IID_IMC_CallbackTable, 0xECA421B1, 0x0284, 0x4163, 0xA1, 0x8D, 0x47, 0xE4,
                     0x5F, 0xED, 0x4E, 0x25);
PLATFORM_INTERFACE_ID(IMC_CallbackTable, IID_IMC_CallbackTable);

// {F7A48574-8EC8-4221-875F-18CD2F64F516}
PLATFORM_DEFINE_GUID(CLSID_MC_CallbackTable, 0xF7A48574, 0x8EC8, 0x4221, 0x87, 0x5F, 0x18, 0xCD,
                     0x2F, 0x64, 0xF5, 0x16);
