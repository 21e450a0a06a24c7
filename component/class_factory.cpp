// The cached class object: creation of plain and aggregated objects, and server locks.
#include "component/class_factory.h"

HRESULT STDMETHODCALLTYPE CCachedClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CCachedClassFactory::AddRef() {
    const ULONG refs = ++m_refs;
    if (refs == 2) {
        ComponentModule().Lock();  // the first client reference
    }
    return refs;
}

ULONG STDMETHODCALLTYPE CCachedClassFactory::Release() {
    const ULONG refs = --m_refs;
    if (refs == 1) {
        ComponentModule().Unlock();  // the last client reference
    } else if (refs == 0) {
        delete this;
    }
    return refs;
}

HRESULT STDMETHODCALLTYPE CCachedClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                                              void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
        return CLASS_E_NOAGGREGATION;
    }
    return m_pfnCreate(outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE CCachedClassFactory::LockServer(BOOL lock) {
    if (lock) {
        ComponentModule().Lock();
    } else {
        ComponentModule().Unlock();
    }
    return S_OK;
}
