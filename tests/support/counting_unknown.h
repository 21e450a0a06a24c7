// A COM object that counts its references, for tests that check AddRef/Release balance.
#pragma once

#include <atomic>

#include "platform/winapi.h"

namespace testing_support {

class CountingUnknown : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    // Stack-allocated in tests: reaching zero does not delete.
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }

    ULONG refs() const { return m_refs; }

  private:
    std::atomic<ULONG> m_refs{1};
};

}  // namespace testing_support
