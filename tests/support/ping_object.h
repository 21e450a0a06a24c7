// A client-side callback double: a custom interface on an object that counts its references
// and, like real free-threaded clients, can aggregate the free-threaded marshaler.
#pragma once

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/winapi.h"

struct ICjTestPing : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Ping(LONG* value) = 0;
};
PLATFORM_DEFINE_GUID(IID_ICjTestPing, 0x6F1D2C4B, 0x2E0A, 0x4C55, 0x9B, 0x61, 0x3A, 0x70, 0x11,
                     0xC2, 0x5E, 0x90);
PLATFORM_INTERFACE_ID(ICjTestPing, IID_ICjTestPing);

namespace testing_support {

// Owned by the test: reaching zero does not delete.
class PingObject : public platform::ComObject<PingObject, platform::CallerOwned, ICjTestPing> {
  public:
    explicit PingObject(bool freeThreaded, LONG value = 7) : m_value(value) {
        if (freeThreaded) {
            AggregateFreeThreadedMarshaler();
        }
    }

    HRESULT STDMETHODCALLTYPE Ping(LONG* value) override {
        *value = m_value;
        return S_OK;
    }

  private:
    LONG m_value;
};

// The same interface through another pointer: true when both name one object.
inline bool same_object(IUnknown* a, IUnknown* b) {
    platform::ComPtr<IUnknown> ua, ub;
    return a != nullptr && b != nullptr && SUCCEEDED(platform::ComPtr<IUnknown>(a).query(ua)) &&
           SUCCEEDED(platform::ComPtr<IUnknown>(b).query(ub)) && ua == ub;
}

}  // namespace testing_support
