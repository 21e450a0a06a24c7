// The device's instance details as scripted by a test: the value-comparison attribute and how
// its query fails.
#pragma once

#include <string>

#include "collectionjobsymacc.h"
#include "platform/com_object.h"
#include "support/wstr.h"

namespace testing_support {

// The device's instance details: answers the value-comparison attribute as scripted.
class InstDetails
    : public platform::ComObject<InstDetails, platform::CallerOwned, IMC_InstDetails> {
  public:
// clang-format off
#define RESERVED(n) HRESULT STDMETHODCALLTYPE Reserved##n() override { return E_NOTIMPL; }
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED(9)
    RESERVED(10) RESERVED(11) RESERVED(12) RESERVED(13) RESERVED(14) RESERVED(15)
#undef RESERVED
        // clang-format on
        HRESULT STDMETHODCALLTYPE
        getAttributeByTypeID(VARIANT devType, BSTR key, BSTR* pValue, ULONG* pResult) override {
        lastKey = testing_support::narrow(key);
        lastDevType = devType.vt == VT_I4 ? devType.lVal : -1;
        if (throws) {
            throw 42;
        }
        *pValue = SysAllocString(value);
        *pResult = ret;
        return hr;
    }

    const OLECHAR* value = OLESTR("YES");
    HRESULT hr = S_OK;
    ULONG ret = 0;
    bool throws = false;
    std::string lastKey;
    LONG lastDevType = 0;
};

}  // namespace testing_support
