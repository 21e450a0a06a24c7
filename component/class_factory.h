// The class object of a class in the object map, cached by the module.
#pragma once

#include <atomic>

#include "component/module.h"
#include "platform/winapi.h"

// The module holds one reference to it for as long as it is loaded; only references beyond that
// one, held by clients, keep the module locked.
class CCachedClassFactory final : public IClassFactory {
  public:
    explicit CCachedClassFactory(ObjectCreatorFn create) noexcept : m_pfnCreate(create) {}
    CCachedClassFactory(const CCachedClassFactory&) = delete;
    CCachedClassFactory& operator=(const CCachedClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

  private:
    ~CCachedClassFactory() = default;

    std::atomic<ULONG> m_refs{1};  // the module's reference
    ObjectCreatorFn m_pfnCreate;
};
