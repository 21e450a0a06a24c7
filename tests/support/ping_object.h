// A client-side callback double: a custom interface on an object that counts its references
// and, like real free-threaded clients, can aggregate the free-threaded marshaler.
#pragma once

#include <atomic>

#include "platform/com_ptr.h"
#include "platform/winapi.h"

struct ICjTestPing : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Ping(LONG* value) = 0;
};
PLATFORM_DEFINE_GUID(IID_ICjTestPing, 0x6F1D2C4B, 0x2E0A, 0x4C55, 0x9B, 0x61, 0x3A, 0x70, 0x11,
                     0xC2, 0x5E, 0x90);
PLATFORM_INTERFACE_ID(ICjTestPing, IID_ICjTestPing);

namespace testing_support {

class PingObject : public ICjTestPing {
  public:
    explicit PingObject(bool freeThreaded, LONG value = 7) : m_value(value) {
        if (freeThreaded) {
            // Aggregation: the marshaler keeps our pointer without a reference.
            CoCreateFreeThreadedMarshaler(static_cast<IUnknown*>(this), &m_ftm);
        }
    }
    PingObject(const PingObject&) = delete;
    PingObject& operator=(const PingObject&) = delete;
    virtual ~PingObject() {
        if (m_ftm != nullptr) {
            m_ftm->Release();
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ICjTestPing)) {
            *ppv = static_cast<ICjTestPing*>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IMarshal) && m_ftm != nullptr) {
            return m_ftm->QueryInterface(riid, ppv);
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    // Owned by the test: reaching zero does not delete.
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    HRESULT STDMETHODCALLTYPE Ping(LONG* value) override {
        *value = m_value;
        return S_OK;
    }

    ULONG refs() const { return m_refs; }

  private:
    std::atomic<ULONG> m_refs{1};
    IUnknown* m_ftm = nullptr;
    LONG m_value;
};

// The same interface through another pointer: true when both name one object.
inline bool same_object(IUnknown* a, IUnknown* b) {
    platform::ComPtr<IUnknown> ua, ub;
    return a != nullptr && b != nullptr && SUCCEEDED(platform::ComPtr<IUnknown>(a).query(ua)) &&
           SUCCEEDED(platform::ComPtr<IUnknown>(b).query(ub)) && ua == ub;
}

}  // namespace testing_support
