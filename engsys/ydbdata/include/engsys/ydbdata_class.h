// Serves the YDB data object stand-in's class in this process, so that CoCreateInstance of
// CLSID_YDB_Data finds it (COM must be initialized on the calling thread), and helpers around it;
// for tests, benchmarks and fuzz targets.
#pragma once

#include <vector>

#include "engsys/ydbdata_control.h"
#include "platform/com_ptr.h"
#include "platform/module.h"
#include "platform/raii.h"
#include "platform/winapi.h"
#include "ydb_data.h"

namespace testing_support {

class YdbDataClass {
  public:
    // Loads the stand-in module found beside the program and registers its class object.
    YdbDataClass() : m_module(LoadLibraryA("ydbdata.dll")) {
        using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        const auto get =
            platform::proc_address<GetClassObjectFn>(m_module.get(), "DllGetClassObject");
        if (get == nullptr ||
            FAILED(get(CLSID_YDB_Data, IID_IClassFactory, m_factory.put_void())) ||
            FAILED(CoRegisterClassObject(CLSID_YDB_Data, m_factory.get(), CLSCTX_INPROC_SERVER,
                                         REGCLS_MULTIPLEUSE, &m_cookie))) {
            m_factory.reset();
            return;
        }
        m_registered = true;
    }
    ~YdbDataClass() {
        if (m_registered) {
            (void)CoRevokeClassObject(m_cookie);
        }
        m_factory.reset();
        // A module whose objects are still in use stays loaded.
        using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
        const auto canUnload =
            platform::proc_address<CanUnloadFn>(m_module.get(), "DllCanUnloadNow");
        if (canUnload != nullptr && canUnload() != S_OK) {
            (void)m_module.release();
        }
    }
    YdbDataClass(const YdbDataClass&) = delete;
    YdbDataClass& operator=(const YdbDataClass&) = delete;

    bool ready() const { return m_registered; }

    // A new data object through COM activation; empty on failure.
    static platform::ComPtr<IYDB_Data> create() {
        platform::ComPtr<IYDB_Data> data;
        if (FAILED(CoCreateInstance(CLSID_YDB_Data, nullptr, CLSCTX_INPROC_SERVER, IID_IYDB_Data,
                                    data.put_void()))) {
            data.reset();
        }
        return data;
    }

    static platform::ComPtr<IYDB_DataControl> control(const platform::ComPtr<IYDB_Data>& data) {
        platform::ComPtr<IYDB_DataControl> c;
        (void)data.query(c);
        return c;
    }

  private:
    platform::UniqueModule m_module;
    platform::ComPtr<IClassFactory> m_factory;
    DWORD m_cookie = 0;
    bool m_registered = false;
};

// The whole contents of a data object.
inline std::vector<BYTE> ydb_contents(IYDB_Data* data) {
    platform::UniqueTaskMem<BYTE> buffer;
    ULONG count = 0;
    if (data == nullptr || FAILED(data->GetByteCount(&count)) ||
        FAILED(data->ReadContents(nullptr, buffer.put()))) {
        return {};
    }
    return std::vector<BYTE>(buffer.get(), buffer.get() + count);
}

// The element calls a data object received, in order.
inline std::vector<YDB_ElementCall> ydb_element_calls(const platform::ComPtr<IYDB_Data>& data) {
    std::vector<YDB_ElementCall> calls;
    const auto c = YdbDataClass::control(data);
    ULONG n = 0;
    if (c && SUCCEEDED(c->GetElementCallCount(&n))) {
        calls.resize(n);
        for (ULONG i = 0; i < n; ++i) {
            (void)c->GetElementCall(i, &calls[i]);
        }
    }
    return calls;
}

}  // namespace testing_support
